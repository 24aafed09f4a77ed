import assert from "node:assert/strict";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { describe, test } from "node:test";

import { type JsonValue, QuernRequestError, QuernRuntime, QuernRuntimeExit, type RuntimeRecord } from "../src/index.js";
import { demoProject, projectWithBackend, rejection, runtimePath } from "./support.js";

const options = { timeout: 60_000 };

const nested = (levels: number): JsonValue => (levels === 0 ? 0 : [nested(levels - 1)]);

function startDemo(extra: { onNote?: (line: string) => void; onRecord?: (record: RuntimeRecord) => void } = {}) {
  return QuernRuntime.start({ runtimePath, project: demoProject, ...extra });
}

describe("a session with the demo backend", () => {
  test("a request settles with its response's result", options, async () => {
    const runtime = await startDemo();
    const result = (await runtime.request("status")) as { state: string };
    assert.equal(result.state, "idle");
    assert.deepEqual(await runtime.close(), { status: 0, signal: null, fatal: null });
  });

  test("progress records go to their own request, and every record to 'record' and onRecord", options, async () => {
    const seen: RuntimeRecord[] = [];
    const runtime = await startDemo({ onRecord: (record) => seen.push(record) });
    const emitted: RuntimeRecord[] = [];
    runtime.on("record", (record) => emitted.push(record));
    const progress: JsonValue[] = [];
    const other: JsonValue[] = [];
    const generated = runtime.request("generate", { prompt: "hi", steps: 3 }, {
      onEvent: (record) => progress.push(record.step),
    });
    const status = runtime.request("status", {}, { onEvent: (record) => other.push(record) });
    assert.deepEqual(await generated, { text: "hi-1 hi-2 hi-3" });
    await status;
    assert.deepEqual(progress, [1, 2, 3]);
    assert.deepEqual(other, []);
    await runtime.close();
    assert.equal(seen.filter((record) => record.type === "progress").length, 3);
    assert.deepEqual(emitted, seen);
  });

  test("a refusal and a backend's error reject by kind, with their words, id and record", options, async () => {
    const runtime = await startDemo();
    const error = await rejection(runtime.request("status", [1, 2], { id: "bad" }));
    assert.ok(error instanceof QuernRequestError);
    assert.equal(error.message, "Request payload must be a JSON object");
    assert.equal(error.kind, "refused");
    assert.equal(error.id, "bad");
    assert.deepEqual(error.record, {
      error: "Request payload must be a JSON object", id: "bad", ok: false, type: "response",
    });
    const unknown = await rejection(runtime.request("train", {}));
    assert.ok(unknown instanceof QuernRequestError);
    assert.equal(unknown.message, "the demo backend does not implement 'train'");
    assert.equal(unknown.kind, "backend");
    assert.equal(unknown.record?.error, unknown.message);
    await runtime.close();
  });

  test("what the runtime would answer unroutably is refused without a write", options, async () => {
    const runtime = await startDemo();
    const written: RuntimeRecord[] = [];
    runtime.on("record", (record) => written.push(record));
    const first = runtime.request("generate", { steps: 2 }, { id: "job-1" });
    const refusals: Array<[Promise<unknown>, string]> = [
      [runtime.request("status", {}, { id: "job-1" }), "Request id is already pending"],
      [runtime.request("status", { text: "x".repeat(65536) }), "Request exceeds the 64 KiB limit"],
      [runtime.request("status", {}, { id: { job: 1 } as unknown as string }), "Request id must be a string or number"],
      [runtime.request("status", {}, { id: Number.NaN }), "Request id must be a string or number"],
      [runtime.request("status", { text: "half \ud800 a pair" }), "Request must be UTF-8 JSON"],
      [runtime.request("status", { deep: nested(126) }), "Malformed request JSON: recursion limit exceeded at line 1 column 171"],
    ];
    for (const [refused, message] of refusals) {
      const error = await rejection(refused);
      assert.ok(error instanceof QuernRequestError);
      assert.equal(error.message, message);
      assert.equal(error.kind, "refused");
      assert.equal(error.record, null);
    }
    // One level less is the runtime's to take.
    assert.ok(await runtime.request("status", { deep: nested(125) }));
    // A whole pair, and a backslash that only looks like an escape, go through.
    assert.ok(await runtime.request("status", { text: "\ud83d\ude00 \\ud800" }));
    await first;
    await runtime.close();
    // The backend saw only the two requests written, and the runtime's own shutdown.
    const ids = new Set(written.map((record) => record.id));
    assert.ok(ids.has("job-1"));
    assert.ok([...ids].every((id) => id === "job-1" || typeof id === "number" || id === "__runtime_shutdown__"), [...ids].join());
  });

  test("shutdown asks the backend to stop and settles with a clean exit", options, async () => {
    const notes: string[] = [];
    const runtime = await startDemo({ onNote: (line) => notes.push(line) });
    const exits: unknown[] = [];
    runtime.on("exit", (exit) => exits.push(exit));
    assert.deepEqual(await runtime.shutdown(), { status: 0, signal: null, fatal: null });
    assert.deepEqual(exits, [{ status: 0, signal: null, fatal: null }]);
    assert.ok(notes.includes("[demo backend] shutting down"), notes.join("\n"));
    const late = await rejection(runtime.request("status"));
    assert.ok(late instanceof QuernRuntimeExit);
    assert.equal(late.message, "quern-runtime exited with status 0");
  });
});

describe("the end of a run", () => {
  test("a start-up failure reaches the caller of the first request, and a later one", options, async () => {
    const empty = mkdtempSync(join(tmpdir(), "quern-client-empty-"));
    try {
      const runtime = await QuernRuntime.start({ runtimePath, project: empty });
      const fatal: string[] = [];
      runtime.on("fatal", (message) => fatal.push(message));
      const error = await rejection(runtime.request("status"));
      assert.ok(error instanceof QuernRequestError);
      assert.equal(error.kind, "ended");
      assert.match(error.message, /^Missing project Python: /);
      const exit = await runtime.exited;
      assert.equal(exit.status, 1);
      assert.equal(exit.fatal, error.message);
      assert.deepEqual(fatal, [error.message]);
      const late = await rejection(runtime.request("status"));
      assert.ok(late instanceof QuernRuntimeExit);
      assert.equal(late.message, error.message);
    } finally {
      rmSync(empty, { recursive: true, force: true });
    }
  });

  test("a runtime that cannot be spawned rejects start", options, async () => {
    const error = await rejection(QuernRuntime.start({ runtimePath: join(tmpdir(), "no-such-runtime"), project: demoProject }));
    assert.equal((error as NodeJS.ErrnoException).code, "ENOENT");
  });

  test("a backend crash answers every pending request with the exit message", options, async () => {
    const crashing = projectWithBackend(
      "import sys\nsys.stdin.readline()\nsys.stdin.readline()\nsys.exit(3)\n",
    );
    try {
      const runtime = await QuernRuntime.start({ runtimePath, project: crashing.project });
      const errors = await Promise.all([
        rejection(runtime.request("status")),
        rejection(runtime.request("generate", { steps: 50 })),
      ]);
      for (const error of errors) {
        assert.ok(error instanceof QuernRequestError);
        assert.equal(error.message, "Python backend exited (exit code: 3)");
        assert.equal(error.kind, "ended");
      }
      assert.deepEqual(await runtime.exited, { status: 1, signal: null, fatal: "Python backend exited (exit code: 3)" });
    } finally {
      crashing.remove();
    }
  });

  test("close ends the input; what was sent before is still answered, by the backend or on the way out", options, async () => {
    const runtime = await startDemo();
    const answered = runtime.request("status");
    const unfinished = rejection(runtime.request("generate", { steps: 50 }));
    const exit = runtime.close();
    const refused = await rejection(runtime.request("status"));
    assert.equal(refused.message, "Runtime is shutting down");
    assert.equal((refused as QuernRequestError).kind, "refused");
    assert.equal(((await answered) as { state: string }).state, "idle");
    // The demo backend cancels what still runs when it is asked to stop.
    const cancelled = (await unfinished) as QuernRequestError;
    assert.equal(cancelled.message, "Request cancelled");
    assert.equal(cancelled.kind, "backend");
    assert.deepEqual(await exit, { status: 0, signal: null, fatal: null });
  });
});
