import assert from "node:assert/strict";
import { mkdtempSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { test } from "node:test";

import { type TraceEntry, traceToFile } from "../src/index.js";
import { orderProject, startOn } from "./support.js";

test("a trace file reads back as every line that passed, in order, then the exit", { timeout: 20_000 }, async () => {
  const order = orderProject();
  const path = join(mkdtempSync(join(tmpdir(), "quern-client-trace-")), "session.jsonl");
  try {
    const given: TraceEntry[] = [];
    const toFile = traceToFile(path);
    const runtime = await startOn(order.project, { trace: (entry) => (given.push(entry), toFile(entry)) });
    await runtime.request("status", {}, { id: "s" });
    await runtime.close();
    const read = readFileSync(path, "utf8").trimEnd().split("\n").map((line) => JSON.parse(line) as TraceEntry);
    assert.deepEqual(read, given);
    const streams = (entries: TraceEntry[], stderr: boolean) =>
      entries.filter((entry) => (entry.direction === "stderr") === stderr).map(({ direction, text }) => `${direction} ${text}`);
    assert.deepEqual(streams(read, false), [
      'send {"id":"s","command":"status","payload":{}}',
      'receive {"id":"s","ok":true,"result":{"order":1},"type":"response"}',
      'receive {"id":"__runtime_shutdown__","ok":true,"result":{"shutdown":true},"type":"response"}',
      "exit exit code 0",
    ]);
    assert.deepEqual(streams(read, true), ["stderr order backend: reading"]);
    assert.deepEqual(read.at(-1), { time: read.at(-1)!.time, direction: "exit", text: "exit code 0", code: 0, signal: null });
    const times = read.map((entry) => entry.time);
    assert.ok(times.every((time, i) => time > 1.6e12 && (i === 0 || time >= times[i - 1])), times.join());
  } finally {
    order.remove();
    rmSync(join(path, ".."), { recursive: true, force: true });
  }
});
