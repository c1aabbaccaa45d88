"""Ctrl-C and the memory budget: a solve stops early and keeps its best solution."""
from __future__ import annotations

import json
import math
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

import _kvr_core as core
from conftest import long_search_doc

CHILD = Path(__file__).resolve().parent / "interrupt_child.py"
LIMIT = 60.0  # processor seconds: an interrupted solve ends long before


def no_solution_doc(time_limit: float = LIMIT) -> dict:
    """Route-length limits too short for the targets together, though each
    alone fits one (the farthest lies 65.8 from the depot): the search looks
    for seconds without finding any solution."""
    doc = long_search_doc(time_limit)
    for agent in doc["agents"]:
        agent["max_length"] = 133
    return doc


def interrupt_child(mode: str, doc: dict, wait: float = 0.5):
    """Starts the child, sends SIGINT `wait` seconds into its solve; returns
    the child's reports, the seconds from the signal to its first report, and
    its standard error."""
    child = subprocess.Popen(
        [sys.executable, str(CHILD), mode],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=os.environ.copy(),
    )
    try:
        child.stdin.write(json.dumps(doc) + "\n")
        child.stdin.flush()
        assert json.loads(child.stdout.readline())["event"] == "solving"
        time.sleep(wait)
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        first = child.stdout.readline()
        answered = time.monotonic() - sent
        rest, err = child.communicate(timeout=4 * LIMIT)
    finally:
        if child.poll() is None:
            child.kill()
    reports = [json.loads(line) for line in [first, *rest.splitlines()] if line.strip()]
    return reports, answered, err


class TestCtrlC:
    def test_interrupted_solve_returns_its_best_solution(self, checker):
        doc = long_search_doc(LIMIT)
        reports, answered, err = interrupt_child("json", doc)
        assert reports[0]["event"] == "result"
        result = reports[0]["result"]
        assert result["status"] == "success" and result["timeout"] is True
        assert checker(doc, result["routes"]) == []
        # Far below the time limit the search would otherwise have used.
        assert answered < LIMIT / 6
        assert err.count("[interrupted] KeyboardInterrupt") == 1

    def test_interrupt_before_any_solution_raises_keyboard_interrupt(self):
        reports, answered, err = interrupt_child("json", no_solution_doc())
        assert reports == [{"event": "KeyboardInterrupt"}]
        assert answered < LIMIT / 6
        assert "[interrupted]" not in err

    def test_the_same_solver_solves_again_after_an_interrupt(self):
        doc = long_search_doc(3.0)
        reports, _, _ = interrupt_child("solver", doc, wait=0.3)
        first, second = reports
        assert first["event"] == "solved" and first["found"] == 1 and first["timeout"] is True
        # The second solve is not stopped by the first one's signal: it runs
        # to its own time limit and finds a solution again.
        assert second["event"] == "solved" and second["found"] == 1 and second["timeout"] is True
        assert second["n_generated"] > first["n_generated"]


class TestMemoryBudget:
    def test_small_budget_stops_the_search_with_a_solution(self, capfd, checker):
        doc = long_search_doc(30.0)
        doc["options"]["memory_limit_mb"] = 5
        result = core.solve_json_str(json.dumps(doc))
        err = capfd.readouterr().err
        assert result["status"] == "success" and result["timeout"] is True
        assert checker(doc, result["routes"]) == []
        lines = [line for line in err.splitlines() if line.startswith("[memory]")]
        assert len(lines) == 1 and "memory limit of 5 MB reached" in lines[0] and "labels stored" in lines[0]

    def test_budget_is_deterministic(self, capfd):
        doc = long_search_doc(30.0)
        doc["options"]["memory_limit_mb"] = 3
        first, second = (core.solve_json_str(json.dumps(doc)) for _ in range(2))
        capfd.readouterr()
        assert first["routes"] == second["routes"]
        assert first["statistics"]["n_generated"] == second["statistics"]["n_generated"]

    def test_default_and_ample_budgets_change_nothing(self, make_doc, capfd):
        assert 0 < core.Options().memory_limit_mb <= 8192
        doc = make_doc(n_targets=7, agent_ids=(1, 2), time_limit=30)
        plain = core.solve_json_str(json.dumps(doc))
        doc["options"]["memory_limit_mb"] = 4096
        ample = core.solve_json_str(json.dumps(doc))
        capfd.readouterr()
        assert plain["timeout"] is False  # ended by itself, so exact results compare
        assert plain["routes"] == ample["routes"]
        assert plain["statistics"]["n_generated"] == ample["statistics"]["n_generated"]

    @pytest.mark.parametrize("budget", ["0", "-1", "-0.5"])
    def test_budget_in_the_document_must_be_a_positive_number(self, budget):
        text = json.dumps(long_search_doc(1.0)).replace('"time_limit": 1.0', f'"time_limit": 1.0, "memory_limit_mb": {budget}')
        with pytest.raises(ValueError, match="memory_limit_mb must be a positive number of megabytes"):
            core.solve_json_str(text)

    @pytest.mark.parametrize("budget", [0, -1, math.nan, math.inf])
    def test_budget_in_options_must_be_a_positive_number(self, budget):
        options = core.Options()
        options.memory_limit_mb = budget
        with pytest.raises(ValueError, match="memory_limit_mb must be a positive number of megabytes"):
            core.Solver(core.Problem(), options)
