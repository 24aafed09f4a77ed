import type { JsonValue } from "./errors.js";

/** The longest request line the runtime takes, its line feed included. */
const REQUEST_LINE_LIMIT = 65536;

/** The deepest nesting of arrays and objects the runtime parses; the request object is the first level. */
const NESTING_LIMIT = 127;

// JSON.stringify writes a string's unpaired surrogate as an escape (and pairs
// as they are): text no UTF-8 can carry, which the runtime refuses.
const LONE_SURROGATE = /(?<!\\)(?:\\\\)*\\ud[89a-f][0-9a-f]{2}/i;

/**
 * The line that carries a request, or the runtime's words for why it would
 * refuse it with a null id, an answer no one could tell was this request's.
 * Throws what JSON.stringify throws (a BigInt, a cycle).
 */
export function requestLine(request: { [key: string]: JsonValue }): { line: string } | { refusal: string } {
  const line = `${JSON.stringify(request)}\n`;
  if (Buffer.byteLength(line, "utf8") > REQUEST_LINE_LIMIT) return { refusal: "Request exceeds the 64 KiB limit" };
  if (LONE_SURROGATE.test(line)) return { refusal: "Request must be UTF-8 JSON" };
  const tooDeep = tooDeepAt(line);
  if (tooDeep !== -1) {
    const column = Buffer.byteLength(line.slice(0, tooDeep), "utf8") + 1;
    return { refusal: `Malformed request JSON: recursion limit exceeded at line 1 column ${column}` };
  }
  return { line };
}

// Where the bracket that opens one level too many is, or -1.
function tooDeepAt(json: string): number {
  let depth = 0;
  let inString = false;
  for (let i = 0; i < json.length; i += 1) {
    const c = json.charCodeAt(i);
    if (inString) {
      if (c === 0x5c) i += 1;  // a backslash: skip what it escapes
      else if (c === 0x22) inString = false;
    } else if (c === 0x22) {
      inString = true;
    } else if (c === 0x7b || c === 0x5b) {
      depth += 1;
      if (depth > NESTING_LIMIT) return i;
    } else if (c === 0x7d || c === 0x5d) {
      depth -= 1;
    }
  }
  return -1;
}
