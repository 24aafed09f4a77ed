// The runtime's own answers to a request, as docs/protocol.md lists them
// (test/messages.test.ts holds these copies to its tables, in order). A text
// that ends in ": " is followed by details.

/** Refusals: the request never reached the backend. */
export const REFUSALS = [
  "Request exceeds the 64 KiB limit",
  "Request must be UTF-8 JSON",
  "Malformed request JSON: ",
  "Request must be a JSON object",
  "Unknown request envelope field",
  "Request id must be a string or number",
  "Request command must be a string",
  "Unknown command; use a supported Quern training or generation command",
  "Request payload must be a JSON object",
  "Invalid session envelope",
  "Runtime is shutting down",
  "Request id is already pending",
  "Cannot queue backend request: sending on a full channel",
  "Cannot queue backend request: sending on a closed channel",
] as const;

/** Exit messages: the runtime answered the request as it ended. */
export const EXIT_MESSAGES = [
  "Python backend exited (exit code: ",
  "Python backend exited",
  "Backend stdout failed: ",
  "Backend input failed: ",
  "Backend input writer stopped",
  "Failed to supervise backend: ",
  "Runtime interrupted",
] as const;

/** Why a request failed: refused by the runtime, answered so by the backend, or ended with the run. */
export type FailureKind = "refused" | "backend" | "ended";

const names = (message: string, text: string) => message === text || (text.endsWith(": ") && message.startsWith(text));

/** The kind of failure an "ok": false response's error names. */
export function failureKind(message: string): FailureKind {
  if (REFUSALS.some((text) => names(message, text))) return "refused";
  if (EXIT_MESSAGES.some((text) => names(message, text))) return "ended";
  return "backend";
}
