"""The solver's console lines as records.

The extension hands each line it writes (a warning about the instance, a
note or a step of the solve, a stop before its end, a fault of its own) to
an `on_console` callable as a `_kvr_core.ConsoleRecord`: its `kind`
("warning", "stop", "error", "info", "progress" or "debug"), its `code`
(None, or a stable name such as "memory_stop" or "no_assignment" where a
caller may react), its `fields` (the values behind the text, such as the
node id) and its exact `text`. Without such a callable the extension writes
the texts to standard output and error itself.

The package's solves (`kvr_mtsp.solve`, `solve_many`) pass `to_python`,
which follows the conventions of Python libraries:

- warnings about the instance go to `warnings.warn` as `SolverWarning`,
  pointing at the caller's line, so that a program can filter them (for
  instance `warnings.simplefilter("ignore", kvr_mtsp.SolverWarning)`),
  record them (`warnings.catch_warnings(record=True)`) or turn them into
  errors (the solve then stops, as on a raising `on_progress`);
- every other line goes to the logger "kvr_mtsp": stops at WARNING, faults
  at ERROR, notes and search steps at INFO, listings at DEBUG; the log
  record carries the line's kind, code and fields as the attributes
  `solver_kind`, `solver_code` and `solver_fields`.

The command line takes the records with `ConsolePrinter` instead: it prints
them as the extension would, with two kinds of repetitive lines condensed
(see there), and tells a stop by the memory budget from its code.
"""
from __future__ import annotations

import logging
import os
import sys
import warnings
from typing import TYPE_CHECKING, Any, TextIO

from kvr_mtsp.instance import listed

if TYPE_CHECKING:
    import _kvr_core

PROG = "kvr-mtsp"
MEMORY_STOP = "memory_stop"
NO_ASSIGNMENT = "no_assignment"
BLOCKED_PAIRS = "blocked_pairs"

logger = logging.getLogger("kvr_mtsp")

LOG_LEVELS = {
    "stop": logging.WARNING,
    "error": logging.ERROR,
    "info": logging.INFO,
    "progress": logging.INFO,
    "debug": logging.DEBUG,
}

_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))


class SolverWarning(UserWarning):
    """A warning of the solver about an instance (an unknown key, a node
    without an assignment constraint, an agent that cannot reach its end...).
    `str()` gives the solver's text; `code` its stable name (such as
    "no_assignment"), `fields` the values behind it (such as {"node": 7})."""

    def __init__(self, text: str, code: str | None = None, fields: dict[str, Any] | None = None) -> None:
        super().__init__(text, code, dict(fields or {}))

    @property
    def text(self) -> str:
        return self.args[0]

    @property
    def code(self) -> str | None:
        return self.args[1]

    @property
    def fields(self) -> dict[str, Any]:
        return self.args[2]

    def __str__(self) -> str:
        return self.text


def _caller_stacklevel() -> int:
    """The `stacklevel` that makes a warning point at the first frame
    outside this package (the program that asked for the solve)."""
    frame = sys._getframe(1)
    level = 1
    while frame is not None and os.path.dirname(os.path.abspath(frame.f_code.co_filename)) == _PACKAGE_DIR:
        frame = frame.f_back
        level += 1
    return level


def to_python(record: _kvr_core.ConsoleRecord) -> None:
    """The package's `on_console`: a warning to `warnings.warn`, any other
    line to the logger "kvr_mtsp" (see the module docstring)."""
    if record.kind == "warning":
        warnings.warn(SolverWarning(record.text, record.code, record.fields), stacklevel=_caller_stacklevel())
        return
    level = LOG_LEVELS.get(record.kind, logging.INFO)
    if logger.isEnabledFor(level):
        logger.log(level, "%s", record.text,
                   extra={"solver_kind": record.kind, "solver_code": record.code, "solver_fields": record.fields})


class ConsolePrinter:
    """The command line's `on_console`: the solver's lines on standard output
    and error, and whether the memory budget stopped the solve.

    `verbose`: each line is written at once, exactly as the extension writes
    it. Otherwise the lines are kept and `finish()` writes them after the
    solve (standard output's, then standard error's), with two kinds
    condensed into one line of the command line's own, written where the
    first of them was: the "[warning] node N has no assignment constraint;
    allowing all types" warning of each such node, and, for an instance
    without time windows, the "[TW-MST] blocked edges: ..." line, which
    there counts node pairs without any connection. Warnings whose code is
    in `said` are left out.
    """

    def __init__(self, verbose: bool, stdout: TextIO | None = None, stderr: TextIO | None = None,
                 said: frozenset[str] = frozenset()) -> None:
        self.verbose = verbose
        # Codes of the warnings the command line has said in its own words
        # before the solve; their lines are left out unless verbose.
        self.said = said
        self.memory_stop = False
        self._stdout = stdout
        self._stderr = stderr
        self._kept: list[_kvr_core.ConsoleRecord] = []

    def _stream(self, name: str) -> TextIO:
        if name == "stdout":
            return self._stdout or sys.stdout
        return self._stderr or sys.stderr

    def __call__(self, record: _kvr_core.ConsoleRecord) -> None:
        if record.code == MEMORY_STOP:
            self.memory_stop = True
        if not self.verbose:
            self._kept.append(record)
            return
        stream = self._stream(record.stream)
        stream.write(record.text + "\n")
        stream.flush()

    def finish(self) -> None:
        """Writes the kept lines, condensed (nothing when verbose)."""
        kept, self._kept = self._kept, []
        for name in ("stdout", "stderr"):
            lines = _condensed([record for record in kept if record.stream == name and record.code not in self.said])
            if lines:
                stream = self._stream(name)
                stream.write("".join(line + "\n" for line in lines))
                stream.flush()


def _condensed(records: list[_kvr_core.ConsoleRecord]) -> list[str]:
    """The texts of `records` with the repetitive ones summarised (see ConsolePrinter)."""
    unassigned = [record for record in records if record.code == NO_ASSIGNMENT]
    blocked = [record for record in records
               if record.code == BLOCKED_PAIRS and not record.fields.get("time_windows", True)]
    lines: list[str] = []
    for record in records:
        if record.code == NO_ASSIGNMENT:
            if record is unassigned[0]:
                lines.append(_no_assignment_line(unassigned))
        elif any(record is found for found in blocked):
            if record is blocked[0]:
                lines.append(_blocked_pairs_line(blocked[-1]))
        else:
            lines.append(record.text)
    return lines


def _no_assignment_line(found: list[_kvr_core.ConsoleRecord]) -> str:
    ids = [record.fields["node"] for record in found]
    if len(ids) == 1:
        nodes, them, label = "1 node has", "it", "node id"
    else:
        every = "all " if len(ids) == found[0].fields.get("nodes") else ""
        nodes, them, label = f"{every}{len(ids)} nodes have", "them", "node ids"
    return (
        f"{PROG}: warning: {nodes} no assignment constraint, so every agent type may serve {them} "
        f"({label} {listed(ids)}); --verbose shows the solver's lines"
    )


def _blocked_pairs_line(record: _kvr_core.ConsoleRecord) -> str:
    blocked, pairs = record.fields["blocked"], record.fields["pairs"]
    verb = "has" if blocked == 1 else "have"
    return (
        f"{PROG}: warning: {blocked} of {pairs} node pairs {verb} no connection in either direction "
        "for any agent type (no cost below 9999); --verbose shows the solver's line"
    )
