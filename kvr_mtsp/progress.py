"""Live progress of a command-line solve, on standard error.

When standard error is a terminal, a progress bar over the time budget
shows the wall-clock seconds since the start (of the wall-clock limit, when
there is one), the processor seconds of every thread together of the
processor-time limit, the best objective so far and the number of improving
solutions; the bar fills towards whichever limit is nearer to its end. It is
removed when the solve ends, before the summary.
Otherwise each improving solution writes one line:

    [progress] cpu=0.0123 wall=0.0456 objective=154.2 max_cost=154.2 sum_cost=443.7 phase=search improvements=2

(processor and wall-clock seconds since the solve started with four
decimals, costs of the new best solution as the summary writes them, the
phase that found it, "search" or "engine", and the count of improving
solutions so far). The fields keep this order; new ones would be added at
the end.

The display writes to its own duplicate of file descriptor 2, line by
line, so that its lines reach standard error at once whatever buffering
`sys.stderr` has; the solver's own lines are printed by the command line
(kvr_mtsp.console).
"""
from __future__ import annotations

import os
from types import TracebackType
from typing import Any, TextIO


def fmt(value: float) -> str:
    """A cost with at most 10 significant digits, always with a decimal point."""
    return repr(float(f"{value:.10g}"))


def progress_line(record: Any, improvements: int) -> str:
    return (
        f"[progress] cpu={record.cpu_time:.4f} wall={record.wall_time:.4f} objective={fmt(record.objective)} "
        f"max_cost={fmt(record.max_cost)} sum_cost={fmt(record.sum_cost)} phase={record.phase} "
        f"improvements={improvements}"
    )


class ProgressDisplay:
    """The `on_progress` callable of a command-line solve and the stream it
    writes to; use as a context manager around the solve.

    `budget`: the time limit in processor seconds (None when unknown).
    `wall_budget`: the wall-clock limit in seconds (None: none). The bar
    fills with the larger of the two shares used; with neither known it
    shows no total. `terminal`: None decides by whether file descriptor 2
    is a terminal. A display that fails to write turns itself off rather
    than stop the solve.
    """

    def __init__(self, budget: float | None, terminal: bool | None = None,
                 wall_budget: float | None = None) -> None:
        self.budget = budget
        self.wall_budget = wall_budget
        self.terminal = os.isatty(2) if terminal is None else terminal
        self.improvements = 0
        self._stream: TextIO | None = None
        self._bar: Any = None
        self._task: Any = None

    def __enter__(self) -> ProgressDisplay:
        try:
            self._stream = os.fdopen(os.dup(2), "w", encoding="utf-8", errors="replace", buffering=1)
        except OSError:
            return self  # no standard error to write to
        if self.terminal:
            try:
                self._start_bar()
            except ImportError:  # rich missing from a source checkout: lines instead of the bar
                self._bar = None
        return self

    def __exit__(
        self, kind: type[BaseException] | None, error: BaseException | None, trace: TracebackType | None
    ) -> None:
        stream, self._stream = self._stream, None
        try:
            if self._bar is not None:
                self._bar.stop()  # transient: the bar leaves no line behind
        except Exception:
            pass
        self._bar = None
        if stream is not None:
            try:
                stream.close()
            except OSError:
                pass

    def __call__(self, record: Any) -> None:
        if self._stream is None:
            return
        if record.improving:
            self.improvements += 1
        try:
            if self._bar is not None:
                self._update_bar(record)
            elif record.improving:
                self._stream.write(progress_line(record, self.improvements) + "\n")
        except Exception:  # a broken stream must not end the solve
            self.__exit__(None, None, None)

    def _start_bar(self) -> None:
        from rich.console import Console
        from rich.progress import BarColumn, Progress, TextColumn

        # The figures are the solver's clocks, which only its records carry:
        # the bar is redrawn at each record (improving ones, and at least
        # once a second of processor time).
        wall_of = "" if self.wall_budget is None else f" of {self.wall_budget:g}"
        self._bar = Progress(
            TextColumn("solving"),
            BarColumn(),
            TextColumn("{task.fields[wall]}" + wall_of + " s wall clock,"),
            TextColumn("{task.fields[cpu]} s of {task.fields[budget]} s processor time"),
            TextColumn("best {task.fields[best]}"),
            TextColumn("{task.fields[improvements]} improvements"),
            console=Console(file=self._stream, stderr=False),
            auto_refresh=False,
            transient=True,
        )
        budget = "?" if self.budget is None else f"{self.budget:g}"
        total = None if self.budget is None and self.wall_budget is None else 1.0
        self._task = self._bar.add_task("solve", total=total, wall="0.0", cpu="0.0", budget=budget, best="none",
                                        improvements=0)
        self._bar.start()
        self._bar.refresh()

    def _update_bar(self, record: Any) -> None:
        best = "none" if record.objective is None else fmt(record.objective)
        self._bar.update(self._task, completed=self.share_used(record), wall=f"{record.wall_time:.1f}",
                         cpu=f"{record.cpu_time:.1f}", best=best, improvements=self.improvements, refresh=True)

    def share_used(self, record: Any) -> float:
        """How far the solve is towards its end: the larger of the shares of
        the processor-time and the wall-clock limit used, at most 1 (0 with
        neither known)."""
        shares = [used / limit for used, limit in ((record.cpu_time, self.budget),
                                                   (record.wall_time, self.wall_budget)) if limit]
        return min(1.0, max(shares, default=0.0))
