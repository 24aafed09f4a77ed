// The viewer in a real browser: pages made by quern-trace-view from a recorded session and from
// made-up traces, checked for what a person looks at. A screenshot of the recorded session is left
// in build/viewer-test/ of the repository.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { existsSync, mkdirSync, mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { after, before, describe, test } from "node:test";
import { fileURLToPath, pathToFileURL } from "node:url";

import { syntheticTrace } from "../bench/synthetic-trace.mjs";
import { reportPage } from "../report.mjs";
import { launchChromium, openViewer, settled } from "./browser.mjs";

const here = fileURLToPath(new URL(".", import.meta.url));
const repo = join(here, "..", "..", "..", "..");
const fixture = join(here, "fixtures", "session.jsonl");
const cli = join(here, "..", "quern-trace-view.mjs");
const options = { timeout: 60_000 };

let chromium, work, sessionUrl;

before(async () => {
  work = mkdtempSync(join(tmpdir(), "quern-viewer-test-"));
  const made = spawnSync(process.execPath, [cli, fixture, "-o", join(work, "session.html")], { encoding: "utf8" });
  assert.equal(made.status, 0, `quern-trace-view failed: ${made.stderr}`);
  sessionUrl = pathToFileURL(join(work, "session.html")).href;
  chromium = await launchChromium();
});

after(async () => {
  await chromium?.close();
  rmSync(work, { recursive: true, force: true });
});

/** A page made from `lines` (entries, or lines as they are). */
async function openTrace(lines, name) {
  const path = join(work, `${name}.html`);
  const trace = lines.map((line) => typeof line === "string" ? line : JSON.stringify(line)).join("\n") + "\n";
  writeFileSync(path, reportPage(trace, `${name}.jsonl`));
  return openViewer(chromium.browser, pathToFileURL(path).href);
}

/** The drawn rows, top to bottom, as the texts of their cells (time, id, command, outcome, latency, text),
 * once the frame the page asked for after the last change has drawn them. */
const rowCells = (page) => page.evaluate(async () => {
  await new Promise((done) => requestAnimationFrame(done));
  return [...document.querySelectorAll("#rows .row")].sort((a, b) => a.offsetTop - b.offsetTop)
    .map((row) => [...row.children].slice(0, 6).map((cell) => cell.textContent));
});

/** Clicks the drawn row of `index` with the mouse, after the frame that redraws the rows. */
async function clickRow(page, index) {
  await page.evaluate(() => new Promise((done) => requestAnimationFrame(done)));
  await page.click(`#rows .row[data-row="${index}"]`);
}

const text = (page, selector) => page.$eval(selector, (element) => element.textContent);

describe("a recorded session", () => {
  test("one row per request with its outcome, latency and answer, then standard error and the end", options, async () => {
    const page = await chromium.browser.newPage();
    const fetched = [];
    page.on("request", (request) => fetched.push(request.url()));
    await page.setViewport({ width: 1500, height: 1000 });
    await page.goto(sessionUrl, { waitUntil: "load", timeout: 20_000 });
    await settled(page);
    assert.deepEqual(fetched, [sessionUrl], "the page fetches nothing but itself");

    const rows = await rowCells(page);
    assert.deepEqual(rows.map(([, id, command, outcome, latency]) => [id, command, outcome, latency]), [
      ["1", "status", "ok", "21.3 ms"],
      ["", "stderr", "standard error", ""],
      ["2", "generate", "ok", "602 ms"],
      ["2", "status", "refused", "0.45 ms"],
      ['"7"', "status", "ok", "0.61 ms"],
      ["7", "status", "ok", "0.71 ms"],
      ["7.0", "status", "ok", "0.50 ms"],
      ["8", "train", "backend error", "0.98 ms"],
      ['"x"', "launch_rockets", "refused", "0.34 ms"],
      ["", "(not JSON)", "refused", "0.44 ms"],
      ["10", "status", "refused", "0.34 ms"],
      ["11", "generate", "ended by the exit", "510 ms"],
      ["12", "shutdown", "ok", "4.04 ms"],
      ["", "stderr", "standard error", ""],
      ["", "exit", "end of the run", ""],
    ]);
    const answers = rows.map((cells) => cells[5]);
    assert.equal(answers[3], "Request id is already pending");
    assert.equal(answers[8], "Unknown command; use a supported Quern training or generation command");
    assert.equal(answers[9], "Malformed request JSON: EOF while parsing an object at line 1 column 29");
    assert.equal(answers[10], "Unknown request envelope field");
    assert.equal(answers[11], "Python backend exited (exit code: 0)");
    assert.equal(await page.$$eval('#rows .row[data-row="2"] .tick', (ticks) => ticks.length), 3, "generate 2 has its 3 progress events");
    assert.match(await text(page, "#fact-requests"), /^requests12 6 ok, 1 backend error, 4 refused, 1 ended by the exit$/);
    assert.equal(await text(page, "#fact-end"), "end of the runexit code 0 a clean stop");

    mkdirSync(join(repo, "build", "viewer-test"), { recursive: true });
    await page.screenshot({ path: join(repo, "build", "viewer-test", "session.png") });
    await page.close();
  });

  test("the summary counts each command's outcomes, its median and slowest latency", options, async () => {
    const page = await openViewer(chromium.browser, sessionUrl);
    const table = await page.$$eval("#summary tbody tr, #summary tfoot tr", (trs) => trs.map((tr) => [...tr.cells].map((td) => td.textContent)));
    assert.deepEqual(table, [
      ["status", "6", "4", "0", "2", "0", "0", "0.56 ms", "21.3 ms"],
      ["generate", "2", "1", "0", "0", "1", "0", "556 ms", "602 ms"],
      ["(not JSON)", "1", "0", "0", "1", "0", "0", "0.44 ms", "0.44 ms"],
      ["launch_rockets", "1", "0", "0", "1", "0", "0", "0.34 ms", "0.34 ms"],
      ["shutdown", "1", "1", "0", "0", "0", "0", "4.04 ms", "4.04 ms"],
      ["train", "1", "0", "1", "0", "0", "0", "0.98 ms", "0.98 ms"],
      ["all", "12", "6", "1", "4", "1", "0", "0.66 ms", "602 ms"],
    ]);
    await page.close();
  });

  test("clicking a row shows its request, answer and events as JSON, numbers as written", options, async () => {
    const page = await openViewer(chromium.browser, sessionUrl);
    await clickRow(page, 2);
    await page.waitForSelector("#details pre.json", { timeout: 5_000 });
    assert.deepEqual(await page.$$eval("#details pre.json", (pres) => pres.map((pre) => pre.textContent)), [
      '{\n  "id": 2,\n  "command": "generate",\n  "payload": {\n    "prompt": "tea",\n    "steps": 3\n  }\n}',
      '{\n  "id": 2,\n  "ok": true,\n  "result": {\n    "text": "tea-1 tea-2 tea-3"\n  },\n  "type": "response"\n}',
    ]);
    assert.equal(await page.$$eval("#details li", (items) => items.length), 3);

    await page.keyboard.press("ArrowDown");
    await page.waitForFunction(() => document.querySelector("#details h2")?.textContent === "Request 2 · status", { timeout: 5_000 });
    await clickRow(page, 6);
    assert.equal(await text(page, "#details pre.json"), '{\n  "id": 7.0,\n  "command": "status"\n}');
    await page.close();
  });

  test("filters by command, by outcome and by text", options, async () => {
    const page = await openViewer(chromium.browser, sessionUrl);
    const commands = async () => (await rowCells(page)).map((cells) => cells[2]);
    await page.select("#command-filter", "status");
    await page.click('#kind-filters input[value="stderr"]');
    await page.click('#kind-filters input[value="end"]');
    assert.deepEqual(await commands(), Array(6).fill("status"));
    await page.click('#kind-filters input[value="ok"]');
    assert.deepEqual((await rowCells(page)).map((cells) => cells[5]), ["Request id is already pending", "Unknown request envelope field"]);
    await page.click('#summary tbody tr[data-command="train"]');
    assert.deepEqual(await commands(), ["train"]);
    await page.click('#summary tbody tr[data-command="train"]'); // a second click shows every command again
    await page.type("#text-filter", "rockets");
    await page.waitForFunction(() => document.querySelectorAll("#rows .row").length === 1, { timeout: 5_000 });
    assert.deepEqual(await commands(), ["launch_rockets"]);
    assert.equal(await text(page, "#shown-count"), "showing 1 of 15 rows");
    await page.close();
  });

  test("the bare viewer page opens a trace picked with its file input, then one dropped on it", options, async () => {
    const page = await chromium.browser.newPage();
    await page.goto(pathToFileURL(join(here, "..", "trace-viewer.html")).href, { waitUntil: "load", timeout: 20_000 });
    assert.equal(await page.evaluate(() => document.body.dataset.state), "empty");
    await (await page.$("#file-input")).uploadFile(fixture);
    await settled(page);
    assert.equal(await text(page, "#trace-name"), "session.jsonl");
    assert.equal((await rowCells(page)).length, 15);

    await page.evaluate(() => {
      const files = new DataTransfer();
      files.items.add(new File(['{"time":1,"direction":"send","text":"{\\"id\\":1,\\"command\\":\\"status\\"}"}\n'], "dropped.jsonl"));
      document.body.dataset.state = "dropping";
      window.dispatchEvent(new DragEvent("drop", { dataTransfer: files, cancelable: true }));
    });
    await settled(page);
    assert.equal(await text(page, "#trace-name"), "dropped.jsonl");
    assert.deepEqual((await rowCells(page)).map((cells) => cells.slice(1, 4)), [["1", "status", "no answer"]]);
    await page.close();
  });
});

test("an unclean end: the fatal message, the exit, what the exit answered, records tied to no request", options, async () => {
  const at = (ms) => 1_800_000_000_000 + ms;
  const page = await openTrace([
    { time: at(0), direction: "send", text: '{"id":1,"command":"generate","payload":{"steps":9}}' },
    { time: at(5), direction: "receive", text: '{"id":1,"step":1,"type":"progress"}' },
    { time: at(6), direction: "receive", text: '{"level":"info","type":"log"}' },
    { time: at(7), direction: "receive", text: '{"id":99,"step":1,"type":"progress"}' },
    { time: at(8), direction: "send", text: '{"id":"b","command":"train"}' },
    { time: at(8), direction: "send", text: '{"id":1.0,"command":"status"}' }, // not the id 1
    { time: at(9), direction: "receive", text: '{"id":1.0,"ok":true,"result":{},"type":"response"}' },
    { time: at(9), direction: "stderr", text: "Traceback </script><!-- <b>not bold</b>" },
    { time: at(9), direction: "a later kind", text: "" },
    { time: at(30), direction: "receive", text: '{"error":"Python backend exited (exit code: 3)","id":1,"ok":false,"type":"response"}' },
    { time: at(31), direction: "receive", text: '{"error":"Python backend exited (exit code: 3)","id":"b","ok":false,"type":"response"}' },
    { time: at(32), direction: "receive", text: '{"error":"Python backend exited (exit code: 3)","type":"fatal"}' },
    { time: at(33), direction: "exit", text: "exit code 1", code: 1, signal: null },
    "not a trace line",
  ], "crash");
  const rows = await rowCells(page);
  assert.deepEqual(rows.map(([, id, command, outcome]) => [id, command, outcome]), [
    ["1", "generate", "ended by the exit"],
    ["", "log", "no request"],
    ["99", "progress", "no request"],
    ['"b"', "train", "ended by the exit"],
    ["1.0", "status", "ok"],
    ["", "stderr", "standard error"],
    ["", "fatal", "end of the run"],
    ["", "exit", "end of the run"],
  ]);
  assert.equal(rows[5][5], "Traceback </script><!-- <b>not bold</b>");
  assert.equal(await text(page, "#fact-end"), "end of the runexit code 1 Python backend exited (exit code: 3)");
  assert.equal(await text(page, "#fact-records"), "records tied to no request2");
  assert.equal(await text(page, "#problems"),
    "1 line is not trace entries and were skipped: line 14 (not JSON). 1 entry of unknown directions ignored.");
  await page.close();
});

test("a long trace: only the rows on screen are in the page, and the last row can be reached", options, async () => {
  const path = join(work, "long.html");
  writeFileSync(path, reportPage(syntheticTrace(20_000), "long.jsonl"));
  const page = await openViewer(chromium.browser, pathToFileURL(path).href);
  assert.ok((await rowCells(page)).length < 100, "rows off screen are not drawn");
  await page.$eval("#viewport", (viewport) => { viewport.scrollTop = viewport.scrollHeight; });
  await page.waitForFunction(() => [...document.querySelectorAll("#rows .c-command")].some((cell) => cell.textContent === "exit"), { timeout: 5_000 })
    .catch(async () => assert.fail(`no exit row after scrolling to the end; drawn: ${JSON.stringify((await rowCells(page)).slice(-3))}`));
  await page.close();
});

test("quern-trace-view refuses a file that is not a trace and writes nothing", () => {
  const notTrace = join(work, "notes.txt");
  writeFileSync(notTrace, "hello\n");
  const run = spawnSync(process.execPath, [cli, notTrace], { encoding: "utf8" });
  assert.equal(run.status, 1);
  assert.match(run.stderr, /notes\.txt is not a trace/);
  assert.equal(existsSync(join(work, "notes.html")), false);
});
