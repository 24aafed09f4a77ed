"""What the tests share: record streams with bounded waits, a backend served
in-process over pipes, and a project run by the real runtime."""

import io
import json
import os
import queue
import shutil
import subprocess
import sys
import tempfile
import textwrap
import threading
import unittest
from pathlib import Path

from vendor import vendor

REPO = Path(__file__).resolve().parents[3]
PACKAGE = REPO / "clients" / "python" / "quern_runtime_backend"
RUNTIME = Path(os.environ.get("QUERN_RUNTIME", REPO / "build" / "release" / "bin" / "quern-runtime"))
PROMPT = 5.0  # the bound for what should come at once


class Lines:
    """One stream's lines (records, when parse), read on a thread, awaited with a bound."""

    def __init__(self, stream, parse):
        self._queue, self.seen = queue.Queue(), []
        self._thread = threading.Thread(target=self._pump, args=(stream, parse), daemon=True)
        self._thread.start()

    def _pump(self, stream, parse):
        with stream:
            for raw in stream:
                text = raw.decode("utf-8", "replace").rstrip("\n")
                self._queue.put(json.loads(text) if parse else text)
        self._queue.put(EOFError)

    def next(self, what, timeout=PROMPT):
        try:
            item = self._queue.get(timeout=timeout)
        except queue.Empty:
            raise AssertionError(f"waited {timeout} s for {what}; last seen: {self.seen[-5:]}") from None
        if item is EOFError:
            self._queue.put(EOFError)
            raise AssertionError(f"the stream ended while waiting for {what}; last seen: {self.seen[-5:]}")
        self.seen.append(item)
        return item

    def until(self, predicate, what):
        while not predicate(item := self.next(what)):
            pass
        return item

    def answers(self, count, timeout=PROMPT):
        """Reads until `count` answers have come: every record read, by id, in order."""
        by_id = {}
        while count:
            record = self.next(f"{count} more answers", timeout)
            by_id.setdefault(record.get("id"), []).append(record)
            count -= record["type"] == "response"
        return by_id

    def rest(self):
        """What comes up to the end of the stream."""
        self._thread.join(PROMPT)
        assert not self._thread.is_alive(), f"the stream did not end within {PROMPT} s"
        items = []
        while (item := self._queue.get_nowait()) is not EOFError:
            self.seen.append(item)
            items.append(item)
        self._queue.put(EOFError)
        return items


def request_line(request_id, command, payload=None):
    return json.dumps({"id": request_id, "command": command, "payload": payload or {}}).encode() + b"\n"


class Served:
    """A Backend served in-process on two pipes; the library's lines for people kept in `log`."""

    def __init__(self, test, backend):
        self.log = io.StringIO()
        test.addCleanup(setattr, sys, "stderr", sys.stderr)
        sys.stderr = self.log
        requests_r, self._requests = os.pipe()
        records_r, records_w = os.pipe()
        self.records = Lines(os.fdopen(records_r, "rb"), parse=True)

        def serve():
            self.finished = backend.serve(requests_r, records_w)
            os.close(records_w)
            os.close(requests_r)

        self._thread = threading.Thread(target=serve, daemon=True)
        self._thread.start()

    def send(self, request_id, command, payload=None):
        os.write(self._requests, request_line(request_id, command, payload))

    def close_input(self):
        os.close(self._requests)

    def stopped(self):
        """Waits for serve() to return: the records not awaited yet."""
        self._thread.join(PROMPT)
        assert not self._thread.is_alive(), f"serve() did not return within {PROMPT} s"
        return self.records.rest()


# cleanup: a test's addCleanup (or a class's addClassCleanup).
class Project:
    """A project with a virtual environment and the given backend, the library vendored unless told not."""

    def __init__(self, cleanup, backend_source, vendored=True, with_pip=False):
        self.root = Path(tempfile.mkdtemp(prefix="quern-python-test-"))
        cleanup(shutil.rmtree, self.root, True)
        subprocess.run([sys.executable, "-m", "venv", *([] if with_pip else ["--without-pip"]),
                        str(self.root / ".venv")], check=True, timeout=120)
        self.python = self.root / ".venv" / ("Scripts/python.exe" if os.name == "nt" else "bin/python")
        (self.root / "quern").mkdir()
        (self.root / "quern" / "__init__.py").write_text("")
        (self.root / "quern" / "gui_backend.py").write_text(textwrap.dedent(backend_source))
        if vendored:
            vendor(self.root)


class Runtime:
    """The real runtime on a project."""

    def __init__(self, cleanup, project):
        if not RUNTIME.is_file():
            raise unittest.SkipTest(f"no runtime at {RUNTIME} (make build, or set QUERN_RUNTIME)")
        self.process = subprocess.Popen([str(RUNTIME), "--project", str(project.root)], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        cleanup(lambda: self.process.poll() is None and self.process.kill())
        self.records = Lines(self.process.stdout, parse=True)
        self.stderr = Lines(self.process.stderr, parse=False)

    def send(self, request_id, command, payload=None):
        self.send_lines(request_line(request_id, command, payload))

    def send_lines(self, lines):
        self.process.stdin.write(lines)
        self.process.stdin.flush()

    def exit_code(self, timeout=30.0):
        """Closes the runtime's input (it then shuts down, if it has not yet) and awaits its exit."""
        self.process.stdin.close()
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"the runtime did not exit within {timeout} s") from None

    def notes(self):
        """Every stderr line, once the runtime has ended."""
        self.stderr.rest()
        return self.stderr.seen
