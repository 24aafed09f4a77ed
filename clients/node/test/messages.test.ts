import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { test } from "node:test";

import { EXIT_MESSAGES, REFUSALS } from "../src/messages.js";
import { repo } from "./support.js";

// The first quoted text of each row of the table that follows a heading.
function tableMessages(doc: string, heading: string): string[] {
  const section = doc.slice(doc.indexOf(heading));
  const table = section.slice(section.indexOf("\n|")).split(/\n(?!\|)/)[0];
  return [...table.matchAll(/^\| `([^`]+)`/gm)].map((match) => match[1]);
}

test("the client tells refusals and exit messages by the lists in docs/protocol.md, in order", () => {
  const doc = readFileSync(join(repo, "docs", "protocol.md"), "utf8");
  assert.deepEqual([...REFUSALS], tableMessages(doc, "### Refusals"));
  assert.deepEqual([...EXIT_MESSAGES], tableMessages(doc, "| Exit message |"));
});
