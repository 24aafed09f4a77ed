import { type ChildProcessWithoutNullStreams, spawn } from "node:child_process";
import { EventEmitter } from "node:events";

import type { Command } from "./commands.js";
import { type JsonValue, QuernRequestError, QuernRuntimeExit, type RuntimeExit, type RuntimeRecord } from "./errors.js";
import { LineSplitter } from "./lines.js";

/** The longest request line the runtime takes, its line feed included. */
const REQUEST_LINE_LIMIT = 65536;

// JSON.stringify writes a string's unpaired surrogate as an escape (and pairs
// as they are): text no UTF-8 can carry, which the runtime refuses.
const LONE_SURROGATE = /(?<!\\)(?:\\\\)*\\ud[89a-f][0-9a-f]{2}/i;

export interface StartOptions {
  /** The quern-runtime executable. */
  runtimePath: string;
  /** The project directory, an absolute path. */
  project: string;
  /** The runtime's environment (default: this process's). */
  env?: NodeJS.ProcessEnv;
  /** Each line the runtime writes to its standard error: its notes and the backend's own. */
  onNote?: (line: string) => void;
  /** Every record the runtime writes, before it is routed. */
  onRecord?: (record: RuntimeRecord) => void;
}

export interface RequestOptions {
  /** The request's id, a string or a finite number; by default the next of the client's increasing integers. */
  id?: string | number;
  /** The request's session, passed on to the backend as it is. */
  session?: JsonValue;
  /** Every record other than the response that carries the request's id: progress, events. */
  onEvent?: (record: RuntimeRecord) => void;
}

interface PendingRequest {
  resolve: (result: JsonValue) => void;
  reject: (error: Error) => void;
  onEvent?: (record: RuntimeRecord) => void;
}

export interface QuernRuntimeEvents {
  record: [record: RuntimeRecord];
  note: [line: string];
  fatal: [message: string];
  exit: [exit: RuntimeExit];
}

/**
 * One running quern-runtime: requests in, their answers as promises, the
 * other records routed to the request whose id they carry, and one end.
 *
 * Events: 'record' (every record), 'note' (one line of standard error),
 * 'fatal' (the message of a fatal record), 'exit' (how the runtime ended).
 */
export class QuernRuntime extends EventEmitter {
  /** Settles once the runtime has ended and every record it wrote has been handled. Never rejects. */
  readonly exited: Promise<RuntimeExit>;

  private readonly child: ChildProcessWithoutNullStreams;
  private readonly onRecord?: (record: RuntimeRecord) => void;
  private readonly onNote?: (line: string) => void;
  // Keyed by the canonical text of the id, so that ids equal as JSON values meet.
  private readonly pending = new Map<string, PendingRequest>();
  private nextId = 1;
  private fatal: string | null = null;
  private ended: RuntimeExit | null = null;
  // Lines waiting for the runtime's stdin to take them (it may push back).
  private readonly queue: string[] = [];
  private queueHead = 0;
  private waitingForDrain = false;
  private inputClosing = false;

  /** Starts the runtime; settles once the process has been spawned, rejecting if it could not be. */
  static start(options: StartOptions): Promise<QuernRuntime> {
    return new Promise((resolve, reject) => {
      const child = spawn(options.runtimePath, ["--project", options.project], {
        env: options.env ?? process.env,
        stdio: ["pipe", "pipe", "pipe"],
        windowsHide: true,
      });
      const failed = (error: Error) => reject(error);
      child.once("error", failed);
      child.once("spawn", () => {
        child.off("error", failed);
        resolve(new QuernRuntime(child, options));
      });
    });
  }

  private constructor(child: ChildProcessWithoutNullStreams, options: StartOptions) {
    super();
    this.child = child;
    this.onRecord = options.onRecord;
    this.onNote = options.onNote;

    const records = new LineSplitter((line) => this.handleLine(line));
    child.stdout.setEncoding("utf8");
    child.stdout.on("data", (chunk: string) => records.push(chunk));
    child.stdout.on("end", () => records.end());

    const notes = new LineSplitter((line) => {
      this.onNote?.(line);
      this.emit("note", line);
    });
    child.stderr.setEncoding("utf8");
    child.stderr.on("data", (chunk: string) => notes.push(chunk));
    child.stderr.on("end", () => notes.end());

    // A runtime that has ended refuses writes; its end is reported by 'close'.
    child.stdin.on("error", () => {});
    child.on("error", () => {});

    this.exited = new Promise((resolve) => {
      // 'close' comes after the runtime's output has all been read.
      child.on("close", (status: number | null, signal: NodeJS.Signals | null) => {
        const exit: RuntimeExit = { status, signal, fatal: this.fatal };
        this.ended = exit;
        const error = new QuernRuntimeExit(this.exitMessage(), exit);
        const unanswered = [...this.pending.values()];
        this.pending.clear();
        for (const request of unanswered) request.reject(error);
        this.emit("exit", exit);
        resolve(exit);
      });
    });
  }

  /** The runtime's process id. */
  get pid(): number | undefined {
    return this.child.pid;
  }

  /**
   * Sends a request. Settles with the response's "result" when it is ok;
   * rejects with a QuernRequestError when it is not, or when the request is
   * refused before it is written (an id already pending, a line over the
   * runtime's 64 KiB limit), and with a QuernRuntimeExit when the runtime
   * ends first.
   */
  request(command: Command, payload?: JsonValue, options: RequestOptions = {}): Promise<JsonValue> {
    if (this.ended) return Promise.reject(new QuernRuntimeExit(this.exitMessage(), this.ended));
    const id = options.id !== undefined ? options.id : this.allocateId();
    // What the runtime would refuse with an answer the client could not route
    // (the first request's id, or null) is refused here, in its own words.
    const refuse = (message: string) => Promise.reject(new QuernRequestError(message, id, null));
    if (!(typeof id === "string" || (typeof id === "number" && Number.isFinite(id)))) {
      return refuse("Request id must be a string or number");
    }
    const key = idKey(id);
    if (this.pending.has(key)) return refuse("Request id is already pending");
    const request: { [key: string]: JsonValue } = { id, command };
    if (payload !== undefined) request.payload = payload;
    if (options.session !== undefined) request.session = options.session;
    let line: string;
    try {
      line = `${JSON.stringify(request)}\n`;
    } catch (error) {
      return Promise.reject(error);  // e.g. a BigInt or a cycle in the payload
    }
    if (Buffer.byteLength(line, "utf8") > REQUEST_LINE_LIMIT) return refuse("Request exceeds the 64 KiB limit");
    if (LONE_SURROGATE.test(line)) return refuse("Request must be UTF-8 JSON");
    if (this.inputClosing) return refuse("Runtime is shutting down");
    return new Promise((resolve, reject) => {
      this.pending.set(key, { resolve, reject, onEvent: options.onEvent });
      this.write(line);
    });
  }

  /** Asks the runtime to stop with a "shutdown" request and settles with its exit once it has ended. */
  async shutdown(): Promise<RuntimeExit> {
    if (!this.ended && !this.inputClosing) {
      try {
        await this.request("shutdown");
      } catch {
        // However the request ends, the exit tells how the run did.
      }
    }
    return this.exited;
  }

  /** Closes the runtime's standard input, once everything queued is written, and settles with its exit. */
  close(): Promise<RuntimeExit> {
    this.inputClosing = true;
    this.pump();
    return this.exited;
  }

  override on<E extends keyof QuernRuntimeEvents>(event: E, listener: (...args: QuernRuntimeEvents[E]) => void): this;
  override on(event: string | symbol, listener: (...args: any[]) => void): this {
    return super.on(event, listener);
  }

  override once<E extends keyof QuernRuntimeEvents>(event: E, listener: (...args: QuernRuntimeEvents[E]) => void): this;
  override once(event: string | symbol, listener: (...args: any[]) => void): this {
    return super.once(event, listener);
  }

  private allocateId(): number {
    while (this.pending.has(idKey(this.nextId))) this.nextId += 1;
    const id = this.nextId;
    this.nextId += 1;
    return id;
  }

  private exitMessage(): string {
    if (this.fatal !== null) return this.fatal;
    const exit = this.ended;
    if (exit && exit.status === null && exit.signal) return `quern-runtime was ended by ${exit.signal}`;
    return `quern-runtime exited with status ${exit?.status ?? "unknown"}`;
  }

  private write(line: string): void {
    this.queue.push(line);
    this.pump();
  }

  // Writes what is queued while the runtime's stdin takes it, and waits for
  // 'drain' whenever it pushes back.
  private pump(): void {
    if (this.waitingForDrain) return;
    const stdin = this.child.stdin;
    while (this.queueHead < this.queue.length) {
      const line = this.queue[this.queueHead];
      this.queueHead += 1;
      if (!stdin.write(line)) {
        this.waitingForDrain = true;
        stdin.once("drain", () => {
          this.waitingForDrain = false;
          this.pump();
        });
        break;
      }
    }
    if (this.queueHead === this.queue.length) {
      this.queue.length = 0;
      this.queueHead = 0;
      if (this.inputClosing && !this.waitingForDrain && !stdin.writableEnded) stdin.end();
    }
  }

  private handleLine(line: string): void {
    if (line === "") return;
    let record: RuntimeRecord;
    try {
      record = JSON.parse(line) as RuntimeRecord;
    } catch {
      return;  // the runtime writes nothing but records; nothing to route
    }
    this.onRecord?.(record);
    this.emit("record", record);
    if (record.type === "fatal") {
      this.fatal = String(record.error);
      this.emit("fatal", this.fatal);
      return;
    }
    if (!("id" in record)) return;
    const key = idKey(record.id);
    const request = this.pending.get(key);
    if (!request) return;
    if (record.type !== "response") {
      request.onEvent?.(record);
      return;
    }
    this.pending.delete(key);
    if (record.ok === true) {
      request.resolve(record.result ?? null);
    } else {
      request.reject(new QuernRequestError(String(record.error ?? "request failed"), record.id, record));
    }
  }
}

// The same text for every JSON value equal to this one: object keys in order.
function idKey(value: JsonValue): string {
  if (Array.isArray(value)) return `[${value.map(idKey).join(",")}]`;
  if (value !== null && typeof value === "object") {
    const keys = Object.keys(value).sort();
    return `{${keys.map((k) => `${JSON.stringify(k)}:${idKey(value[k] as JsonValue)}`).join(",")}}`;
  }
  return JSON.stringify(value);
}
