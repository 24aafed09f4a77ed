import { type FailureKind, failureKind } from "./messages.js";

/** Any JSON value, as a request's id, payload or session may be. */
export type JsonValue = null | boolean | number | string | JsonValue[] | { [key: string]: JsonValue };

/** A record the runtime wrote: a JSON object with a string "type". */
export interface RuntimeRecord {
  type: string;
  [key: string]: JsonValue;
}

/** How the runtime ended: its exit status (or the signal that ended it), and the message of its fatal record, if it wrote one. */
export interface RuntimeExit {
  status: number | null;
  signal: NodeJS.Signals | null;
  fatal: string | null;
}

/**
 * A request that failed, and why (`kind`):
 * - "refused": the runtime refused it in one of its own words (or the client
 *   did, before writing it, when the runtime could not have told it whose the
 *   answer is; then `record` is null). It never reached the backend.
 * - "backend": the backend answered it with "ok": false; `record` holds that
 *   answer whole.
 * - "ended": the runtime ended before the backend answered it, and answered it
 *   on its way out, or ended without doing so (then `record` is null and the
 *   message is the runtime's fatal message or its exit status).
 */
export class QuernRequestError extends Error {
  readonly id: JsonValue;
  readonly record: RuntimeRecord | null;
  readonly kind: FailureKind;

  constructor(message: string, id: JsonValue, record: RuntimeRecord | null, kind: FailureKind = failureKind(message)) {
    super(message);
    this.name = "QuernRequestError";
    this.id = id;
    this.record = record;
    this.kind = kind;
  }
}

/**
 * A request the caller gave up: its signal was aborted (`name` "AbortError",
 * `cause` the signal's reason) or its time-out passed ("TimeoutError"). When
 * it had been sent, the backend was asked to cancel it, and its answer, when
 * it comes, goes to 'record' only.
 */
export class QuernRequestAborted extends Error {
  readonly id: JsonValue;
  /** Whether the request had been written to the runtime. */
  readonly sent: boolean;

  constructor(name: "AbortError" | "TimeoutError", message: string, id: JsonValue, sent: boolean, cause?: unknown) {
    super(message, cause === undefined ? undefined : { cause });
    this.name = name;
    this.id = id;
    this.sent = sent;
  }
}

/**
 * A request made after the runtime ended. The message is that of the
 * runtime's fatal record when it wrote one (a start-up failure such as
 * "Missing project Python: ..." reads this way), else
 * "quern-runtime exited with status N".
 */
export class QuernRuntimeExit extends Error {
  readonly exit: RuntimeExit;

  constructor(message: string, exit: RuntimeExit) {
    super(message);
    this.name = "QuernRuntimeExit";
    this.exit = exit;
  }
}
