import assert from "node:assert/strict";
import { after, before, describe, test } from "node:test";

import type { RuntimeRecord } from "../src/index.js";
import { orderProject, startOn } from "./support.js";

describe("the window of unanswered requests", () => {
  let order: ReturnType<typeof orderProject>;
  before(() => (order = orderProject()));
  after(() => order.remove());

  // Far more than the runtime queues for a backend that is behind: without the
  // window a share of each burst is refused as "sending on a full channel".
  for (const [count, bytes] of [[1000, 2048], [5000, 2048], [1000, 60_000]]) {
    test(`${count} requests of ${bytes} bytes at once are all answered, none refused, in order`, { timeout: 60_000 }, async () => {
      const runtime = await startOn(order.project);
      const text = "x".repeat(bytes);
      const answers = await Promise.all(Array.from({ length: count }, () => runtime.request("status", { text })));
      assert.deepEqual(answers.map((answer) => (answer as { order: number }).order), answers.map((_, i) => i + 1));
      assert.equal((await runtime.close()).status, 0);
    });
  }

  test("an answer to an id never sent goes to 'record' only", { timeout: 20_000 }, async () => {
    const records: RuntimeRecord[] = [];
    const runtime = await startOn(order.project, { maxInFlight: 1, onRecord: (record) => records.push(record) });
    assert.deepEqual(await runtime.request("benchmark"), {});
    assert.equal(((await runtime.request("status")) as { order: number }).order, 2);
    await runtime.close();
    const foreign = records.filter((record) => record.id === "never-sent" || record.id === "__runtime_shutdown__");
    assert.deepEqual(foreign.map((record) => record.id), ["never-sent", "__runtime_shutdown__"]);
  });
});
