import assert from "node:assert/strict";
import { after, before, describe, test } from "node:test";

import type { QuernRequestAborted, RuntimeRecord } from "../src/index.js";
import { orderProject, rejection, startOn } from "./support.js";

const how = async (given: Promise<unknown>) => {
  const error = (await rejection(given)) as QuernRequestAborted;
  return [error.name, error.sent];
};

describe("giving a request up", () => {
  let order: ReturnType<typeof orderProject>;
  before(() => (order = orderProject()));
  after(() => order.remove());
  const cancelled = (records: RuntimeRecord[]) => records.filter((record) => record.error === "Request cancelled").map((record) => record.id);

  test("one not sent yet is never written; one sent is cancelled, past a full window", { timeout: 20_000 }, async () => {
    const [sent, records] = [[] as unknown[], [] as RuntimeRecord[]];
    const runtime = await startOn(order.project, {
      maxInFlight: 1, onRecord: (record) => records.push(record),
      trace: (entry) => entry.direction === "send" && sent.push(JSON.parse(entry.text)),
    });
    assert.deepEqual(await how(runtime.request("status", {}, { signal: AbortSignal.abort() })), ["AbortError", false]);
    const [holding, waiting] = [new AbortController(), new AbortController()];
    const held = how(runtime.request("generate", {}, { id: "held", signal: holding.signal }));
    const skipped = how(runtime.request("status", {}, { id: "skipped", signal: waiting.signal }));
    const behind = runtime.request("status", {}, { id: "behind" });
    waiting.abort();
    assert.deepEqual(await skipped, ["AbortError", false]);
    holding.abort();
    assert.deepEqual(await held, ["AbortError", true]);
    assert.deepEqual(await behind, { order: 3 });  // after the cancel, in the place the late answer freed
    assert.deepEqual(cancelled(records), ["held"]);
    assert.deepEqual(sent, [
      { id: "held", command: "generate", payload: {} },
      { id: 2, command: "cancel", payload: { target: "held" } },  // the first request took id 1
      { id: "behind", command: "status", payload: {} },
    ]);
    await runtime.close();
  });

  test("a time-out gives the request up as an abort does", { timeout: 20_000 }, async () => {
    const records: RuntimeRecord[] = [];
    const runtime = await startOn(order.project, { onRecord: (record) => records.push(record) });
    assert.deepEqual(await how(runtime.request("generate", {}, { id: "a", timeoutMs: 100 })), ["TimeoutError", true]);
    assert.deepEqual(await how(runtime.request("generate", {}, { id: "b", signal: AbortSignal.timeout(100) })), ["TimeoutError", true]);
    await runtime.close();
    assert.deepEqual(cancelled(records), ["a", "b"]);
  });
});
