"""Records on the way out: their encoding and the one writer of the protocol stream."""

from __future__ import annotations

import json
import os
import sys
import threading
from typing import Any, Callable, Dict, Optional

# The runtime drops a longer line, and with it the answer it carried.
MAX_RECORD_BYTES = 1024 * 1024


class RecordError(ValueError):
    """A record that cannot be written: not JSON, or over the runtime's line limit."""


def encode_record(record: Dict[str, Any]) -> bytes:
    """One record as the line the runtime accepts: compact UTF-8 JSON and a line feed.

    Refuses what the runtime would drop (NaN and infinities, text that is not
    UTF-8, a line over 1 MiB), so that the caller learns of it instead of the
    front end waiting for a record that never comes.
    """
    try:
        text = json.dumps(record, ensure_ascii=False, allow_nan=False, separators=(",", ":"))
        line = text.encode("utf-8") + b"\n"
    except (TypeError, ValueError) as error:  # UnicodeEncodeError is a ValueError
        raise RecordError(f"not JSON: {error}") from None
    if len(line) > MAX_RECORD_BYTES:
        raise RecordError(f"{len(line)} bytes, over the runtime's limit of {MAX_RECORD_BYTES} bytes a record")
    return line


class RecordWriter:
    """Writes whole records to one file descriptor, one line per write, under one lock.

    Nothing else writes to that descriptor, so a record can never be split or
    glued to other output. A failed write (the runtime has gone) is reported
    once through on_broken; later records are dropped.
    """

    def __init__(self, fd: int, on_broken: Optional[Callable[[OSError], None]] = None) -> None:
        self._fd = fd
        self._lock = threading.Lock()
        self._broken = False
        self._on_broken = on_broken

    def write(self, record: Dict[str, Any]) -> None:
        """Encodes and writes one record; raises RecordError before writing anything."""
        self.write_line(encode_record(record))

    def write_line(self, line: bytes) -> None:
        failure: Optional[OSError] = None
        with self._lock:
            if self._broken:
                return
            view = memoryview(line)
            try:
                # A pipe takes a whole line at once unless a signal cuts the write short.
                while view:
                    view = view[os.write(self._fd, view):]
            except OSError as error:
                self._broken = True
                failure = error
        if failure is not None and self._on_broken is not None:
            self._on_broken(failure)

    @property
    def broken(self) -> bool:
        return self._broken


def log(message: str) -> None:
    """A line for people, on standard error."""
    try:
        sys.stderr.write(f"[quern_runtime_backend] {message}\n")
        sys.stderr.flush()
    except (OSError, ValueError, AttributeError):
        pass  # nowhere left to say it


_NO_ID = object()


def event_record(kind: str, fields: Dict[str, Any], request_id: Any = _NO_ID) -> Dict[str, Any]:
    """An event record: {"type": kind, "id": request_id, **fields}, the id only when given.

    A "response" made this way would answer a request behind the library's
    back, so it is refused, as is an "id" among the fields.
    """
    if not isinstance(kind, str) or not kind:
        raise RecordError(f"an event's type must be a non-empty string, not {kind!r}")
    if kind == "response":
        raise RecordError('"response" is not an event type: a handler answers by returning or raising')
    if "id" in fields:
        raise RecordError("an event's id is its request's: use ctx.event(), or backend.event() for none")
    record: Dict[str, Any] = {"type": kind}
    if request_id is not _NO_ID:
        record["id"] = request_id
    record.update(fields)
    return record
