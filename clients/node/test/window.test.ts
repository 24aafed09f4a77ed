import assert from "node:assert/strict";
import { after, before, describe, test } from "node:test";

import { orderProject, startOn } from "./support.js";

describe("the window of unanswered requests", () => {
  let order: ReturnType<typeof orderProject>;
  before(() => (order = orderProject()));
  after(() => order.remove());

  // Without the window the runtime refuses a share of each as "sending on a full channel".
  for (const [count, bytes] of [[1000, 2048], [5000, 2048], [1000, 60_000]]) {
    test(`${count} requests of ${bytes} bytes at once are all answered, in order`, { timeout: 60_000 }, async () => {
      const runtime = await startOn(order.project);
      const answers = await Promise.all(Array.from({ length: count }, () => runtime.request("status", { text: "x".repeat(bytes) })));
      assert.deepEqual(answers.map((answer) => (answer as { order: number }).order), answers.map((_, i) => i + 1));
      await runtime.close();
    });
  }
});
