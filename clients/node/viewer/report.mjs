// Makes the viewer page with a trace inside it, so that one file is the whole report.
import { readFileSync } from "node:fs";

const PLACEHOLDER = '<script type="application/json" id="embedded-trace"></script>';

/** The viewer page as it is: it opens a trace dropped on it or picked with its file input. */
export function viewerPage() {
  return readFileSync(new URL("./trace-viewer.html", import.meta.url), "utf8");
}

/** The page with `traceText` embedded under `name`; it draws the trace as soon as it opens. */
export function reportPage(traceText, name) {
  const page = viewerPage();
  // Escaping every "<" keeps "</script>" and "<!--" in the trace from ending the data block early;
  // JSON.parse reads "\u003c" back as "<", so the text comes back byte for byte.
  const data = JSON.stringify({ name, text: traceText }).replace(/</g, "\\u003c");
  const at = page.indexOf(PLACEHOLDER);
  if (at < 0) throw new Error("the viewer page has no place for the trace");
  return page.slice(0, at) + PLACEHOLDER.replace("></", `>${data}</`) + page.slice(at + PLACEHOLDER.length);
}

/** The first line of `traceText` that is a trace entry, or null: a cheap check that a file is a trace at all. */
export function firstEntry(traceText) {
  for (const line of traceText.split("\n", 1000)) {
    try {
      const entry = JSON.parse(line);
      if (entry && typeof entry.direction === "string" && typeof entry.time === "number") return entry;
    } catch {
      // not this line
    }
  }
  return null;
}
