"""What a handler raises to answer a request with "ok": false."""

from __future__ import annotations

from typing import Any, Dict

CANCELLED_MESSAGE = "Request cancelled"

# Members of a response that the library writes itself.
RESPONSE_MEMBERS = frozenset({"type", "id", "ok", "result", "error"})


class CommandError(Exception):
    """The request failed in a way the front end should be told about.

    `raise CommandError("no such model", model="tiny")` is answered with
    {"type":"response","id":...,"ok":false,"error":"no such model","model":"tiny"}:
    the message is the answer's "error", and each keyword a member of its own.
    """

    def __init__(self, message: str, **data: Any) -> None:
        clash = RESPONSE_MEMBERS.intersection(data)
        if clash:
            raise ValueError(f"CommandError data may not set {', '.join(sorted(clash))}: the response's own members")
        super().__init__(message)
        self.message = str(message)
        self.data: Dict[str, Any] = data


class Cancelled(Exception):
    """The request was cancelled; answered with "error": "Request cancelled".

    ctx.raise_if_cancelled() raises it once the request's ctx.cancelled is set.
    """

    def __init__(self) -> None:
        super().__init__(CANCELLED_MESSAGE)
