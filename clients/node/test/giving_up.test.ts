import assert from "node:assert/strict";
import { after, before, describe, test } from "node:test";

import { QuernRequestAborted } from "../src/index.js";
import { nextRecord, orderProject, rejection, startOn } from "./support.js";

const options = { timeout: 20_000 };

describe("giving a request up", () => {
  let order: ReturnType<typeof orderProject>;
  before(() => (order = orderProject()));
  after(() => order.remove());

  test("aborted before it is sent, a request is never written; once sent, it is cancelled past a full window", options, async () => {
    const sent: unknown[] = [];
    const runtime = await startOn(order.project, {
      maxInFlight: 1,
      trace: (entry) => entry.direction === "send" && sent.push(JSON.parse(entry.text)),
    });
    const early = await rejection(runtime.request("status", {}, { signal: AbortSignal.abort() }));
    assert.deepEqual([early.name, (early as QuernRequestAborted).sent], ["AbortError", false]);

    const holding = new AbortController();
    const waiting = new AbortController();
    let arrived!: () => void;
    const arrival = new Promise<void>((resolve) => (arrived = resolve));
    const held = rejection(runtime.request("generate", {}, { id: "held", signal: holding.signal, onEvent: () => arrived() }));
    const skipped = rejection(runtime.request("status", {}, { id: "skipped", signal: waiting.signal }));
    const behind = runtime.request("status", {}, { id: "behind" });
    waiting.abort();
    assert.deepEqual([(await skipped).name, ((await skipped) as QuernRequestAborted).sent], ["AbortError", false]);
    await arrival;

    const lateAnswer = nextRecord(runtime, "late answer to 'held'", (record) => record.id === "held");
    holding.abort();
    const error = (await held) as QuernRequestAborted;
    assert.deepEqual([error.name, error.id, error.sent], ["AbortError", "held", true]);
    assert.equal((await lateAnswer).error, "Request cancelled");
    // The cancel went out before the request behind, which took the freed place.
    assert.deepEqual(await behind, { order: 3 });
    assert.deepEqual(sent, [
      { id: "held", command: "generate", payload: {} },
      { id: 2, command: "cancel", payload: { target: "held" } },  // the early request took id 1
      { id: "behind", command: "status", payload: {} },
    ]);
    await runtime.close();
  });

  test("a time-out gives the request up as an abort does", options, async () => {
    const runtime = await startOn(order.project);
    for (const timing of [() => ({ timeoutMs: 100 }), () => ({ signal: AbortSignal.timeout(100) })]) {
      const cancelled = nextRecord(runtime, "cancel's answer", (record) => record.error === "Request cancelled");
      const error = await rejection(runtime.request("generate", {}, timing()));
      assert.deepEqual([error.name, (error as QuernRequestAborted).sent], ["TimeoutError", true]);
      await cancelled;
    }
    await runtime.close();
  });
});
