"""The backend a project writes: handlers registered by command name, then run()."""

from __future__ import annotations

import os
import sys
import threading
from pathlib import Path
from typing import Any, Callable, Dict, List, Optional, TypeVar

from .commands import check_command
from .dispatch import Handler, HandlerSpec, Server
from .records import RecordWriter, event_record, log
from .streams import take_over_standard_streams

H = TypeVar("H", bound=Handler)
Hook = TypeVar("Hook", bound=Callable[[], None])

DEFAULT_WORKERS = 4
# Well inside the runtime's 75 s: time enough for handlers to notice
# ctx.cancelled, and for the answers and the exit after them.
DEFAULT_SHUTDOWN_GRACE = 30.0


class Backend:
    """A quern-runtime backend: a handler per command, run() serves them.

        backend = Backend()

        @backend.command("status")
        def status(payload, ctx):
            return {"state": "idle"}

        backend.run()

    workers: threads for the handlers that are not exclusive; shutdown_grace:
    seconds a shutdown waits for running handlers before it answers them as
    unfinished and exits.
    """

    def __init__(self, workers: int = DEFAULT_WORKERS, shutdown_grace: float = DEFAULT_SHUTDOWN_GRACE) -> None:
        if not isinstance(workers, int) or workers < 1:
            raise ValueError(f"workers must be a positive integer, not {workers!r}")
        if not 0 <= shutdown_grace <= 60:
            raise ValueError(f"shutdown_grace must be between 0 and 60 seconds (the runtime allows 75), "
                             f"not {shutdown_grace!r}")
        self.workers = workers
        self.shutdown_grace = float(shutdown_grace)
        self._handlers: Dict[str, HandlerSpec] = {}
        self._fallback: Optional[HandlerSpec] = None
        self._on_shutdown: List[Callable[[], None]] = []
        self._server: Optional[Server] = None
        self._serving = threading.Lock()

    def command(self, name: str, *, exclusive: bool = False) -> Callable[[H], H]:
        """Registers the decorated function(payload, ctx) as the handler of command `name`.

        Its return value (any JSON value) is the answer's "result"; what it
        raises makes the answer "ok": false. An async function runs on the
        backend's event loop thread. exclusive=True: the exclusive handlers
        run one at a time, in the order their requests came, on a thread of
        their own, beside the others.
        """
        check_command(name)
        if name in self._handlers:
            raise ValueError(f"{name!r} has a handler already")

        def register(function: H) -> H:
            self._handlers[name] = HandlerSpec(_checked(function), exclusive)
            return function

        return register

    def fallback(self, function: H) -> H:
        """Registers function(payload, ctx) for every command without a handler
        of its own (ctx.command names it). Without one, such a command is
        answered "ok": false with a message naming it."""
        self._fallback = HandlerSpec(_checked(function), False)
        return function

    def on_shutdown(self, function: Hook) -> Hook:
        """Registers function() to run once the shutdown has waited for the
        running handlers, before the shutdown request is answered."""
        self._on_shutdown.append(_checked(function))
        return function

    def event(self, type: str, **fields: Any) -> None:
        """Writes the record {"type": type, **fields}, tied to no request."""
        server = self._server
        if server is None:
            raise RuntimeError("backend.event() writes only while the backend runs")
        server.write_record(event_record(type, fields))

    @property
    def project(self) -> Path:
        """The project directory: the --project argument the runtime passes, or the working directory."""
        arguments = sys.argv[1:]
        if "--project" in arguments[:-1]:
            return Path(arguments[arguments.index("--project") + 1])
        return Path.cwd()

    def run(self) -> None:
        """Serves the runtime on the standard streams until a shutdown, then returns.

        From here on, standard output belongs to the library: sys.stdout and
        file descriptor 1 write to standard error. When a handler is still
        running after the grace period, the process exits (status 0) at once
        instead of returning, since that handler would keep it alive.
        """
        streams = take_over_standard_streams()
        if not self.serve(streams.requests_fd, streams.records_fd):
            log("exiting with handlers still running")
            for stream in (sys.stdout, sys.stderr):
                try:
                    stream.flush()
                except (AttributeError, OSError, ValueError):
                    pass
            os._exit(0)

    def serve(self, requests_fd: int, records_fd: int) -> bool:
        """Serves requests read from one descriptor, records written to another,
        leaving the process's own streams alone (run() is this on the standard
        streams, with their hygiene). Returns once shut down: True when no
        handler was left running."""
        if not self._serving.acquire(blocking=False):
            raise RuntimeError("this backend is serving already")
        try:
            server_box: List[Server] = []
            writer = RecordWriter(records_fd, lambda error: _output_lost(error, server_box))
            server = Server(dict(self._handlers), self._fallback, self.workers, self.shutdown_grace,
                            writer, list(self._on_shutdown))
            server_box.append(server)
            self._server = server
            try:
                return server.serve(requests_fd)
            finally:
                self._server = None
        finally:
            self._serving.release()


def _checked(function: Any) -> Any:
    if not callable(function):
        raise TypeError(f"a handler must be callable, not {function!r}")
    return function


def _output_lost(error: OSError, server_box: List[Server]) -> None:
    log(f"writing records failed, shutting down: {error}")
    for server in server_box:
        server.begin_shutdown()
