// A front end in a few lines: start the runtime on the demo project, ask for
// its status, generate with progress, cancel a long generation, see a refusal,
// and shut down. Run from the repository with `make node-example`, or
//   node main.mjs [RUNTIME_BINARY] [PROJECT_DIR]
import { resolve } from "node:path";
import { fileURLToPath } from "node:url";

import { QuernRequestError, QuernRuntime } from "quern-runtime-client";

const repo = fileURLToPath(new URL("../../", import.meta.url));
const runtimePath = resolve(process.argv[2] ?? `${repo}build/release/bin/quern-runtime`);
const project = resolve(process.argv[3] ?? `${repo}examples/demo-project`);
const started = Date.now();
const show = (text) => console.log(`${((Date.now() - started) / 1000).toFixed(2)}s ${text}`);

const runtime = await QuernRuntime.start({
  runtimePath,
  project,
  onNote: (line) => show(`stderr  ${line}`),
});
runtime.on("fatal", (message) => show(`fatal   ${message}`));

show(`status  -> ${JSON.stringify(await runtime.request("status"))}`);

const text = await runtime.request("generate", { prompt: "tea", steps: 3 }, {
  onEvent: (record) => show(`progress ${record.step}/${record.total}`),
});
show(`generate -> ${JSON.stringify(text)}`);

// Its outcome is taken at once: the cancelled request's answer may come
// before the cancel's own has been awaited.
const long = runtime.request("generate", { prompt: "long", steps: 50 }, { id: "long-job" }).then(
  (result) => JSON.stringify(result),
  (error) => error.message,
);
show(`cancel  -> ${JSON.stringify(await runtime.request("cancel", { target: "long-job" }))}`);
show(`generate "long-job" -> ${await long}`);

try {
  await runtime.request("status", "not an object");
} catch (error) {
  if (!(error instanceof QuernRequestError)) throw error;
  show(`refused -> ${error.message}`);
}

const exit = await runtime.shutdown();
show(`exit    -> ${JSON.stringify(exit)}`);
process.exitCode = exit.status === 0 ? 0 : 1;
