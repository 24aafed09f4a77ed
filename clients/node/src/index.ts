export { COMMANDS, type Command } from "./commands.js";
export {
  type JsonValue, QuernRequestAborted, QuernRequestError, QuernRuntimeExit, type RuntimeExit, type RuntimeRecord,
} from "./errors.js";
export { type FailureKind } from "./messages.js";
export { QuernRuntime, type QuernRuntimeEvents, type RequestOptions, type StartOptions } from "./runtime.js";
export { type TraceEntry, traceToFile } from "./trace.js";
