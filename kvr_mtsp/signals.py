"""SIGINT and SIGTERM in the command line.

A process stopped by signal N exits with 128 + N, as shells report it: 130
after Ctrl-C, 143 after SIGTERM. `guarded` runs a command so that this holds
from the first line of the package on: a signal during start-up (importing
the solver, reading the arguments or the document) ends the command with
one line and that status, not with a traceback or the bare signal. While a
solve runs, `stop_signals_raise` turns both signals into the
KeyboardInterrupt the solver stops at, keeping its best solution.
"""
from __future__ import annotations

import contextlib
import signal
import sys
from collections.abc import Callable, Iterator
from typing import Any

from kvr_mtsp.usage import PROG

STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM)


def exit_status(signum: int) -> int:
    return 128 + signum


@contextlib.contextmanager
def stop_signals_raise(received: list[int]) -> Iterator[None]:
    """While active, SIGINT and SIGTERM raise KeyboardInterrupt and are noted
    in `received`: the solver checks the interpreter's signals while it
    runs, stops at such an exception and returns its best solution so far."""

    def handler(signum: int, frame: Any) -> None:
        received.append(signum)
        raise KeyboardInterrupt

    previous = {signum: signal.signal(signum, handler) for signum in STOP_SIGNALS}
    try:
        yield
    finally:
        for signum, old in previous.items():
            signal.signal(signum, old)


def guarded(command: Callable[[], int]) -> int:
    """Runs `command` and gives its exit status; a stop signal that reaches
    here (one the command does not handle itself) gives one line on standard
    error and the signal's exit status."""
    received: list[int] = []
    try:
        with stop_signals_raise(received):
            return command()
    except KeyboardInterrupt:
        signum = received[0] if received else signal.SIGINT
        print(f"{PROG}: interrupted by {signal.Signals(signum).name}", file=sys.stderr)
        return exit_status(signum)
