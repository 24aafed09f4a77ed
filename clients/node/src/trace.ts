import { closeSync, openSync, writeSync } from "node:fs";

/**
 * One line that passed between the client and the runtime: written to its
 * standard input ("send"), read from its standard output ("receive") or its
 * standard error ("stderr"), each without its line feed; and one last entry
 * when the runtime ends ("exit", with `code` and `signal`). `time` is in
 * milliseconds since the Unix epoch. Readers ignore fields and directions
 * they do not know.
 */
export type TraceEntry =
  | { time: number; direction: "send" | "receive" | "stderr"; text: string }
  | { time: number; direction: "exit"; text: string; code: number | null; signal: string | null };

/** Now, in milliseconds since the Unix epoch, finer than Date.now(). */
export function traceTime(): number {
  return performance.timeOrigin + performance.now();
}

/**
 * A trace function that writes each entry to the file at `path` as one line of
 * JSON. The file is created (or emptied) at once, so a bad path throws here.
 * Entries are written together at the end of each turn of the event loop, and
 * when the process exits; the exit entry is written at once and closes the
 * file (a later entry opens it again and appends). A failed write stops the
 * trace with a process warning rather than disturbing the run.
 */
export function traceToFile(path: string): (entry: TraceEntry) => void {
  let fd: number | null = openSync(path, "w");
  let buffered = "";
  let scheduled = false;
  let failed = false;
  const flush = () => {
    scheduled = false;
    if (buffered === "" || fd === null || failed) return;
    const text = buffered;
    buffered = "";
    try {
      writeSync(fd, text);
    } catch (error) {
      failed = true;
      process.emitWarning(`Trace to ${path} stopped: ${(error as Error).message}`);
    }
  };
  process.on("exit", flush);
  return (entry) => {
    if (failed) return;
    if (fd === null) {
      fd = openSync(path, "a");
      process.on("exit", flush);
    }
    buffered += `${JSON.stringify(entry)}\n`;
    if (entry.direction === "exit") {
      flush();
      closeSync(fd);
      fd = null;
      process.off("exit", flush);
    } else if (!scheduled) {
      scheduled = true;
      setImmediate(flush);
    }
  };
}
