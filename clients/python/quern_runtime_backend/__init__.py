"""quern_runtime_backend: write a quern-runtime backend as a few handlers.

    from quern_runtime_backend import Backend

    backend = Backend()

    @backend.command("generate")
    def generate(payload, ctx):
        for step in range(1, 4):
            ctx.progress(step, 3)
        return {"text": "done"}

    backend.run()

The library owns the protocol: it reads the requests, runs the handlers on
threads, writes exactly one answer per request, answers cancel and shutdown,
and keeps standard output for records alone.
"""

from .backend import Backend
from .commands import COMMANDS
from .context import CancelFlag, Context
from .errors import Cancelled, CommandError

__version__ = "0.1.0"

__all__ = ["Backend", "COMMANDS", "CancelFlag", "Cancelled", "CommandError", "Context", "__version__"]
