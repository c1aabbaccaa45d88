"""Live progress of the command line: one line per improving solution when
standard error is no terminal, a progress bar on a terminal, --quiet."""
from __future__ import annotations

import json
import os
import pty
import re
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path
from types import SimpleNamespace

import pytest

from conftest import long_search_doc
from kvr_mtsp.progress import ProgressDisplay, fmt
from test_cli import child_env, lines_of, run_cli, write

LINE = re.compile(
    r"\[progress\] cpu=(\d+\.\d{4}) wall=(\d+\.\d{4}) objective=(\S+) max_cost=(\S+) sum_cost=(\S+) "
    r"phase=(search|engine) improvements=(\d+)"
)


# A line of the summary's improvements: processor and wall-clock seconds, then the costs.
IMPROVEMENT = re.compile(r"\s*(\d+\.\d{4}) s,\s+(\d+\.\d{4}) s: \S+, \S+")


def progress_lines(stderr: str) -> list[re.Match]:
    return [LINE.fullmatch(line) for line in lines_of(stderr) if line.startswith("[progress]")]


class TestLinesWithoutTerminal:
    @pytest.mark.parametrize("flags", [[], ["--verbose", "--no-improve"]], ids=["engine", "verbose-focal"])
    def test_one_line_per_improving_solution(self, tmp_path, flags):
        doc = long_search_doc(0.5)
        instance = write(tmp_path / "long.json", doc)
        output = tmp_path / "result.json"
        completed = run_cli("solve", str(instance), "--output", str(output), *flags, cwd=tmp_path)
        assert completed.returncode == 0, completed.stderr
        anytime = json.loads(output.read_text())["anytime"]
        lines = progress_lines(completed.stderr)
        assert all(lines), completed.stderr  # every progress line has the documented form
        assert [(m[1], m[3], m[4], m[5], m[7]) for m in lines] == [
            (f"{p['time']:.4f}", fmt(p["max_cost"]), fmt(p["max_cost"]), fmt(p["sum_cost"]), str(n))
            for n, p in enumerate(anytime, 1)
        ]
        assert "status       success" in completed.stdout  # the summary as before, on standard output
        # The trace carries both clocks, in the result file and in the summary.
        walls = [point["wall_time"] for point in anytime]
        assert walls == sorted(walls) and walls[0] >= 0
        listed = [line for line in lines_of(completed.stdout) if IMPROVEMENT.fullmatch(line)]
        assert [IMPROVEMENT.fullmatch(line).group(1, 2) for line in listed] == [
            (f"{p['time']:.4f}", f"{p['wall_time']:.4f}") for p in anytime]
        if "--no-improve" in flags:
            assert {m[6] for m in lines} == {"search"}

    def test_quiet_writes_no_progress(self, tmp_path):
        instance = write(tmp_path / "long.json", long_search_doc(0.5))
        completed = run_cli("solve", str(instance), "--quiet", cwd=tmp_path)
        assert completed.returncode == 0, completed.stderr
        assert "[progress]" not in completed.stderr
        assert "status       success" in completed.stdout


def run_on_terminal(args: list[str], cwd: Path, interrupt_after: float | None = None):
    """Runs the command with standard error on a pseudo-terminal; returns the
    completed process (standard output captured) and what the terminal received."""
    controller, terminal = pty.openpty()
    child = subprocess.Popen(
        [sys.executable, "-m", "kvr_mtsp", *args], cwd=cwd, env={**child_env(), "COLUMNS": "160"},
        stdout=subprocess.PIPE, stderr=terminal, text=True,
    )
    os.close(terminal)
    received = bytearray()

    def drain() -> None:
        while True:
            try:
                chunk = os.read(controller, 4096)
            except OSError:  # the child closed its side
                return
            if not chunk:
                return
            received.extend(chunk)

    reader = threading.Thread(target=drain)
    reader.start()
    try:
        if interrupt_after is not None:
            time.sleep(interrupt_after)
            child.send_signal(signal.SIGINT)
        out, _ = child.communicate(timeout=120)
    finally:
        if child.poll() is None:
            child.kill()
        reader.join(timeout=10)
        os.close(controller)
    return subprocess.CompletedProcess(child.args, child.returncode, out, None), received.decode(errors="replace")


class TestBarOnTerminal:
    def test_bar_shows_budget_best_and_improvements(self, tmp_path):
        instance = write(tmp_path / "long.json", long_search_doc(1.3))
        completed, terminal = run_on_terminal(["solve", str(instance), "--no-improve", "--wall-time-limit", "30"],
                                              tmp_path)
        assert completed.returncode == 0
        assert "1.0 s of 1.3 s processor time" in terminal  # redrawn by the periodic record
        assert re.search(r"\d+\.\d of 30 s wall clock", terminal)
        assert re.search(r"best \d+\.\d+", terminal) and "improvements" in terminal
        assert "[progress]" not in terminal
        assert "status       success" in completed.stdout

    def test_quiet_draws_no_bar(self, tmp_path):
        instance = write(tmp_path / "long.json", long_search_doc(0.5))
        completed, terminal = run_on_terminal(["solve", str(instance), "--quiet"], tmp_path)
        assert completed.returncode == 0
        assert "processor time" not in terminal

    def test_ctrl_c_still_ends_with_the_summary(self, tmp_path):
        instance = write(tmp_path / "long.json", long_search_doc(60.0))
        completed, _ = run_on_terminal(["solve", str(instance)], tmp_path, interrupt_after=2.0)
        assert completed.returncode == 130
        assert "status       success (interrupted by SIGINT; best solution found so far)" in lines_of(completed.stdout)


def test_the_bar_fills_towards_the_limit_nearer_its_end():
    def at(cpu, wall):
        return SimpleNamespace(cpu_time=cpu, wall_time=wall)

    both = ProgressDisplay(budget=8.0, terminal=False, wall_budget=4.0)
    # Two threads use processor time twice as fast as the wall clock runs.
    assert both.share_used(at(2.0, 1.0)) == 0.25
    assert both.share_used(at(2.0, 3.0)) == 0.75  # the wall clock nearer its end
    assert both.share_used(at(9.0, 3.0)) == 1.0  # past a limit: full, not beyond
    assert ProgressDisplay(budget=8.0, terminal=False).share_used(at(2.0, 7.0)) == 0.25
    assert ProgressDisplay(budget=None, terminal=False, wall_budget=10.0).share_used(at(9.0, 5.0)) == 0.5
    assert ProgressDisplay(budget=None, terminal=False).share_used(at(9.0, 5.0)) == 0.0


def test_a_display_that_cannot_write_stays_out_of_the_way():
    record = SimpleNamespace(cpu_time=0.5, wall_time=0.6, objective=3.0, max_cost=3.0, sum_cost=5.0,
                             phase="search", improving=True)
    with ProgressDisplay(budget=10.0, terminal=False) as display:
        display._stream.close()  # standard error gone
        display(record)  # no exception reaches the solve
        assert display._stream is None  # turned off: later records are dropped
        display(record)
