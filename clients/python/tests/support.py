"""What the tests share: a record stream with bounded waits, a backend served
in-process over pipes, and a project run by the real runtime."""

from __future__ import annotations

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
from typing import Any, Callable, Dict, List, Optional

from quern_runtime_backend import Backend
from vendor import vendor

REPO = Path(__file__).resolve().parents[3]
PACKAGE = REPO / "clients" / "python" / "quern_runtime_backend"
RUNTIME = Path(os.environ.get("QUERN_RUNTIME", REPO / "build" / "release" / "bin" / "quern-runtime"))

# Every wait has its own bound; an answer that should come at once gets this.
PROMPT = 5.0


class Lines:
    """The lines of one stream, read on a thread of their own, awaited with a bound."""

    def __init__(self, stream: Any, parse: bool) -> None:
        self._queue: "queue.Queue[Any]" = queue.Queue()
        self.seen: List[Any] = []
        self._thread = threading.Thread(target=self._pump, args=(stream, parse), daemon=True)
        self._thread.start()

    def _pump(self, stream: Any, parse: bool) -> None:
        with stream:
            for raw in stream:
                text = raw.decode("utf-8", "replace").rstrip("\n")
                self._queue.put(json.loads(text) if parse else text)
        self._queue.put(EOFError)

    def next(self, what: str, timeout: float = PROMPT) -> Any:
        try:
            item = self._queue.get(timeout=timeout)
        except queue.Empty:
            raise AssertionError(f"waited {timeout} s for {what}; had seen {self.seen[-10:]}") from None
        if item is EOFError:
            self._queue.put(EOFError)
            raise AssertionError(f"the stream ended while waiting for {what}; had seen {self.seen[-10:]}")
        self.seen.append(item)
        return item

    def until(self, predicate: Callable[[Any], bool], what: str, timeout: float = PROMPT) -> Any:
        while True:
            item = self.next(what, timeout)
            if predicate(item):
                return item

    def answer(self, request_id: Any, timeout: float = PROMPT) -> Dict[str, Any]:
        return self.until(lambda r: r.get("type") == "response" and r.get("id") == request_id,
                          f"the answer to {request_id!r}", timeout)

    def answers(self, count: int, timeout: float = PROMPT) -> Dict[Any, List[Dict[str, Any]]]:
        """Reads until `count` answers have come; every record read, by id, in order."""
        by_id: Dict[Any, List[Dict[str, Any]]] = {}
        answered = 0
        while answered < count:
            record = self.next(f"{count} answers (have {answered})", timeout)
            by_id.setdefault(json.dumps(record.get("id")), []).append(record)
            answered += record["type"] == "response"
        return {json.loads(key): records for key, records in by_id.items()}

    def rest(self, timeout: float = PROMPT) -> List[Any]:
        """Everything up to the end of the stream."""
        self._thread.join(timeout)
        if self._thread.is_alive():
            raise AssertionError(f"the stream did not end within {timeout} s; had seen {self.seen[-10:]}")
        items = []
        while True:
            item = self._queue.get_nowait()
            if item is EOFError:
                self._queue.put(EOFError)
                return items
            self.seen.append(item)
            items.append(item)


def request_line(request_id: Any, command: str, payload: Optional[Dict[str, Any]] = None) -> bytes:
    return json.dumps({"id": request_id, "command": command, "payload": payload or {}}).encode() + b"\n"


class Served:
    """A Backend served in-process on two pipes, as the runtime would feed it.

    The library's lines for people are kept in `log` for the test's duration.
    """

    def __init__(self, test: unittest.TestCase, backend: Backend) -> None:
        self.log = io.StringIO()
        saved, sys.stderr = sys.stderr, self.log
        test.addCleanup(setattr, sys, "stderr", saved)
        requests_r, self._requests = os.pipe()
        records_r, records_w = os.pipe()
        self.finished: Optional[bool] = None

        def serve() -> None:
            try:
                self.finished = backend.serve(requests_r, records_w)
            finally:
                os.close(records_w)
                os.close(requests_r)

        self._thread = threading.Thread(target=serve, daemon=True)
        self._thread.start()
        self.records = Lines(os.fdopen(records_r, "rb"), parse=True)

    def send(self, request_id: Any, command: str, payload: Optional[Dict[str, Any]] = None) -> None:
        os.write(self._requests, request_line(request_id, command, payload))

    def close_input(self) -> None:
        os.close(self._requests)

    def stopped(self, timeout: float = PROMPT) -> List[Dict[str, Any]]:
        """Waits for serve() to return; the records written after the last one awaited."""
        self._thread.join(timeout)
        if self._thread.is_alive():
            raise AssertionError(f"serve() did not return within {timeout} s")
        return self.records.rest()


class Project:
    """A project directory with a virtual environment and the given backend.

    The library is vendored next to quern/ unless the venv has it installed.
    """

    def __init__(self, backend_source: str, vendored: bool = True, with_pip: bool = False) -> None:
        self.root = Path(tempfile.mkdtemp(prefix="quern-python-test-"))
        venv = [sys.executable, "-m", "venv"] + ([] if with_pip else ["--without-pip"])
        subprocess.run(venv + [str(self.root / ".venv")], check=True, timeout=120)
        (self.root / "quern").mkdir()
        (self.root / "quern" / "__init__.py").write_text("")
        (self.root / "quern" / "gui_backend.py").write_text(textwrap.dedent(backend_source))
        if vendored:
            vendor(self.root)

    @property
    def python(self) -> Path:
        scripts = "Scripts" if os.name == "nt" else "bin"
        return self.root / ".venv" / scripts / ("python.exe" if os.name == "nt" else "python")

    def remove(self) -> None:
        shutil.rmtree(self.root, ignore_errors=True)


class Runtime:
    """The real runtime on a project: requests in, records and stderr lines out."""

    def __init__(self, project: Project) -> None:
        self.process = subprocess.Popen([str(RUNTIME), "--project", str(project.root)], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.records = Lines(self.process.stdout, parse=True)
        self.stderr = Lines(self.process.stderr, parse=False)

    def send(self, request_id: Any, command: str, payload: Optional[Dict[str, Any]] = None) -> None:
        self.send_lines(request_line(request_id, command, payload))

    def send_lines(self, lines: bytes) -> None:
        assert self.process.stdin is not None
        self.process.stdin.write(lines)
        self.process.stdin.flush()

    def close_input(self) -> None:
        assert self.process.stdin is not None
        self.process.stdin.close()

    def exit_code(self, timeout: float = 30.0) -> int:
        assert self.process.stdin is not None
        if not self.process.stdin.closed:
            self.process.stdin.close()
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise AssertionError(f"the runtime did not exit within {timeout} s") from None

    def notes(self) -> List[str]:
        """Every stderr line, once the runtime has ended."""
        self.stderr.rest()
        return self.stderr.seen


class RuntimeTest(unittest.TestCase):
    """Skips where the runtime has not been built."""

    def setUp(self) -> None:
        if not RUNTIME.is_file():
            self.skipTest(f"no runtime at {RUNTIME} (make build, or set QUERN_RUNTIME)")

    def run_backend(self, source: str) -> Runtime:
        project = Project(source)
        self.addCleanup(project.remove)
        return self.start(project)

    def start(self, project: Project) -> Runtime:
        runtime = Runtime(project)
        self.addCleanup(lambda: runtime.process.poll() is None and runtime.process.kill())
        return runtime
