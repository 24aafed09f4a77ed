"""What a handler gets besides the payload: its request, its events, its cancellation."""

from __future__ import annotations

import threading
from typing import Any, Callable, Dict, Optional

from .errors import Cancelled
from .records import event_record


class CancelFlag(threading.Event):
    """A threading.Event that is also a flag: `if ctx.cancelled:` tests it,
    `ctx.cancelled.wait(0.5)` sleeps until it is set or the time is up."""

    def __bool__(self) -> bool:
        return self.is_set()


class Context:
    """One request's side of the protocol, handed to its handler as `ctx`."""

    def __init__(self, request_id: Any, command: str, session: Optional[str],
                 emit: Callable[[Dict[str, Any]], None]) -> None:
        self.id = request_id
        self.command = command
        self.session = session
        self.cancelled = CancelFlag()
        self._emit = emit

    def event(self, type: str, **fields: Any) -> None:
        """Writes {"type": type, "id": ctx.id, **fields}. Events written after
        the request was answered are dropped: the id may belong to a new request by then."""
        self._emit(event_record(type, fields, self.id))

    def progress(self, step: int, total: int, **fields: Any) -> None:
        """Writes {"type": "progress", "id": ctx.id, "step": step, "total": total, **fields}."""
        self.event("progress", step=step, total=total, **fields)

    def raise_if_cancelled(self) -> None:
        """Raises Cancelled once the request is cancelled (by the front end or by shutdown)."""
        if self.cancelled.is_set():
            raise Cancelled()

    def __repr__(self) -> str:
        return f"Context(id={self.id!r}, command={self.command!r})"
