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
 * A request answered with "ok": false, by the runtime or by the backend, or
 * one the client refused before writing it (then `record` is null).
 */
export class QuernRequestError extends Error {
  readonly id: JsonValue;
  readonly record: RuntimeRecord | null;

  constructor(message: string, id: JsonValue, record: RuntimeRecord | null) {
    super(message);
    this.name = "QuernRequestError";
    this.id = id;
    this.record = record;
  }
}

/**
 * The runtime ended before the request was answered. The message is that of
 * the runtime's fatal record when it wrote one (a start-up failure such as
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
