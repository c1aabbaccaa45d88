"""When a solve ends: the wall-clock limit ("wall_time_limit") beside the
processor-time limit, the engine's no-improvement limit ("max_no_improvement")
through every entry, an instance that no route can serve failing at once with
its reason, and documents too large for the memory budget refused up front."""
from __future__ import annotations

import json
import subprocess
import sys
import time
from pathlib import Path

import pytest

import _kvr_core as core
import kvr_mtsp
from kvr_mtsp.api import MAX_NO_IMPROVEMENT

ROOT = Path(__file__).resolve().parent.parent


def run_cli(*args: str, cwd: Path) -> subprocess.CompletedProcess:
    return subprocess.run(
        [sys.executable, "-m", "kvr_mtsp", *args], cwd=cwd, capture_output=True, text=True, timeout=120,
        env={"PYTHONPATH": str(ROOT), "PATH": "/usr/bin:/bin"},
    )


def five_nodes() -> dict:
    points = [(0, 0), (3, 4), (6, 0), (3, -4), (-2, 1)]
    return {
        "nodes": [{"id": i, "x": x, "y": y, "z": 0} for i, (x, y) in enumerate(points)],
        "agents": [{"id": 1, "type": "van", "start_node": 0, "end_node": 0},
                   {"id": 2, "type": "van", "start_node": 0, "end_node": 0}],
        "costs": {"van": [[((ax - bx) ** 2 + (ay - by) ** 2) ** 0.5 for bx, by in points] for ax, ay in points]},
        "constraints": [{"kind": "assignment", "items": [{"node": i, "types": ["van"]} for i in range(5)]}],
        "options": {"objective": "min_max"},
    }


class TestWallClockLimit:
    """Processor time stands still while the solve waits (here: in a slow
    progress callable), the wall clock does not: only the wall-clock limit
    ends such a solve."""

    @staticmethod
    def slow_doc(**options) -> dict:
        from conftest import long_search_doc

        doc = long_search_doc(60.0)
        doc["options"].update(options)
        return doc

    @staticmethod
    def sleeper(record):
        time.sleep(0.05)

    @pytest.mark.parametrize("improve", [False, True])
    def test_the_wall_clock_ends_a_solve_whose_processor_time_is_far_from_its_limit(self, improve):
        result = core.solve_json_str(json.dumps(self.slow_doc(wall_time_limit=1.0, improve=improve, seed=1)),
                                     on_progress=self.sleeper)
        assert result["status"] == "success" and result["timeout"] is True
        # Far below the 60 processor seconds the document allows.
        assert result["statistics"]["solve_time"] < 30
        walls = [entry["wall_time"] for entry in result["anytime"]]
        assert walls == sorted(walls) and walls[-1] <= result["statistics"]["solve_time"]

    def test_without_a_wall_clock_limit_the_trace_keeps_its_keys(self):
        doc = five_nodes()
        doc["options"]["time_limit"] = 1
        result = core.solve_json_str(json.dumps(doc))
        assert result["anytime"] and all(set(entry) == {"time", "max_cost", "sum_cost"} for entry in result["anytime"])
        doc["options"]["wall_time_limit"] = 5
        typed = kvr_mtsp.solve(doc)
        assert all(point.wall_time is not None for point in typed.anytime)
        assert typed.to_dict()["anytime"] == [point.to_dict() for point in typed.anytime]
        assert "wall_time" in typed.to_dict()["anytime"][0]

    def test_options_and_command_line(self, tmp_path):
        assert core.Options().wall_time_limit == 0
        instance = tmp_path / "five.json"
        instance.write_text(json.dumps(five_nodes()))
        solved = run_cli("solve", str(instance), "--wall-time-limit", "5", "--quiet", cwd=tmp_path)
        assert solved.returncode == 0, solved.stderr
        assert "5.0 s wall clock (from --wall-time-limit)" in solved.stdout
        refused = run_cli("solve", str(instance), "--wall-time-limit", "0", cwd=tmp_path)
        assert refused.returncode == 2 and "--wall-time-limit" in refused.stderr
        helped = run_cli("solve", "--help", cwd=tmp_path)
        assert "wall-clock seconds" in helped.stdout and "processor seconds" in helped.stdout


class TestNoImprovementLimit:
    def test_the_package_default_ends_a_tiny_solve_under_an_endless_time_limit(self):
        """The engine would otherwise run until a time limit of 1e308 passed."""
        assert MAX_NO_IMPROVEMENT > 0
        result = kvr_mtsp.solve(five_nodes(), time_limit=1e308)
        assert result.status == "success" and result.timeout is False

    def test_the_module_keeps_no_limit_unless_the_document_sets_one(self):
        assert core.Options().max_no_improvement == 0
        options = core.Options()
        options.max_no_improvement = 500
        assert options.max_no_improvement == 500
        doc = five_nodes()
        doc["options"].update(improve=True, time_limit=0.3)
        assert core.solve_json_str(json.dumps(doc))["timeout"] is True
        doc["options"]["max_no_improvement"] = 500
        result = core.solve_json_str(json.dumps(doc), 1e308)
        assert result["status"] == "success" and result["timeout"] is False

    def test_solve_argument_and_document_value_win_over_the_default(self, monkeypatch):
        sent = []
        real = core.solve_problem
        monkeypatch.setattr(kvr_mtsp.api._kvr_core, "solve_problem",
                            lambda problem, limit, **kw: sent.append(problem.options().max_no_improvement)
                            or real(problem, limit, **kw))
        doc = five_nodes()
        kvr_mtsp.solve(doc, time_limit=0.2)
        kvr_mtsp.solve(doc, time_limit=0.2, max_no_improvement=0)
        doc["options"]["max_no_improvement"] = 77
        kvr_mtsp.solve(doc, time_limit=0.2)
        assert sent == [MAX_NO_IMPROVEMENT, 0, 77]

    def test_command_line_default_and_flag(self, tmp_path):
        instance = tmp_path / "five.json"
        instance.write_text(json.dumps(five_nodes()))
        ended = run_cli("solve", str(instance), "--time-limit", "1e300", "--quiet", cwd=tmp_path)
        assert ended.returncode == 0, ended.stderr
        assert "success (search finished within the time limit)" in ended.stdout
        unlimited = run_cli("solve", str(instance), "--time-limit", "0.3", "--max-no-improvement", "0",
                            "--quiet", cwd=tmp_path)
        assert "success (time limit reached; best solution found so far)" in unlimited.stdout


class TestNoRouteCanServe:
    def test_a_window_no_agent_can_meet_fails_at_once_and_is_named(self, tmp_path):
        """Node 3 lies 23.4 from the depot; a window closing at 5 used to run the whole
        time limit in the engine and then advise a larger one."""
        doc = json.loads((ROOT / "examples" / "single_depot.json").read_text())
        doc["constraints"].append({"kind": "timewindow", "items": [{"node": 3, "start": 0, "end": 5}]})
        instance = tmp_path / "window.json"
        instance.write_text(json.dumps(doc))
        completed = run_cli("solve", str(instance), "--time-limit", "30", "--quiet", cwd=tmp_path)
        assert completed.returncode == 1
        assert "failed (the search ended without a solution)" in completed.stdout
        assert ("[warning] node 3 can't be served: its time window [0, 5] closes before any agent can arrive "
                "(the earliest arrival is 23.4)") in completed.stderr
        assert "time-limit" not in completed.stderr

    def test_an_exhausted_search_does_not_start_the_engine(self, capfd):
        """Two targets on either side of the depot whose windows each close on arrival:
        either alone can be served, both cannot; the focal search proves it."""
        points = [(0, 0), (-2, 0), (2, 0)]
        doc = {
            "nodes": [{"id": i, "x": x, "y": y, "z": 0} for i, (x, y) in enumerate(points)],
            "agents": [{"id": 1, "type": "van", "start_node": 0, "end_node": 0}],
            "costs": {"van": [[abs(ax - bx) for bx, _ in points] for ax, _ in points]},
            "constraints": [{"kind": "timewindow", "items": [{"node": 1, "start": 0, "end": 2},
                                                              {"node": 2, "start": 0, "end": 2}]}],
            "options": {"improve": True},
        }
        result = core.solve_json_str(json.dumps(doc), 1e308)
        assert result["status"] == "failed" and result["timeout"] is False
        assert "[improve] the focal search has exhausted its search space" in capfd.readouterr().err


class TestMemoryBudget:
    @staticmethod
    def many_nodes(n: int) -> dict:
        return {
            "nodes": [{"id": i, "x": i, "y": 0, "z": 0} for i in range(n)],
            "agents": [{"id": 1, "type": "truck", "start_node": 0, "end_node": 0}],
            "costs": {"truck": [[0]]},
            "options": {"improve": True},
        }

    def test_tables_beyond_the_budget_are_one_value_error(self):
        with pytest.raises(ValueError, match=r'instance of 40000 nodes and 1 agent type needs about [\d.]+ MB .*'
                           r'"memory_limit_mb"'):
            core.solve_json_str(json.dumps(self.many_nodes(40000)), 1)

    def test_command_line_refuses_in_one_line(self, tmp_path):
        # A matrix of every node (the command line refuses one of another shape
        # first); the document's own 11 MB leave about 5 MB of the budget.
        doc = self.many_nodes(1200)
        doc["costs"]["truck"] = [[0] * 1200] * 1200
        instance = tmp_path / "large.json"
        instance.write_text(json.dumps(doc, separators=(",", ":")))
        completed = run_cli("solve", str(instance), "--memory-limit-mb", "16", "--quiet", cwd=tmp_path)
        assert completed.returncode == 2
        error = [line for line in completed.stderr.splitlines() if "error" in line]
        assert len(error) == 1 and "1200 nodes" in error[0] and "memory_limit_mb" in error[0]
        assert "Traceback" not in completed.stderr

    def test_command_line_counts_the_document_against_the_budget(self, tmp_path):
        instance = tmp_path / "large.json"
        instance.write_text(json.dumps(self.many_nodes(40000)))  # about 1.6 MB of text
        completed = run_cli("solve", str(instance), "--memory-limit-mb", "2", "--quiet", cwd=tmp_path)
        assert completed.returncode == 2
        assert "the document itself takes about" in completed.stderr
