#!/usr/bin/env node
// quern-trace-view TRACE.jsonl [-o REPORT.html]: writes one self-contained page that draws a
// protocol trace (the JSON lines written by the client's traceToFile) as a timeline.
import { mkdirSync, readFileSync, renameSync, rmSync, writeFileSync } from "node:fs";
import { basename, dirname, resolve } from "node:path";

import { firstEntry, reportPage } from "./report.mjs";

const USAGE = `usage: quern-trace-view TRACE.jsonl [-o REPORT.html]

Writes a page that shows the trace: one row per request with its latency,
outcome and events, the records tied to no request, standard error, the end of
the run, a summary by command. It needs no network and no other file.
REPORT.html defaults to TRACE with .html for its extension; "-o -" writes the
page to standard output.`;

function fail(message, status = 1) {
  process.stderr.write(`quern-trace-view: ${message}\n`);
  process.exit(status);
}

function parseArguments(args) {
  let trace = null, output = null;
  for (let i = 0; i < args.length; i++) {
    const arg = args[i];
    if (arg === "-h" || arg === "--help") {
      process.stdout.write(USAGE + "\n");
      process.exit(0);
    } else if (arg === "-o" || arg === "--output") {
      if (i + 1 >= args.length) fail(`${arg} needs a file name\n${USAGE}`, 2);
      output = args[++i];
    } else if (arg.startsWith("-") && arg !== "-") {
      fail(`unknown option ${arg}\n${USAGE}`, 2);
    } else if (trace === null) {
      trace = arg;
    } else {
      fail(`one trace at a time (also given: ${arg})\n${USAGE}`, 2);
    }
  }
  if (trace === null) fail(`no trace given\n${USAGE}`, 2);
  return { trace, output: output ?? trace.replace(/(\.[^./\\]*)?$/, ".html") };
}

const { trace, output } = parseArguments(process.argv.slice(2));
let text;
try {
  text = readFileSync(trace, "utf8");
} catch (error) {
  fail(`cannot read ${trace}: ${error.message}`);
}
if (!firstEntry(text)) fail(`${trace} is not a trace: none of its first lines is a {"time","direction","text"} entry`);
const page = reportPage(text, basename(trace));

if (output === "-") {
  process.stdout.write(page);
} else {
  if (resolve(output) === resolve(trace)) fail(`the report would overwrite the trace itself; name another file with -o`);
  // Written beside its final name and moved there whole, so a failed write leaves no half page.
  const partial = `${output}.partial-${process.pid}`;
  try {
    mkdirSync(dirname(resolve(output)), { recursive: true });
    writeFileSync(partial, page);
    renameSync(partial, output);
  } catch (error) {
    rmSync(partial, { force: true });
    fail(`cannot write ${output}: ${error.message}`);
  }
  const lines = text.split("\n").filter((line) => line.trim()).length;
  process.stderr.write(`Wrote ${output} (${lines} trace lines)\n`);
}
