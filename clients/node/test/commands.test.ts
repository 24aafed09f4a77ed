import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { test } from "node:test";

import { COMMANDS } from "../src/index.js";
import { repo } from "./support.js";

test("the client's commands and the protocol guide's are the runtime's own table, in its order", () => {
  const table = readFileSync(join(repo, "src", "protocol", "command_table.cpp"), "utf8");
  const names = [...table.matchAll(/^\s+"([a-z_]+)",?$/gm)].map((match) => match[1]);
  assert.notDeepEqual(names, []);
  assert.deepEqual([...COMMANDS], names);

  const guide = readFileSync(join(repo, "docs", "protocol.md"), "utf8");
  const section = guide.slice(guide.indexOf("## Allowed commands")).split("\n## ")[0];
  const list = section.split("\n\n").filter((paragraph) => paragraph.startsWith("`")).join(" ");
  assert.deepEqual([...list.matchAll(/`([a-z_]+)`/g)].map((match) => match[1]), names);
});
