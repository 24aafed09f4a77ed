import { type ChildProcessWithoutNullStreams, spawn } from "node:child_process";
import { EventEmitter } from "node:events";

import type { Command } from "./commands.js";
import {
  type JsonValue, QuernRequestAborted, QuernRequestError, QuernRuntimeExit, type RuntimeExit, type RuntimeRecord,
} from "./errors.js";
import { LineSplitter } from "./lines.js";
import { requestLine } from "./request_line.js";
import { type TraceEntry, traceTime } from "./trace.js";

/**
 * The runtime's queue to its backend holds 32 requests while the backend's
 * input pipe is full: it refuses one as full only while it writes one request
 * to the pipe with 32 more waiting. So 33 unanswered lines are never refused;
 * the 33rd place is the cancels'.
 */
const DEFAULT_MAX_IN_FLIGHT = 32;

/** setTimeout's longest delay; a longer time-out is no time-out. */
const LONGEST_TIMER = 2 ** 31 - 1;

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
  /**
   * How many requests may be sent and unanswered at once (default 32, what the
   * runtime queues for a busy backend); later ones wait in the client, in
   * order. Above 32 the runtime may refuse requests while the backend is slower
   * than the front end; Infinity turns the window off.
   */
  maxInFlight?: number;
  /** Gets each line sent, received and of standard error, and a last entry when the runtime ends. */
  trace?: (entry: TraceEntry) => void;
}

export interface RequestOptions {
  /** The request's id, a string or a finite number; by default the next of the client's increasing integers. */
  id?: string | number;
  /** The request's session, passed on to the backend as it is. */
  session?: JsonValue;
  /** Every record other than the response that carries the request's id: progress, events. */
  onEvent?: (record: RuntimeRecord) => void;
  /** Gives the request up when aborted: it rejects at once with an "AbortError" and, if it was sent, is cancelled. */
  signal?: AbortSignal;
  /** Gives the request up this many milliseconds after the call, as an abort would, with a "TimeoutError". */
  timeoutMs?: number;
}

// Who waits for a request's answer; gone once the answer came or the request was given up.
interface Caller {
  resolve: (result: JsonValue) => void;
  reject: (error: Error) => void;
  onEvent?: (record: RuntimeRecord) => void;
  signal?: AbortSignal;
  timer?: NodeJS.Timeout;
}

// A request of the client's: waiting for room in the window, then sent and
// unanswered. It holds its id, and its place in the window, until its answer.
interface Outgoing {
  id: JsonValue;
  key: string;
  line: string;
  shutdown: boolean;
  sent: boolean;
  caller: Caller | null;
}

// The requests waiting on one signal, and its one listener: many requests
// may share a signal without a listener each.
interface Watched {
  requests: Set<Outgoing>;
  onAbort: () => void;
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
  private readonly trace?: (entry: TraceEntry) => void;
  private readonly maxInFlight: number;
  // Keyed by the canonical text of the id, so that ids equal as JSON values meet.
  private readonly pending = new Map<string, Outgoing>();
  // Requests waiting for room in the window, in the order they were made; the
  // ones given up meanwhile are skipped.
  private waiting: Outgoing[] = [];
  private waitingHead = 0;
  // Cancels of sent requests given up: they go before every waiting request.
  private readonly cancels: Outgoing[] = [];
  private readonly signals = new Map<AbortSignal, Watched>();
  private unanswered = 0;
  private nextId = 1;
  private fatal: string | null = null;
  private ended: RuntimeExit | null = null;
  private inputClosing = false;
  private shutdownSent = false;

  /** Starts the runtime; settles once the process has been spawned, rejecting if it could not be. */
  static start(options: StartOptions): Promise<QuernRuntime> {
    const maxInFlight = options.maxInFlight ?? DEFAULT_MAX_IN_FLIGHT;
    if (!(maxInFlight >= 1 && (Number.isInteger(maxInFlight) || maxInFlight === Infinity))) {
      return Promise.reject(new RangeError(`maxInFlight must be a positive integer or Infinity, not ${maxInFlight}`));
    }
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
        resolve(new QuernRuntime(child, options, maxInFlight));
      });
    });
  }

  private constructor(child: ChildProcessWithoutNullStreams, options: StartOptions, maxInFlight: number) {
    super();
    this.child = child;
    this.onRecord = options.onRecord;
    this.onNote = options.onNote;
    this.trace = options.trace;
    this.maxInFlight = maxInFlight;

    const records = new LineSplitter((line) => {
      this.trace?.({ time: traceTime(), direction: "receive", text: line });
      this.handleLine(line);
    });
    child.stdout.setEncoding("utf8");
    child.stdout.on("data", (chunk: string) => records.push(chunk));
    child.stdout.on("end", () => records.end());

    const notes = new LineSplitter((line) => {
      this.trace?.({ time: traceTime(), direction: "stderr", text: line });
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
        this.trace?.({
          time: traceTime(), direction: "exit", text: signal ? `signal ${signal}` : `exit code ${status}`,
          code: status, signal,
        });
        const message = this.exitMessage();
        const unanswered = [...this.pending.values()];
        this.pending.clear();
        this.waiting = [];
        this.waitingHead = 0;
        this.cancels.length = 0;
        for (const request of unanswered) {
          this.settle(request, (caller) => caller.reject(new QuernRequestError(message, request.id, null, "ended")));
        }
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
   * Sends a request, once the window has room for it. Settles with the
   * response's "result" when it is ok; rejects with a QuernRequestError whose
   * kind tells why when it is not, when it is refused before it is written,
   * or when the runtime ends first; with a QuernRequestAborted when it is
   * given up; and with a QuernRuntimeExit when the runtime had already ended.
   */
  request(command: Command, payload?: JsonValue, options: RequestOptions = {}): Promise<JsonValue> {
    if (this.ended) return Promise.reject(new QuernRuntimeExit(this.exitMessage(), this.ended));
    const id = options.id !== undefined ? options.id : this.allocateId();
    const { signal, timeoutMs } = options;
    if (signal?.aborted) return Promise.reject(abortError(signal, id, false));
    if (timeoutMs !== undefined && !(timeoutMs >= 0)) {
      return Promise.reject(new RangeError(`timeoutMs must be a number of milliseconds, not ${timeoutMs}`));
    }
    // What the runtime would refuse with an answer the client could not route
    // (the first request's id, or null) is refused here, in its own words.
    const refuse = (message: string) => Promise.reject(new QuernRequestError(message, id, null, "refused"));
    if (!(typeof id === "string" || (typeof id === "number" && Number.isFinite(id)))) {
      return refuse("Request id must be a string or number");
    }
    const key = idKey(id);
    if (this.pending.has(key)) return refuse("Request id is already pending");
    const request: { [key: string]: JsonValue } = { id, command };
    if (payload !== undefined) request.payload = payload;
    if (options.session !== undefined) request.session = options.session;
    let built: ReturnType<typeof requestLine>;
    try {
      built = requestLine(request);
    } catch (error) {
      return Promise.reject(error);  // e.g. a BigInt or a cycle in the payload
    }
    if ("refusal" in built) return refuse(built.refusal);
    if (this.inputClosing) return refuse("Runtime is shutting down");
    return new Promise((resolve, reject) => {
      const outgoing: Outgoing = { id, key, line: built.line, shutdown: command === "shutdown", sent: false, caller: null };
      const caller: Caller = { resolve, reject, onEvent: options.onEvent, signal };
      outgoing.caller = caller;
      if (timeoutMs !== undefined && timeoutMs <= LONGEST_TIMER) {
        caller.timer = setTimeout(() => {
          const message = `Request timed out after ${timeoutMs} ms`;
          this.giveUp(outgoing, new QuernRequestAborted("TimeoutError", message, id, outgoing.sent));
        }, timeoutMs);
      }
      if (signal) this.watch(signal, outgoing);
      this.pending.set(key, outgoing);
      this.waiting.push(outgoing);
      this.pump();
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

  /** Closes the runtime's standard input, once every request made before is sent, and settles with its exit. */
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

  // Hands the caller its outcome, once.
  private settle(request: Outgoing, outcome: (caller: Caller) => void): void {
    const caller = request.caller;
    if (!caller) return;
    request.caller = null;
    clearTimeout(caller.timer);
    if (caller.signal) this.unwatch(caller.signal, request);
    outcome(caller);
  }

  private watch(signal: AbortSignal, request: Outgoing): void {
    let watched = this.signals.get(signal);
    if (!watched) {
      const requests = new Set<Outgoing>();
      const onAbort = () => {
        for (const each of [...requests]) this.giveUp(each, abortError(signal, each.id, each.sent));
      };
      watched = { requests, onAbort };
      this.signals.set(signal, watched);
      signal.addEventListener("abort", onAbort, { once: true });
    }
    watched.requests.add(request);
  }

  private unwatch(signal: AbortSignal, request: Outgoing): void {
    const watched = this.signals.get(signal);
    if (!watched?.requests.delete(request) || watched.requests.size > 0) return;
    signal.removeEventListener("abort", watched.onAbort);
    this.signals.delete(signal);
  }

  // The caller stops waiting now. A request not yet sent never will be; a
  // sent one keeps its id and its place in the window until its answer, and
  // the backend is asked to cancel it.
  private giveUp(request: Outgoing, error: QuernRequestAborted): void {
    if (!request.caller) return;
    this.settle(request, (caller) => caller.reject(error));
    if (!request.sent) {
      this.pending.delete(request.key);
      return;
    }
    if (this.shutdownSent || this.child.stdin.writableEnded || this.ended) return;
    const id = this.allocateId();
    const cancel: Outgoing = {
      id, key: idKey(id), line: `${JSON.stringify({ id, command: "cancel", payload: { target: request.id } })}\n`,
      shutdown: false, sent: false, caller: null,
    };
    this.pending.set(cancel.key, cancel);
    this.cancels.push(cancel);
    this.pump();
  }

  // Sends what the window has room for: cancels first, with one place more
  // than requests have, so that a window full of long requests holds none up;
  // then the requests in order. Once the input is closing and nothing waits,
  // ends the runtime's standard input.
  private pump(): void {
    const stdin = this.child.stdin;
    if (this.ended || stdin.writableEnded) return;
    while (this.cancels.length > 0 && this.unanswered <= this.maxInFlight) this.send(this.cancels.shift()!);
    while (this.waitingHead < this.waiting.length && this.unanswered < this.maxInFlight) {
      const next = this.waiting[this.waitingHead];
      this.waitingHead += 1;
      if (next.caller) this.send(next);
    }
    if (this.waitingHead === this.waiting.length) {
      this.waiting.length = 0;
      this.waitingHead = 0;
    } else if (this.waitingHead > 1024) {
      this.waiting = this.waiting.slice(this.waitingHead);
      this.waitingHead = 0;
    }
    if (this.inputClosing && this.waiting.length === 0 && this.cancels.length === 0) stdin.end();
  }

  private send(request: Outgoing): void {
    request.sent = true;
    this.unanswered += 1;
    if (request.shutdown) this.shutdownSent = true;
    this.child.stdin.write(request.line);
    this.trace?.({ time: traceTime(), direction: "send", text: request.line.slice(0, -1) });
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
    // An id the client never sent (the backend's answer to the runtime's own
    // shutdown record is one) is nobody's.
    if (!request?.sent) return;
    if (record.type !== "response") {
      request.caller?.onEvent?.(record);
      return;
    }
    this.pending.delete(key);
    this.unanswered -= 1;
    this.settle(request, (caller) => {
      if (record.ok === true) caller.resolve(record.result ?? null);
      else caller.reject(new QuernRequestError(String(record.error ?? "request failed"), record.id, record));
    });
    this.pump();
  }
}

function abortError(signal: AbortSignal, id: JsonValue, sent: boolean): QuernRequestAborted {
  const reason: unknown = signal.reason;
  const timedOut = reason instanceof Error && reason.name === "TimeoutError";
  return new QuernRequestAborted(timedOut ? "TimeoutError" : "AbortError", timedOut ? "Request timed out" : "Request aborted",
    id, sent, reason);
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
