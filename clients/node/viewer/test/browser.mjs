// Starts the system's Chromium headless for the viewer's tests and benchmark. It never downloads
// a browser: CHROMIUM names one, else the first of the usual names on the PATH is taken.
import { accessSync, constants, mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { delimiter, join } from "node:path";

import puppeteer from "puppeteer-core";

export function findChromium() {
  if (process.env.CHROMIUM) return process.env.CHROMIUM;
  for (const name of ["chromium", "chromium-browser", "google-chrome"]) {
    for (const dir of (process.env.PATH ?? "").split(delimiter)) {
      try {
        accessSync(join(dir, name), constants.X_OK);
        return join(dir, name);
      } catch {
        // not here
      }
    }
  }
  throw new Error("no Chromium found: install it (scripts/ensure-deps.sh test) or name it with CHROMIUM=/path/to/chromium");
}

/** A headless Chromium with a profile of its own; close() ends it and removes the profile. */
export async function launchChromium() {
  const profile = mkdtempSync(join(tmpdir(), "quern-viewer-chromium-"));
  const browser = await puppeteer.launch({
    executablePath: findChromium(),
    headless: true,
    userDataDir: profile,
    timeout: 30_000,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
      "--disable-component-update", "--disable-sync"],
  });
  return {
    browser,
    async close() {
      await browser.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

/** Opens `url` and waits until the viewer has drawn its trace (or failed); returns the page. */
export async function openViewer(browser, url, { width = 1500, height = 1000 } = {}) {
  const page = await browser.newPage();
  await page.setViewport({ width, height });
  await page.goto(url, { waitUntil: "load", timeout: 20_000 });
  await settled(page);
  return page;
}

/** Waits for the viewer to finish a load and fails with what it shows when that is not a drawn trace. */
export async function settled(page, timeout = 20_000) {
  try {
    await page.waitForFunction(() => ["ready", "failed"].includes(document.body.dataset.state), { timeout });
  } catch (error) {
    const state = await page.evaluate(() => document.body.dataset.state);
    throw new Error(`the viewer was still "${state}" after ${timeout} ms, waiting for it to be ready`, { cause: error });
  }
  const [state, message] = await page.evaluate(() => [document.body.dataset.state, document.getElementById("message").textContent]);
  if (state !== "ready") throw new Error(`the viewer did not draw the trace: ${message}`);
}
