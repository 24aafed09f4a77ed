import assert from "node:assert/strict";
import { mkdtempSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { test } from "node:test";

import { type TraceEntry, traceToFile } from "../src/index.js";
import { orderProject, startOn } from "./support.js";

test("a trace file reads back as the session's lines, in order, then the exit", { timeout: 20_000 }, async () => {
  const [order, folder] = [orderProject(), mkdtempSync(join(tmpdir(), "quern-client-trace-"))];
  try {
    const [given, toFile] = [[] as TraceEntry[], traceToFile(join(folder, "session.jsonl"))];
    const runtime = await startOn(order.project, { trace: (entry) => (given.push(entry), toFile(entry)) });
    // Answers to ids the client never sent (the first, and the one to the runtime's shutdown record) go by.
    assert.deepEqual(await runtime.request("benchmark", {}, { id: "b" }), { order: 1 });
    await runtime.close();
    const read = readFileSync(join(folder, "session.jsonl"), "utf8").trimEnd().split("\n").map((line) => JSON.parse(line));
    assert.deepEqual(read, given);
    assert.ok(read.every((entry, i) => entry.time > 1.6e12 && (i === 0 || entry.time >= read[i - 1].time)));
    // Standard error is a stream of its own: where its line falls among the others is chance.
    const plain = read.map(({ time, ...entry }) => entry);
    const stderr = (entry: { direction: string }) => entry.direction === "stderr";
    assert.deepEqual([...plain.filter(stderr), ...plain.filter((entry) => !stderr(entry))], [
      { direction: "stderr", text: "order backend: reading" },
      { direction: "send", text: '{"id":"b","command":"benchmark","payload":{}}' },
      { direction: "receive", text: '{"id":"never-sent","ok":true,"result":{},"type":"response"}' },
      { direction: "receive", text: '{"id":"b","ok":true,"result":{"order":1},"type":"response"}' },
      { direction: "receive", text: '{"id":"__runtime_shutdown__","ok":true,"result":{"order":2},"type":"response"}' },
      { direction: "exit", text: "exit code 0", code: 0, signal: null },
    ]);
  } finally {
    order.remove();
    rmSync(folder, { recursive: true, force: true });
  }
});
