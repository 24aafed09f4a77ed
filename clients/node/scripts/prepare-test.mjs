// The tests run against the real runtime and the demo project of this
// repository: build the one and give the other its virtual environment when
// they are missing. QUERN_RUNTIME names another runtime executable instead.
import { execFileSync } from "node:child_process";
import { existsSync } from "node:fs";
import { fileURLToPath } from "node:url";

const repo = fileURLToPath(new URL("../../../", import.meta.url));
const make = (target) => execFileSync("make", ["-C", repo, target], { stdio: "inherit" });

if (!process.env.QUERN_RUNTIME && !existsSync(`${repo}build/release/bin/quern-runtime`)) make("build");
if (!existsSync(`${repo}examples/demo-project/.venv`)) make("examples/demo-project/.venv");
