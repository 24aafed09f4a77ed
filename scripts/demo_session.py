#!/usr/bin/env python3
"""Plays a short front-end session against quern-runtime and shows both sides.

Usage: demo_session.py RUNTIME_BINARY PROJECT_DIR [--trace TRACE.jsonl]

With --trace it also writes every line that passed to TRACE.jsonl, in the
trace format of the Node.js client (clients/node, `traceToFile`), which
`quern-trace-view TRACE.jsonl` draws as a page.
"""

import argparse
import json
import os
import signal
import subprocess
import sys
import threading
import time

# A request is a JSON object, written compactly, or a line written as it is.
SESSION = [
    (0.0, {"id": 1, "command": "status"}),
    (0.3, {"id": 2, "command": "generate", "payload": {"prompt": "tea", "steps": 3}}),
    (0.1, {"id": 3, "command": "status"}),
    (1.2, {"id": "x", "command": "launch_rockets"}),
    (0.1, '{"id": 7, "command": "status"'),
    (0.2, {"id": 4, "command": "generate", "payload": {"prompt": "long", "steps": 50}}),
    (0.5, {"id": 5, "command": "cancel", "payload": {"target": 4}}),
    (0.5, {"id": 6, "command": "shutdown"}),
]

ARROWS = {"send": "->", "receive": "<-", "stderr": "!!"}


class Session:
    """Shows each line as it passes and, when asked, writes it to a trace."""

    def __init__(self, trace_path):
        self._lock = threading.Lock()
        self._started = time.monotonic()
        # Line-buffered, so a session that breaks off still leaves every line it saw.
        self._trace = open(trace_path, "w", encoding="utf-8", buffering=1) if trace_path else None

    def note(self, direction, text, **extra):
        with self._lock:
            print(f"{time.monotonic() - self._started:6.2f}s {ARROWS.get(direction, '  ')} {text}", flush=True)
            if self._trace:
                entry = {"time": round(time.time() * 1000, 3), "direction": direction, "text": text, **extra}
                self._trace.write(json.dumps(entry, ensure_ascii=False, separators=(",", ":")) + "\n")

    def pump(self, stream, direction):
        for raw in stream:
            self.note(direction, raw.decode("utf-8", "replace").rstrip("\n"))

    def close(self):
        if self._trace:
            self._trace.close()


def exit_entry(status):
    if status < 0:
        name = signal.Signals(-status).name
        return f"signal {name}", {"code": None, "signal": name}
    return f"exit code {status}", {"code": status, "signal": None}


def play(runtime, project, session, trace_path=None):
    """Plays `session` ([(pause, request)]) against the runtime and returns its exit status."""
    shown = Session(trace_path)
    process = subprocess.Popen([runtime, "--project", project], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    readers = [threading.Thread(target=shown.pump, args=(process.stdout, "receive")),
               threading.Thread(target=shown.pump, args=(process.stderr, "stderr"))]
    for reader in readers:
        reader.start()
    try:
        for pause, request in session:
            time.sleep(pause)
            line = request if isinstance(request, str) else json.dumps(request, separators=(",", ":"))
            shown.note("send", line)
            process.stdin.write(line.encode() + b"\n")
            process.stdin.flush()
        process.stdin.close()
    except BrokenPipeError:
        print("(the runtime ended before the session did)", flush=True)
    try:
        status = process.wait(timeout=120)
    except subprocess.TimeoutExpired:
        process.kill()
        status = process.wait()
    for reader in readers:
        reader.join()
    text, fields = exit_entry(status)
    shown.note("exit", text, **fields)
    shown.close()
    return status


def main():
    parser = argparse.ArgumentParser(description="Plays a short front-end session against quern-runtime.")
    parser.add_argument("runtime", help="the quern-runtime executable")
    parser.add_argument("project", help="the project directory")
    parser.add_argument("--trace", metavar="TRACE.jsonl", help="also write what passed to this trace file")
    args = parser.parse_args()
    runtime, project = os.path.abspath(args.runtime), os.path.abspath(args.project)
    print(f"Starting: quern-runtime --project {project}")
    print("  -> request written to the runtime's stdin")
    print("  <- record read from its stdout")
    print("  !! line on its stderr (the backend's log and the runtime's notes)\n")
    status = play(runtime, project, SESSION, args.trace)
    print(f"\nquern-runtime exited with status {status}")
    if args.trace:
        print(f"Trace written to {args.trace}")
    sys.exit(status)


if __name__ == "__main__":
    main()
