export { COMMANDS, type Command } from "./commands.js";
export { type JsonValue, QuernRequestError, QuernRuntimeExit, type RuntimeExit, type RuntimeRecord } from "./errors.js";
export { QuernRuntime, type QuernRuntimeEvents, type RequestOptions, type StartOptions } from "./runtime.js";
