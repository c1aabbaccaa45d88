"""The solver's console lines during a command-line solve.

The extension writes its diagnostics from C++ straight to file descriptors 1
and 2, past `sys.stdout` and `sys.stderr`. Two kinds repeat without telling
a command-line user much: one "[warning] node N has no assignment
constraint; allowing all types" line per node of an instance without
assignment constraints, and, for an instance without time windows, the
"[TW-MST] blocked edges: ..." line, which there counts node pairs without
any connection. `ConsoleCapture` points both descriptors at temporary files
for the duration of the solve; `condense` then turns each kind into one line
of its own and leaves every other line as it was, in its place.

Temporary files and not pipes: the solve holds the interpreter lock, so no
Python thread could drain a pipe, and a full pipe would stall the solver.
"""
from __future__ import annotations

import ctypes
import os
import re
import sys
import tempfile
from collections.abc import Callable
from types import TracebackType
from typing import IO

from kvr_mtsp.instance import InstanceView, listed

PROG = "kvr-mtsp"
NO_ASSIGNMENT = re.compile(rb"\[warning\] node (\d+) has no assignment constraint; allowing all types\r?\n?")
BLOCKED_PAIRS = re.compile(rb"\[TW-MST\] blocked edges: (\d+) / (\d+) .*\n?")


def _flush_everything() -> None:
    """Python's and the C library's buffered output, so nothing crosses a redirection late."""
    for stream in (sys.stdout, sys.stderr):
        try:
            stream.flush()
        except (OSError, ValueError):
            pass
    try:
        ctypes.CDLL(None).fflush(None)
    except (OSError, AttributeError):
        pass


class ConsoleCapture:
    """Redirects file descriptors 1 and 2 into temporary files while active.

    Leaving the `with` block, however it is left (an exception from the solve
    included), flushes, restores both descriptors and keeps what was written
    in `stdout` and `stderr`. A descriptor that is not open is left alone.
    """

    def __init__(self) -> None:
        self.stdout = b""
        self.stderr = b""
        self._saved: dict[int, int] = {}
        self._files: dict[int, IO[bytes]] = {}

    def __enter__(self) -> ConsoleCapture:
        _flush_everything()
        try:
            for fd in (1, 2):
                self._saved[fd] = os.dup(fd)
                self._files[fd] = tempfile.TemporaryFile()
                os.dup2(self._files[fd].fileno(), fd)
        except OSError:
            self._restore()
        return self

    def __exit__(
        self, kind: type[BaseException] | None, error: BaseException | None, trace: TracebackType | None
    ) -> None:
        self._restore()

    def _restore(self) -> None:
        _flush_everything()
        for fd, saved in self._saved.items():
            os.dup2(saved, fd)
            os.close(saved)
        self._saved.clear()
        for fd, file in self._files.items():
            file.seek(0)
            if fd == 1:
                self.stdout = file.read()
            else:
                self.stderr = file.read()
            file.close()
        self._files.clear()


def condense(stdout: bytes, stderr: bytes, view: InstanceView) -> tuple[bytes, bytes]:
    """Both streams with the repetitive lines summarised (see the module docstring)."""
    stderr = _summarise(stderr, NO_ASSIGNMENT, lambda found: _no_assignment_line(found, view))
    if not view.has_time_windows:
        stdout = _summarise(stdout, BLOCKED_PAIRS, _blocked_pairs_line)
    return stdout, stderr


def _summarise(data: bytes, pattern: re.Pattern[bytes], summary: Callable[[list[re.Match[bytes]]], bytes]) -> bytes:
    """`data` with the lines matching `pattern` replaced by `summary(matches)`,
    written where the first of them was."""
    lines: list[bytes | None] = []
    found: list[re.Match[bytes]] = []
    for line in data.splitlines(keepends=True):
        match = pattern.fullmatch(line)
        if match is None:
            lines.append(line)
            continue
        if not found:
            lines.append(None)
        found.append(match)
    if not found:
        return data
    return b"".join(summary(found) if line is None else line for line in lines)


def _no_assignment_line(found: list[re.Match[bytes]], view: InstanceView) -> bytes:
    ids = [match.group(1).decode() for match in found]
    if len(ids) == 1:
        nodes, them, label = "1 node has", "it", "node id"
    else:
        every = "all " if len(ids) == len(view.node_ids) else ""
        nodes, them, label = f"{every}{len(ids)} nodes have", "them", "node ids"
    return (
        f"{PROG}: warning: {nodes} no assignment constraint, so every agent type may serve {them} "
        f"({label} {listed(ids)}); --verbose shows the solver's lines\n"
    ).encode()


def _blocked_pairs_line(found: list[re.Match[bytes]]) -> bytes:
    blocked, pairs = (int(value) for value in found[-1].groups())
    verb = "has" if blocked == 1 else "have"
    return (
        f"{PROG}: warning: {blocked} of {pairs} node pairs {verb} no connection in either direction "
        "for any agent type (no cost below 9999); --verbose shows the solver's line\n"
    ).encode()


def write_bytes(fd: int, data: bytes) -> None:
    """Writes `data` to the descriptor after what Python has buffered for it."""
    _flush_everything()
    while data:
        data = data[os.write(fd, data):]
