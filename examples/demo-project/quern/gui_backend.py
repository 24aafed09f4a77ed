"""A small demo backend for quern-runtime, written on quern_runtime_backend.

The library is vendored next to this package (../quern_runtime_backend), so
the demo needs nothing beyond the standard library; it reads the requests,
answers each one, and answers cancel and shutdown itself.

Commands:
  status    answers at once with the backend's state
  generate  streams "progress" events, then answers with the generated text;
            payload: {"prompt": str, "steps": int}; one at a time
  cancel    (the library) stops a running generate; payload: {"target": <its id>}
  shutdown  (the library) waits for a running generate to stop, answers, exits
Every other allowed command is answered with ok false: the demo does not do it.
"""

import sys
import threading
import time

from quern_runtime_backend import Backend, Cancelled, CommandError

backend = Backend()
started = time.monotonic()
generating = threading.Lock()


def log(message):
    print(f"[demo backend] {message}", file=sys.stderr, flush=True)


@backend.command("status")
def status(payload, ctx):
    return {"state": "generating" if generating.locked() else "idle",
            "uptime_s": round(time.monotonic() - started, 3)}


@backend.command("generate")
def generate(payload, ctx):
    prompt = str(payload.get("prompt", "hello"))
    steps = max(1, min(int(payload.get("steps", 5)), 100))
    if not generating.acquire(blocking=False):
        raise CommandError("a generate request is already running")
    try:
        words = []
        for step in range(1, steps + 1):
            if ctx.cancelled.wait(0.2):
                log(f"generate {ctx.id!r} cancelled after {step - 1} steps")
                raise Cancelled()
            words.append(f"{prompt}-{step}")
            ctx.progress(step, steps)
        return {"text": " ".join(words)}
    finally:
        generating.release()


@backend.fallback
def not_implemented(payload, ctx):
    raise CommandError(f"the demo backend does not implement {ctx.command!r}")


@backend.on_shutdown
def farewell():
    log("shutting down")


if __name__ == "__main__":
    log(f"serving project {backend.project}")
    backend.run()
