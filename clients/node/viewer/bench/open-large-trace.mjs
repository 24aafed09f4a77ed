// How long headless Chromium takes to open a report of a large trace: from the start of the
// navigation to the first paint of its timeline (the page marks "timeline-painted" in the frame
// after the one that drew it). Also times a change of filter and a jump to the end.
//   node viewer/bench/open-large-trace.mjs [LINES (100000)] [RUNS (5)]
// The report is left in build/viewer-bench/ of the repository, to open by hand.
import { mkdirSync, writeFileSync } from "node:fs";
import { cpus } from "node:os";
import { join } from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";

import { reportPage } from "../report.mjs";
import { launchChromium, settled } from "../test/browser.mjs";
import { syntheticTrace } from "./synthetic-trace.mjs";

const lines = Number(process.argv[2] ?? 100_000);
const runs = Number(process.argv[3] ?? 5);
const repo = fileURLToPath(new URL("../../../../", import.meta.url));
const dir = join(repo, "build", "viewer-bench");
mkdirSync(dir, { recursive: true });
const trace = syntheticTrace(lines);
const report = join(dir, `trace-${lines}.html`);
writeFileSync(report, reportPage(trace, `synthetic-${lines}.jsonl`));

const median = (values) => [...values].sort((a, b) => a - b)[values.length >> 1];
const chromium = await launchChromium();
const version = await chromium.browser.version();
const measured = { open: [], html: [], read: [], filter: [], end: [] };
try {
  for (let run = 0; run < runs; run++) {
    const page = await chromium.browser.newPage();
    await page.setViewport({ width: 1500, height: 1000 });
    await page.goto(pathToFileURL(report).href, { waitUntil: "load", timeout: 60_000 });
    await settled(page, 60_000);
    measured.open.push(await page.evaluate(() => performance.getEntriesByName("timeline-painted")[0].startTime));
    const [html, read] = await page.evaluate(() => ["viewer-start", "trace-read"].map((name) => performance.getEntriesByName(name)[0].startTime));
    measured.html.push(html);
    measured.read.push(read - html);
    // Each from the change to the frame after the one that shows it.
    measured.filter.push(await page.evaluate(async () => {
      const start = performance.now();
      document.querySelector('#kind-filters input[value="ok"]').click();
      await new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done)));
      return performance.now() - start;
    }));
    measured.end.push(await page.evaluate(async () => {
      const start = performance.now();
      const viewport = document.getElementById("viewport");
      viewport.scrollTop = viewport.scrollHeight;
      await new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done)));
      return performance.now() - start;
    }));
    await page.close();
  }
} finally {
  await chromium.close();
}

const show = (values) => `median ${median(values).toFixed(0)} ms, min ${Math.min(...values).toFixed(0)}, max ${Math.max(...values).toFixed(0)}`;
console.log(`viewer benchmark: ${lines} trace lines, ${(trace.length / 2 ** 20).toFixed(1)} MiB, ${runs} runs`);
console.log(`machine: ${cpus().length} CPUs, ${cpus()[0]?.model ?? "unknown"}; ${version}, headless`);
console.log(`open to the timeline's first paint: ${show(measured.open)}`);
console.log(`  of which the page's HTML up to its script: ${show(measured.html)}`);
console.log(`  and reading the trace (parse, match, summarise): ${show(measured.read)}`);
console.log(`hide the ok requests, to the next paint: ${show(measured.filter)}`);
console.log(`scroll to the last row, to the next paint: ${show(measured.end)}`);
