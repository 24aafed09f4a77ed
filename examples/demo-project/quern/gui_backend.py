"""A small demo backend for quern-runtime, standard library only.

The runtime starts it as `python -u -m quern.gui_backend --project DIR` and
writes one JSON request per line on its standard input. Every line this
backend prints on standard output is one JSON record with a string "type";
everything meant for people goes to standard error.

Commands:
  status    answers at once with the backend's state
  generate  streams "progress" events, then answers with the generated text;
            payload: {"prompt": str, "steps": int}
  cancel    stops a running generate; payload: {"target": <id of the generate>}
  shutdown  answers, then the backend exits
Every other allowed command is answered with ok false: the demo does not do it.
"""

import argparse
import json
import sys
import threading
import time

_write_lock = threading.Lock()


def log(message):
    print(f"[demo backend] {message}", file=sys.stderr, flush=True)


def emit(record):
    line = json.dumps(record, ensure_ascii=False, separators=(",", ":"))
    with _write_lock:
        sys.stdout.write(line + "\n")
        sys.stdout.flush()


def respond(request_id, result=None, error=None):
    record = {"type": "response", "id": request_id, "ok": error is None}
    if error is None:
        record["result"] = result if result is not None else {}
    else:
        record["error"] = error
    emit(record)


class Generator:
    """Runs one generate request at a time on a worker thread."""

    def __init__(self):
        self._cancel = threading.Event()
        self._running_id = None
        self._thread = None

    def busy(self):
        return self._thread is not None and self._thread.is_alive()

    def start(self, request_id, payload):
        prompt = str(payload.get("prompt", "hello"))
        steps = max(1, min(int(payload.get("steps", 5)), 100))
        self._cancel.clear()
        self._running_id = request_id
        self._thread = threading.Thread(target=self._run, args=(request_id, prompt, steps), daemon=True)
        self._thread.start()

    def cancel(self, target):
        if not self.busy() or (target is not None and target != self._running_id):
            return False
        self._cancel.set()
        return True

    def _run(self, request_id, prompt, steps):
        words = []
        for step in range(1, steps + 1):
            if self._cancel.wait(0.2):
                log(f"generate {request_id!r} cancelled after {step - 1} steps")
                respond(request_id, error="cancelled")
                return
            words.append(f"{prompt}-{step}")
            emit({"type": "progress", "id": request_id, "step": step, "total": steps})
        respond(request_id, {"text": " ".join(words)})


def serve(project_dir):
    started = time.monotonic()
    generator = Generator()
    log(f"serving project {project_dir}")
    for line in sys.stdin:
        try:
            request = json.loads(line)
        except ValueError:
            log("skipped a line that is not JSON")
            continue
        request_id = request.get("id")
        command = request.get("command")
        payload = request.get("payload") or {}
        if command == "status":
            respond(request_id, {"state": "generating" if generator.busy() else "idle",
                                 "uptime_s": round(time.monotonic() - started, 3)})
        elif command == "generate":
            if generator.busy():
                respond(request_id, error="a generate request is already running")
            else:
                generator.start(request_id, payload)
        elif command == "cancel":
            respond(request_id, {"cancelled": generator.cancel(payload.get("target"))})
        elif command == "shutdown":
            log("shutting down")
            respond(request_id, {"shutdown": True})
            return
        else:
            respond(request_id, error=f"the demo backend does not implement {command!r}")
    log("input closed")


def main():
    parser = argparse.ArgumentParser(prog="quern.gui_backend")
    parser.add_argument("--project", required=True)
    serve(parser.parse_args().project)


if __name__ == "__main__":
    main()
