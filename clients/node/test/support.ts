import { execFileSync } from "node:child_process";
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { fileURLToPath } from "node:url";

import { QuernRuntime, type StartOptions } from "../src/index.js";

// dist/test/ is four levels below the repository.
export const repo = fileURLToPath(new URL("../../../../", import.meta.url));
export const runtimePath = process.env.QUERN_RUNTIME ?? join(repo, "build", "release", "bin", "quern-runtime");
export const demoProject = join(repo, "examples", "demo-project");

/** A project of its own: a virtual environment and the given backend, removed by the returned function. */
export function projectWithBackend(backend: string): { project: string; remove: () => void } {
  const project = mkdtempSync(join(tmpdir(), "quern-client-test-"));
  execFileSync("python3", ["-m", "venv", "--without-pip", join(project, ".venv")]);
  mkdirSync(join(project, "quern"));
  writeFileSync(join(project, "quern", "__init__.py"), "");
  writeFileSync(join(project, "quern", "gui_backend.py"), backend);
  return { project, remove: () => rmSync(project, { recursive: true, force: true }) };
}

/** A project whose backend, test/order_backend.py, tells each request's place in the order it read them. */
export function orderProject(): { project: string; remove: () => void } {
  return projectWithBackend(readFileSync(join(repo, "clients", "node", "test", "order_backend.py"), "utf8"));
}

export function startOn(project: string, extra: Partial<StartOptions> = {}): Promise<QuernRuntime> {
  return QuernRuntime.start({ runtimePath, project, ...extra });
}

export async function rejection(promise: Promise<unknown>): Promise<Error> {
  try {
    await promise;
  } catch (error) {
    return error as Error;
  }
  throw new Error("the promise was expected to reject");
}
