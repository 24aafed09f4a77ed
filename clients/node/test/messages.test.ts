import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { test } from "node:test";

import { EXIT_MESSAGES, REFUSALS } from "../src/messages.js";
import { repo } from "./support.js";

test("the client knows refusals and exit messages by the tables of docs/protocol.md, in order", () => {
  const doc = readFileSync(join(repo, "docs", "protocol.md"), "utf8");
  // The first quoted text of each row of the table after the heading.
  const messages = (heading: string) => {
    const table = doc.slice(doc.indexOf("\n|", doc.indexOf(heading))).split(/\n(?!\|)/)[0];
    return [...table.matchAll(/^\| `([^`]+)`/gm)].map((match) => match[1]);
  };
  assert.deepEqual([...REFUSALS], messages("### Refusals"));
  assert.deepEqual([...EXIT_MESSAGES], messages("| Exit message |"));
});
