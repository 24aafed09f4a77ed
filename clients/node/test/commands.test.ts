import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { test } from "node:test";

import { COMMANDS } from "../src/index.js";
import { repo } from "./support.js";

test("the client's commands are the runtime's own table, in its order", () => {
  const table = readFileSync(join(repo, "src", "protocol", "command_table.cpp"), "utf8");
  const names = [...table.matchAll(/^\s+"([a-z_]+)",?$/gm)].map((match) => match[1]);
  assert.equal(names.length, 107);
  assert.deepEqual([...COMMANDS], names);
});
