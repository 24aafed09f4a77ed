"""Output hygiene: the protocol gets private copies of the standard streams.

The runtime reads records from the backend's standard output and drops any
line that is not one; a partial line written there (a progress bar without a
line feed) glues onto the next record and takes it down too. So from run() on
nothing but the library may write to the original standard output: file
descriptor 1 itself is pointed at standard error, which covers print(),
sys.__stdout__, a C extension's printf and the children a handler starts, and
the records go to a private duplicate of the original descriptor.

Standard input is taken the same way: the requests are read from a private
duplicate, and descriptor 0 reads from the null device, so neither a library
calling input() nor a child process can swallow a request.
"""

from __future__ import annotations

import os
import sys
from typing import NamedTuple


class ProtocolStreams(NamedTuple):
    requests_fd: int  # the original standard input, for the library alone
    records_fd: int   # the original standard output, for the library alone


def take_over_standard_streams() -> ProtocolStreams:
    """Moves the protocol to private descriptors and points 0 and 1 elsewhere.

    The duplicates are not inherited by child processes (os.dup's default).
    """
    requests_fd = os.dup(0)
    records_fd = os.dup(1)
    _point(0, os.open(os.devnull, os.O_RDONLY))
    try:
        os.dup2(2, 1)
    except OSError:  # no standard error to share: then nowhere
        _point(1, os.open(os.devnull, os.O_WRONLY))
    _follow_descriptors_on_windows()
    # What print() still holds drains to standard error as well; then one
    # stream object keeps print() and sys.stderr writes in order.
    _flush(sys.stdout)
    if sys.stderr is not None:
        sys.stdout = sys.stderr
    return ProtocolStreams(requests_fd, records_fd)


def _follow_descriptors_on_windows() -> None:
    """Windows keeps the standard handles apart from descriptors 0 and 1, and
    a child process started without streams of its own inherits the handles:
    they must name what the descriptors now name, or the child would write
    into the protocol's pipe."""
    if sys.platform != "win32":
        return
    import ctypes
    import msvcrt

    kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
    for fd, std_handle in ((0, -10), (1, -11)):  # STD_INPUT_HANDLE, STD_OUTPUT_HANDLE
        kernel32.SetStdHandle(ctypes.c_ulong(std_handle & 0xFFFFFFFF), ctypes.c_void_p(msvcrt.get_osfhandle(fd)))


def _point(fd: int, target: int) -> None:
    os.dup2(target, fd)
    os.close(target)


def _flush(stream: object) -> None:
    try:
        stream.flush()  # type: ignore[attr-defined]
    except (AttributeError, OSError, ValueError):
        pass
