// Measures the window of unanswered requests against the real runtime: bursts
// sent at once through Promise.allSettled with the window off and on (how
// many the runtime refused, whether the backend read them in order, how long
// the burst took), then what the window costs when requests run long.
// Run after `npm run build` (and `npm test` once, which builds the runtime and
// the demo project's environment):
//   node scripts/measure-window.mjs [RUNS]
import { cpus } from "node:os";

import { QuernRuntime } from "../dist/src/index.js";
import { demoProject, orderProject, runtimePath } from "../dist/test/support.js";

const runs = Number(process.argv[2] ?? 5);
const order = orderProject();
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const start = (project, maxInFlight) => QuernRuntime.start({ runtimePath, project, maxInFlight });

async function burst(project, maxInFlight, count, bytes) {
  const runtime = await start(project, maxInFlight);
  const text = "x".repeat(bytes);
  const began = performance.now();
  const settled = await Promise.allSettled(Array.from({ length: count }, () => runtime.request("status", { text })));
  const ms = performance.now() - began;
  await runtime.close();
  const refused = settled.filter((each) => each.status === "rejected").length;
  const orders = settled.filter((each) => each.status === "fulfilled").map((each) => each.value.order);
  const inOrder = orders.every((value, i) => value === undefined || i === 0 || value > orders[i - 1]);
  return { refused, inOrder, ms };
}

console.log(`${cpus().length} CPUs (${cpus()[0].model}), node ${process.version}, ${runs} runs per row`);
console.log("\nbursts through Promise.allSettled: refused (min-max), in order, ms (median)");
for (const [name, project] of [["order backend", order.project], ["demo backend", demoProject]]) {
  for (const [count, bytes] of [[1000, 100], [1000, 1024], [1000, 2048], [5000, 2048], [1000, 60_000]]) {
    for (const maxInFlight of [Infinity, 32]) {
      const results = [];
      for (let run = 0; run < runs; run += 1) results.push(await burst(project, maxInFlight, count, bytes));
      const refused = results.map((each) => each.refused);
      const inOrder = name === "demo backend" ? "-" : results.every((each) => each.inOrder) ? "yes" : "NO";
      console.log(`${name.padEnd(14)} ${String(count).padStart(5)} x ${String(bytes).padStart(5)} B  window ${String(maxInFlight).padEnd(9)}`
        + `refused ${`${Math.min(...refused)}-${Math.max(...refused)}`.padEnd(10)} in order ${inOrder.padEnd(4)}`
        + `${median(results.map((each) => each.ms)).toFixed(0).padStart(6)} ms`);
    }
  }
}

// Requests the backend works on for a while, all at once (the order backend
// runs each on a timer of its own), and one quick request sent while they run.
console.log("\nlong requests: N requests of 500 ms each at once, then one status");
for (const count of [32, 100, 200]) {
  for (const maxInFlight of [Infinity, 32, 64]) {
    const totals = [];
    const quick = [];
    for (let run = 0; run < runs; run += 1) {
      const runtime = await start(order.project, maxInFlight);
      const began = performance.now();
      const long = Promise.all(Array.from({ length: count }, () => runtime.request("generate", { ms: 500 })));
      const asked = performance.now();
      await runtime.request("status");
      quick.push(performance.now() - asked);
      await long;
      totals.push(performance.now() - began);
      await runtime.close();
    }
    console.log(`${String(count).padStart(4)} x 500 ms  window ${String(maxInFlight).padEnd(9)}all answered in ${median(totals).toFixed(0).padStart(5)} ms,`
      + ` the status in ${median(quick).toFixed(0).padStart(4)} ms (medians)`);
  }
}
order.remove();
