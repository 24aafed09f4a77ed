#!/usr/bin/env python3
"""Plays a short front-end session against quern-runtime and shows both sides.

Usage: demo_session.py RUNTIME_BINARY PROJECT_DIR
"""

import json
import os
import subprocess
import sys
import threading
import time

SESSION = [
    (0.0, {"id": 1, "command": "status"}),
    (0.3, {"id": 2, "command": "generate", "payload": {"prompt": "tea", "steps": 3}}),
    (0.1, {"id": 3, "command": "status"}),
    (1.2, {"id": "x", "command": "launch_rockets"}),
    (0.2, {"id": 4, "command": "generate", "payload": {"prompt": "long", "steps": 50}}),
    (0.5, {"id": 5, "command": "cancel", "payload": {"target": 4}}),
    (0.5, {"id": 6, "command": "shutdown"}),
]

_print_lock = threading.Lock()
_started = time.monotonic()


def show(arrow, text):
    with _print_lock:
        print(f"{time.monotonic() - _started:6.2f}s {arrow} {text}", flush=True)


def pump(stream, arrow):
    for raw in stream:
        show(arrow, raw.decode("utf-8", "replace").rstrip("\n"))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    runtime, project = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    print(f"Starting: quern-runtime --project {project}")
    print("  -> request written to the runtime's stdin")
    print("  <- record read from its stdout")
    print("  !! line on its stderr (the backend's log and the runtime's notes)\n")
    process = subprocess.Popen([runtime, "--project", project], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    readers = [threading.Thread(target=pump, args=(process.stdout, "<-")),
               threading.Thread(target=pump, args=(process.stderr, "!!"))]
    for reader in readers:
        reader.start()
    for pause, request in SESSION:
        time.sleep(pause)
        line = json.dumps(request, separators=(",", ":"))
        show("->", line)
        process.stdin.write(line.encode() + b"\n")
        process.stdin.flush()
    process.stdin.close()
    status = process.wait(timeout=120)
    for reader in readers:
        reader.join()
    print(f"\nquern-runtime exited with status {status}")
    sys.exit(status)


if __name__ == "__main__":
    main()
