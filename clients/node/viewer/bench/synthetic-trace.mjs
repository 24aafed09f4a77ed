// A made-up but lifelike trace of `lines` lines: quick status requests, generations with
// progress events that overlap, refusals, backend errors, standard-error lines, records tied to
// no request, and a shutdown whose end answers the generations still running. Seeded, so every
// run of a benchmark reads the same trace.
export function syntheticTrace(lines, seed = 1) {
  let state = seed >>> 0 || 1;
  const random = () => ((state = (Math.imul(state, 1664525) + 1013904223) >>> 0) / 2 ** 32);
  const out = [];
  let now = Date.UTC(2026, 0, 1, 9, 0, 0);
  const entry = (time, direction, text, extra) => out.push(JSON.stringify({ time: Number(time.toFixed(3)), direction, text, ...extra }));
  const send = (id, command, payload) => entry(now, "send", JSON.stringify({ id, command, ...(payload ? { payload } : {}) }));
  const answer = (time, id, result) => entry(time, "receive", JSON.stringify({ id, ok: true, result, type: "response" }));
  const error = (time, id, message) => entry(time, "receive", JSON.stringify({ error: message, id, ok: false, type: "response" }));
  const running = []; // generations: { id, steps, step, next }
  let id = 0;

  // One turn writes at most 8 progress records, their answers and 2 lines of its own; the end
  // writes 2 lines, one answer per generation still running, and the exit.
  while (out.length + 26 + running.length < lines) {
    now += random() * 4;
    for (let i = running.length - 1; i >= 0; i--) {
      const job = running[i];
      if (job.next > now) continue;
      job.step++;
      entry(job.next, "receive", JSON.stringify({ id: job.id, step: job.step, total: job.steps, type: "progress" }));
      job.next += 5 + random() * 30;
      if (job.step === job.steps) {
        answer(job.next, job.id, { text: `generated in ${job.steps} steps` });
        running.splice(i, 1);
      }
    }
    const pick = random();
    id++;
    if (pick < 0.4) {
      send(id, "status");
      answer(now + 0.2 + random() * 3, id, { state: running.length ? "generating" : "idle", uptime_s: Number((now / 1000 % 1000).toFixed(3)) });
    } else if (pick < 0.55 && running.length < 8) {
      const steps = 3 + Math.floor(random() * 18);
      send(id, "generate", { prompt: `prompt ${id}`, steps });
      running.push({ id, steps, step: 0, next: now + 5 + random() * 30 });
    } else if (pick < 0.63) {
      send(`job-${id}`, "launch_rockets");
      error(now + 0.1 + random() * 0.4, `job-${id}`, "Unknown command; use a supported Quern training or generation command");
    } else if (pick < 0.68) {
      send(id, "train", { epochs: 1 });
      error(now + 0.5 + random() * 2, id, "the backend cannot train without a dataset");
    } else if (pick < 0.9) {
      entry(now, "stderr", `[backend] step ${id}: ${"working ".repeat(1 + Math.floor(random() * 6))}`);
    } else {
      entry(now, "receive", JSON.stringify({ level: "info", message: `log line ${id}`, type: "log" }));
    }
  }
  now += 10;
  while (out.length + 3 + running.length < lines) entry(now, "stderr", "[backend] finishing");
  send(++id, "shutdown");
  answer(now + 2, id, { shutdown: true });
  for (const job of running) error(now + 3, job.id, "Python backend exited (exit code: 0)");
  entry(now + 4, "exit", "exit code 0", { code: 0, signal: null });
  // Events are stamped when they happen, not when the loop above met them.
  return out.map((line) => [JSON.parse(line).time, line]).sort((a, b) => a[0] - b[0]).map(([, line]) => line).join("\n") + "\n";
}
