"""Demands against agents' capacities: the option "enforce_capacity" in the
module (off unless given), in `kvr_mtsp.solve`, `solve_many`, the command
line and batch (on unless turned off), the warning when it is off, the
refusals, and the routes' loads in every result form."""
from __future__ import annotations

import json
import subprocess
import sys
from pathlib import Path

import pytest

import _kvr_core as core
import kvr_mtsp
from kvr_mtsp.checker import check_result, read_instance, route_load
from conftest import grid_doc

ROOT = Path(__file__).resolve().parent.parent
WARNING = ('[warning] demands and capacities are carried but not enforced; set the option "enforce_capacity" '
           "to true to keep every route within its agent's capacity")


def loaded_doc(capacity: float = 9, enforce: bool | None = None, improve: bool = False) -> dict:
    """Six targets on a circle around the depot, demand 3 each (18 in all),
    two trucks of `capacity`: at 9 each takes exactly three targets, while
    without capacities one truck serving all is the cheapest (min_sum)."""
    doc = grid_doc(6, agent_ids=(1, 2), objective="min_sum", time_limit=20)
    for node in doc["nodes"][1:]:
        node["demand"] = 3
    doc["nodes"][0]["demand"] = 50  # a depot's demand counts for nothing
    for agent in doc["agents"]:
        agent["capacity"] = capacity
    doc["options"].update({"max_iterations": 300, "seed": 1})
    if improve:
        doc["options"]["improve"] = True
    if enforce is not None:
        doc["options"]["enforce_capacity"] = enforce
    return doc


def loads_of(routes: list[dict]) -> list[float]:
    return [route.get("load") for route in routes]


class TestModule:
    def test_absent_option_keeps_the_result_keys_and_warns_once(self, capfd):
        doc = loaded_doc()
        doc["options"]["improve"] = True
        result = core.solve_json_str(json.dumps(doc))
        assert capfd.readouterr().err.count(WARNING) == 1
        assert all(list(route) == ["agent_id", "path", "cost"] for route in result["routes"])
        # Not enforced: one truck may take everything (the optimum of min_sum).
        assert check_result(doc, result) == []
        assert max(route_load(read_instance(doc), route["path"]) for route in result["routes"]) == 18

    @pytest.mark.parametrize("demand, capacity", [(0, 8), (3, 0)])
    def test_no_warning_without_both_a_demand_and_a_capacity(self, capfd, demand, capacity):
        doc = loaded_doc(capacity)
        for node in doc["nodes"]:
            node["demand"] = demand
        core.solve_json_str(json.dumps(doc))
        assert "not enforced" not in capfd.readouterr().err

    def test_enforced_routes_keep_the_capacity_and_report_their_load(self, capfd):
        doc = loaded_doc(enforce=True)
        doc["options"]["improve"] = True
        result = core.solve_json_str(json.dumps(doc))
        assert result["status"] == "success"
        assert check_result(doc, result) == []  # the checker holds the loads to the capacity
        assert [list(route) for route in result["routes"]] == [["agent_id", "path", "cost", "load"]] * 2
        assert loads_of(result["routes"]) == [9, 9]
        assert "not enforced" not in capfd.readouterr().err

    def test_binding_capacities_without_the_engine_are_refused_naming_the_options(self):
        doc = loaded_doc(enforce=True)
        with pytest.raises(ValueError, match=r'set the option "improve" to true, or "enforce_capacity" to false'):
            core.solve_json_str(json.dumps(doc))
        # Capacities every route keeps need no engine: the focal search solves it exactly.
        loose = loaded_doc(capacity=18, enforce=True)
        result = core.solve_json_str(json.dumps(loose))
        assert result["status"] == "success" and not result["timeout"]
        assert sum(loads_of(result["routes"])) == 18

    @pytest.mark.parametrize("demand", [-1, float("inf"), float("nan")])
    def test_bad_demands_are_refused_naming_the_node(self, demand):
        problem = core.read_document(json.dumps(loaded_doc(enforce=True)))
        problem.nodes()[2].demand = demand
        problem.options().improve = True
        with pytest.raises(ValueError, match=r"^node 2 \(nodes\[2\]\) has a demand of .*; demands must be finite and non-negative$"):
            core.solve_problem(problem)
        problem.options().enforce_capacity = False
        problem.options().max_iterations = 5
        assert core.solve_problem(problem)["status"] == "success"

    def test_a_demand_no_agent_can_carry_fails_before_any_search(self, capfd):
        doc = loaded_doc(enforce=True)
        doc["options"]["improve"] = True
        doc["nodes"][4]["demand"] = 10
        result = core.solve_json_str(json.dumps(doc))
        assert result["status"] == "failed" and not result["timeout"]
        lines = [line for line in capfd.readouterr().err.splitlines() if "node 4" in line]
        assert lines == ["[warning] node 4 can't be served: its demand 10 is above the capacity of every agent "
                         "that may visit it (the largest, agent 1's, is 9)"]
        assert check_result(doc, result) == []

    def test_options_object_and_result_object(self):
        options = core.Options()
        assert options.enforce_capacity is False
        options.enforce_capacity = True
        assert options.enforce_capacity is True
        problem = core.read_document(json.dumps(loaded_doc(enforce=True)))
        assert problem.options().enforce_capacity is True
        problem.options().improve = True
        solver = core.Solver(problem, problem.options())
        assert solver.solve() == 1
        result = solver.get_result()
        assert sorted(result.loads.values()) == sorted(
            route_load(read_instance(loaded_doc()), path) for path in result.paths.values())
        assert sorted(result.loads.values()) == [9, 9]


class TestPackage:
    def test_solve_enforces_by_default_and_reports_loads(self):
        result = kvr_mtsp.solve(loaded_doc(), time_limit=20)
        assert result.solved
        assert [route.load for route in result.routes] == [9, 9]
        assert check_result(loaded_doc(enforce=True, improve=True), result.to_dict()) == []
        assert [route["load"] for route in result.to_dict()["routes"]] == [route.load for route in result.routes]

    def test_solve_can_turn_it_off(self):
        result = kvr_mtsp.solve(loaded_doc(), time_limit=20, enforce_capacity=False)
        assert all(route.load is None for route in result.routes)
        assert all("load" not in route for route in result.to_dict()["routes"])
        assert check_result(loaded_doc(), result.to_dict()) == []


def run_cli(*args: str, cwd: Path) -> subprocess.CompletedProcess:
    env = {"PYTHONPATH": str(ROOT), "PATH": "/usr/bin:/bin"}
    return subprocess.run([sys.executable, "-m", "kvr_mtsp", *args], cwd=cwd, env=env, capture_output=True,
                          text=True, timeout=120)


class TestCommandLine:
    def test_enforced_by_default_with_loads_in_summary_and_output(self, tmp_path):
        instance = tmp_path / "loaded.json"
        instance.write_text(json.dumps(loaded_doc()))
        completed = run_cli("solve", str(instance), "--output", str(tmp_path / "out.json"), "--quiet", cwd=tmp_path)
        assert completed.returncode == 0, completed.stderr
        written = json.loads((tmp_path / "out.json").read_text())
        assert [route["load"] for route in written["routes"]] == [9, 9]
        route_lines = [line for line in completed.stdout.splitlines() if line.startswith("  agent ")]
        assert [float(line.split(" load ")[1].split()[0]) for line in route_lines] == [
            route["load"] for route in written["routes"]]
        assert "not enforced" not in completed.stderr

    def test_no_capacity_turns_it_off_and_warns(self, tmp_path):
        instance = tmp_path / "loaded.json"
        instance.write_text(json.dumps(loaded_doc()))
        completed = run_cli("solve", str(instance), "--no-capacity", "--output", str(tmp_path / "out.json"),
                            "--quiet", cwd=tmp_path)
        assert completed.returncode == 0, completed.stderr
        # Said once, naming the flag to drop rather than the option.
        assert completed.stderr.count("carried, not enforced") == 1
        assert "drop --no-capacity to keep every route within its agent's capacity" in completed.stderr
        assert WARNING not in completed.stderr
        written = json.loads((tmp_path / "out.json").read_text())
        assert all("load" not in route for route in written["routes"])
        assert " load " not in completed.stdout
