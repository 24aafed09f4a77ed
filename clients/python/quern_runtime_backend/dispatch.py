"""Serving: requests in, handlers on threads, exactly one answer per request out."""

from __future__ import annotations

import asyncio
import functools
import inspect
import json
import os
import queue
import threading
import time
import traceback
from typing import Any, Callable, Dict, List, Optional

from .context import Context
from .errors import CANCELLED_MESSAGE, Cancelled, CommandError
from .records import RecordError, RecordWriter, encode_record, log

RUNTIME_SHUTDOWN_ID = "__runtime_shutdown__"
SHUTTING_DOWN_MESSAGE = "Backend is shutting down"
STILL_RUNNING_MESSAGE = "Backend shut down before the request finished"
CANCEL_PAYLOAD_MESSAGE = 'cancel needs the payload {"target": ID}'

Handler = Callable[[Any, Context], Any]

WAITING, RUNNING, ANSWERED = "waiting", "running", "answered"


class HandlerSpec:
    """A registered handler and how it runs."""

    def __init__(self, function: Handler, exclusive: bool) -> None:
        self.function = function
        self.exclusive = exclusive
        self.is_async = _is_coroutine_function(function)


def _is_coroutine_function(function: Any) -> bool:
    while isinstance(function, functools.partial):
        function = function.func
    return inspect.iscoroutinefunction(function) or inspect.iscoroutinefunction(getattr(function, "__call__", None))


def id_key(request_id: Any) -> str:
    """Ids match as exact JSON values: 7, 7.0 and "7" are three ids, as the runtime has it."""
    return json.dumps(request_id, ensure_ascii=False)


class _Request:
    def __init__(self, request_id: Any, command: str, payload: Any, session: Optional[str],
                 handler: HandlerSpec, server: "Server") -> None:
        self.id = request_id
        self.key = id_key(request_id)
        self.payload = payload
        self.handler = handler
        self.state = WAITING
        self.task: Optional["asyncio.Task[Any]"] = None
        self.ctx = Context(request_id, command, session, lambda record: server.write_event(self, record))


class _Lane:
    """Daemon threads taking requests from one queue, in order of arrival."""

    def __init__(self, name: str, threads: int, run: Callable[[_Request], None]) -> None:
        self._queue: "queue.SimpleQueue[Optional[_Request]]" = queue.SimpleQueue()
        self._threads = [threading.Thread(target=self._work, args=(run,), name=f"{name}-{n}", daemon=True)
                         for n in range(threads)]
        for thread in self._threads:
            thread.start()

    def submit(self, request: _Request) -> None:
        self._queue.put(request)

    def close(self) -> None:
        for _ in self._threads:
            self._queue.put(None)

    def _work(self, run: Callable[[_Request], None]) -> None:
        while True:
            request = self._queue.get()
            if request is None:
                return
            run(request)


class _EventLoopThread:
    """The one event loop all async handlers run on."""

    def __init__(self) -> None:
        self.loop = asyncio.new_event_loop()
        self._thread = threading.Thread(target=self._run, name="quern-async", daemon=True)
        self._thread.start()

    def _run(self) -> None:
        asyncio.set_event_loop(self.loop)
        try:
            self.loop.run_forever()
        finally:
            self.loop.close()

    def call(self, function: Callable[[], None]) -> None:
        self.loop.call_soon_threadsafe(function)

    def close(self) -> None:
        try:
            self.loop.call_soon_threadsafe(self.loop.stop)
        except RuntimeError:
            pass  # already closed


class Server:
    """One run of a backend over a requests descriptor and a record writer."""

    def __init__(self, handlers: Dict[str, HandlerSpec], fallback: Optional[HandlerSpec], workers: int,
                 grace: float, writer: RecordWriter, on_shutdown: List[Callable[[], None]]) -> None:
        self._handlers = handlers
        self._fallback = fallback
        self._grace = grace
        self._writer = writer
        self._on_shutdown = on_shutdown
        self._lock = threading.Condition()
        self._active: Dict[str, _Request] = {}
        self._shutdown_ids: List[Any] = []
        self._stopping = threading.Event()
        self._finished = False  # the shutdown requests have been answered
        self._pool = _Lane("quern-worker", workers, self._run)
        self._exclusive = _Lane("quern-exclusive", 1, self._run)
        specs = list(handlers.values()) + ([fallback] if fallback else [])
        self._aio = _EventLoopThread() if any(spec.is_async for spec in specs) else None

    # -- input -------------------------------------------------------------

    def serve(self, requests_fd: int) -> bool:
        """Serves until a shutdown; True when no handler was left running."""
        reader = threading.Thread(target=self._read, args=(requests_fd,), name="quern-reader", daemon=True)
        reader.start()
        self._stopping.wait()
        return self._shut_down()

    def _read(self, fd: int) -> None:
        pending = b""
        try:
            while True:
                chunk = os.read(fd, 65536)
                if not chunk:
                    break
                *lines, pending = (pending + chunk).split(b"\n")
                for line in lines:
                    self._take(line)
        except OSError as error:
            log(f"reading requests failed: {error}")
        except BaseException:  # a fault of our own must not leave the run hanging
            log("reading requests failed:\n" + traceback.format_exc().rstrip())
        if pending.strip():
            self._take(pending)
        self.begin_shutdown()

    def _take(self, line: bytes) -> None:
        try:
            request = json.loads(line)
            request_id, command = request["id"], request["command"]
        except (ValueError, TypeError, KeyError):
            log(f"skipped a line that is not a request: {line[:200]!r}")
            return
        payload = request.get("payload", {})
        if command == "shutdown":
            # The runtime's own request is never answered: no one waits for it.
            if request_id != RUNTIME_SHUTDOWN_ID:
                with self._lock:
                    answer_now = self._finished
                    if not answer_now:
                        self._shutdown_ids.append(request_id)
                if answer_now:
                    self._answer_shutdown(request_id)
            self.begin_shutdown()
        elif self._stopping.is_set():
            self._answer_error_now(request_id, SHUTTING_DOWN_MESSAGE)
        elif command == "cancel":
            self._cancel(request_id, payload)
        else:
            handler = self._handlers.get(command, self._fallback)
            if handler is None:
                self._answer_error_now(request_id, f"The backend has no handler for {command!r}")
                return
            self._start(_Request(request_id, command, payload, request.get("session"), handler, self))

    def _start(self, request: _Request) -> None:
        with self._lock:
            if self._stopping.is_set():
                request.state = ANSWERED
            else:
                self._active[request.key] = request
        if request.state == ANSWERED:
            self._answer_error_now(request.id, SHUTTING_DOWN_MESSAGE)
        elif request.handler.exclusive:
            self._exclusive.submit(request)
        elif request.handler.is_async:
            assert self._aio is not None
            self._aio.call(lambda: self._start_task(request, None))
        else:
            self._pool.submit(request)

    # -- running -----------------------------------------------------------

    def _begin(self, request: _Request) -> bool:
        with self._lock:
            if request.state != WAITING:
                return False
            request.state = RUNNING
            return True

    def _run(self, request: _Request) -> None:
        if request.state != WAITING:
            return  # cancelled, or refused by shutdown, while it waited
        if request.handler.is_async:
            assert self._aio is not None
            done = threading.Event()
            self._aio.call(lambda: self._start_task(request, done))
            done.wait()
            return
        if not self._begin(request):
            return
        try:
            result = request.handler.function(request.payload, request.ctx)
        except BaseException as error:  # every request gets its answer, whatever the handler does
            self._answer_failure(request, error)
        else:
            self._answer_result(request, result)

    def _start_task(self, request: _Request, done: Optional[threading.Event]) -> None:
        """On the event loop: starts the request's coroutine, unless it was answered meanwhile."""
        if not self._begin(request):
            if done is not None:
                done.set()
            return
        try:
            task = asyncio.ensure_future(request.handler.function(request.payload, request.ctx))
        except BaseException as error:
            self._answer_failure(request, error)
            if done is not None:
                done.set()
            return
        request.task = task
        if request.ctx.cancelled.is_set():
            task.cancel()

        def finished(task: "asyncio.Task[Any]") -> None:
            if task.cancelled():
                self._answer_failure(request, Cancelled())
            elif task.exception() is not None:
                self._answer_failure(request, task.exception())  # type: ignore[arg-type]
            else:
                self._answer_result(request, task.result())
            if done is not None:
                done.set()

        task.add_done_callback(finished)

    # -- answers and events ------------------------------------------------

    def _answer_result(self, request: _Request, result: Any) -> None:
        try:
            line = encode_record({"type": "response", "id": request.id, "ok": True, "result": result})
        except RecordError as error:
            log(f"{request.ctx.command} {request.id!r}: its result is {error}")
            line = _error_line(request.id, f"Result is {error}")
        self._write_answer(request, line)

    def _answer_failure(self, request: _Request, error: BaseException) -> None:
        fields: Dict[str, Any] = {}
        if isinstance(error, (Cancelled, asyncio.CancelledError)):
            message = CANCELLED_MESSAGE
        elif isinstance(error, CommandError):
            message, fields = error.message, error.data
        else:
            message = f"{type(error).__name__}: {error}" if str(error) else type(error).__name__
            trace = "".join(traceback.format_exception(type(error), error, error.__traceback__))
            log(f"{request.ctx.command} {request.id!r} failed:\n{trace.rstrip()}")
        try:
            line = encode_record({"type": "response", "id": request.id, "ok": False, "error": message, **fields})
        except RecordError as problem:
            log(f"{request.ctx.command} {request.id!r}: the data of its CommandError is {problem}")
            line = _error_line(request.id, message)
        self._write_answer(request, line)

    def _write_answer(self, request: _Request, line: bytes, only_waiting: bool = False) -> None:
        # Written under the lock that ends the request, so that shutdown, which
        # waits for that lock, never answers before an answer already decided.
        with self._lock:
            if only_waiting and request.state != WAITING:
                return  # it has started: its handler answers
            if request.state == ANSWERED:
                log(f"{request.ctx.command} {request.id!r} finished after it was answered; its answer is dropped")
                return
            request.state = ANSWERED
            self._active.pop(request.key, None)
            self._writer.write_line(line)
            self._lock.notify_all()

    def _answer_error_now(self, request_id: Any, message: str) -> None:
        self._writer.write_line(_error_line(request_id, message))

    def write_event(self, request: _Request, record: Dict[str, Any]) -> None:
        line = encode_record(record)
        with self._lock:
            if request.state == ANSWERED:
                log(f"dropped a {record['type']!r} event of {request.id!r}, which was answered already")
                return
            self._writer.write_line(line)

    def write_record(self, record: Dict[str, Any]) -> None:
        self._writer.write(record)

    # -- cancel and shutdown -----------------------------------------------

    def _cancel(self, cancel_id: Any, payload: Any) -> None:
        if not isinstance(payload, dict) or "target" not in payload:
            self._answer_error_now(cancel_id, CANCEL_PAYLOAD_MESSAGE)
            return
        with self._lock:
            target = self._active.get(id_key(payload["target"]))
        # The cancel is answered first, so a front end hears that its cancel
        # took before it hears the cancelled request's own answer.
        self._writer.write({"type": "response", "id": cancel_id, "ok": True, "result": {"cancelled": target is not None}})
        if target is not None:
            self._cancel_request(target)
            self._write_answer(target, _error_line(target.id, CANCELLED_MESSAGE), only_waiting=True)

    def _cancel_request(self, request: _Request) -> None:
        request.ctx.cancelled.set()
        if request.handler.is_async and self._aio is not None:
            def cancel_task() -> None:  # on the loop, where the task is made
                if request.task is not None:
                    request.task.cancel()

            self._aio.call(cancel_task)

    def begin_shutdown(self) -> None:
        """Stops taking work; serve() then winds down. Safe from any thread, more than once."""
        self._stopping.set()

    def _shut_down(self) -> bool:
        with self._lock:
            requests = list(self._active.values())
        # Work read before the shutdown is still done, as far as the grace
        # period allows: the front end sent it first and awaits its answer.
        # Flagged cancelled, long handlers end early; quick ones just answer.
        for request in requests:
            self._cancel_request(request)
        deadline = time.monotonic() + self._grace
        with self._lock:
            while self._active and self._lock.wait(max(0.0, deadline - time.monotonic())):
                pass
            left = list(self._active.values())
        for request in left:
            log(f"{request.ctx.command} {request.id!r} still runs {self._grace:g} s after shutdown began; "
                "answered as unfinished")
            self._write_answer(request, _error_line(request.id, STILL_RUNNING_MESSAGE))
        for hook in self._on_shutdown:
            try:
                hook()
            except Exception:
                log("a shutdown hook failed:\n" + traceback.format_exc().rstrip())
        with self._lock:
            shutdown_ids, self._shutdown_ids = self._shutdown_ids, []
            self._finished = True
        for shutdown_id in shutdown_ids:
            self._answer_shutdown(shutdown_id)
        self._pool.close()
        self._exclusive.close()
        if self._aio is not None:
            self._aio.close()
        return not left

    def _answer_shutdown(self, request_id: Any) -> None:
        self._writer.write({"type": "response", "id": request_id, "ok": True, "result": {"shutdown": True}})


def _error_line(request_id: Any, message: str) -> bytes:
    return encode_record({"type": "response", "id": request_id, "ok": False, "error": message})
