"""The independent result checker (kvr_mtsp.checker) on hand-made results.

Every fault is offered in both shapes the checker takes: a whole result
dictionary (check_result) and bare paths with reported costs
(check_solution, as the benchmarks have them).
"""
from __future__ import annotations

import copy
import math
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

from kvr_mtsp.checker import (
    InvalidInstance,
    UnknownReference,
    check_result,
    check_routes,
    check_solution,
    read_instance,
)

ROOT = Path(__file__).resolve().parent.parent
GOOD_PATHS = [[0, 1, 2, 0], [0, 3, 0]]
GOOD_COSTS = [4.0, 3.0]


def tiny_doc(**overrides):
    """Depot 0 and targets 1..3 on a line, two agents of types a and b (b at half the cost)."""
    doc = {
        "nodes": [{"id": i, "x": 0, "y": 0, "z": 0} for i in range(4)],
        "agents": [
            {"id": 0, "type": "a", "start_node": 0, "end_node": 0},
            {"id": 1, "type": "b", "start_node": 0, "end_node": 0},
        ],
        "costs": {
            "a": [[abs(i - j) * 1.0 for j in range(4)] for i in range(4)],
            "b": [[abs(i - j) * 0.5 for j in range(4)] for i in range(4)],
        },
        "constraints": [],
        "options": {"objective": "min_max"},
    }
    doc.update(overrides)
    return doc


def result_for(doc, paths, costs, status="success"):
    """A result dictionary as the JSON entry points write it."""
    totals = {"max_cost": max([0.0, *costs]), "sum_cost": math.fsum(costs)}
    return {
        "status": status,
        "timeout": False,
        "routes": [{"agent_id": a["id"], "path": p, "cost": c} for a, p, c in zip(doc["agents"], paths, costs)],
        "statistics": {"solve_time": 0.01, **totals, "n_generated": 12, "n_expanded": 4, "last_update_time": 0.001},
        "anytime": [{"time": 0.001, **totals}] if status == "success" else [],
    }


def errors_in_result(doc, paths, costs):
    return check_result(doc, result_for(doc, paths, costs))


def errors_in_solution(doc, paths, costs):
    report = check_solution(doc, paths, costs)
    assert report.feasible == (not report.errors)
    return report.errors


BOTH_SHAPES = pytest.mark.parametrize("errors_of", [errors_in_result, errors_in_solution], ids=["result", "paths"])


def window(node, start, end):
    return {"kind": "timewindow", "items": [{"node": node, "start": start, "end": end}]}


def changed(**changes):
    """A tiny_doc with agent fields or whole sections replaced."""
    doc = tiny_doc()
    for key, value in changes.items():
        if key.startswith("agent"):
            doc["agents"][int(key[5:])].update(value)
        else:
            doc[key] = value
    return doc


def open_routes():
    return changed(options={"objective": "min_max", "return_to_end": False})


class TestFaultsAreCaught:
    @BOTH_SHAPES
    @pytest.mark.parametrize("doc, paths, costs", [
        (tiny_doc(), GOOD_PATHS, GOOD_COSTS),
        (tiny_doc(), [[0, 1, 2, 3, 0], [0, 0]], [6.0, 0.0]),  # an idle agent
        (changed(constraints=[window(1, 5.0, 9.0)]), GOOD_PATHS, [8.0, 3.0]),  # waits at 1 until 5
        (changed(constraints=[window(0, 2.0, 100.0)]), GOOD_PATHS, [6.0, 5.0]),  # waits at the start node
        (changed(agent0={"max_length": 8}, constraints=[window(1, 5.0, 9.0)]), GOOD_PATHS, [8.0, 3.0]),
        (open_routes(), GOOD_PATHS, [2.0, 1.5]),  # the leg back is free
        (changed(agent1={"end_node": 3}), [[0, 1, 2, 0], [0, 3]], [4.0, 1.5]),  # ends where it must
    ], ids=["plain", "idle", "window", "start-window", "limit", "open", "own-end"])
    def test_correct_solutions_pass(self, errors_of, doc, paths, costs):
        assert errors_of(doc, paths, costs) == []

    @BOTH_SHAPES
    @pytest.mark.parametrize("doc, paths, costs, fragment", [
        (tiny_doc(), GOOD_PATHS, [4.5, 3.0], "reported cost 4.5, recomputed 4.0"),
        (tiny_doc(), [[0, 1, 0], [0, 3, 0]], [2.0, 3.0], "targets not served: [2]"),
        (tiny_doc(), [[0, 1, 2, 0], [0, 2, 3, 0]], [4.0, 3.0], "served more than once: [2]"),
        (tiny_doc(), [[1, 2, 0], [0, 3, 0]], [3.0, 3.0], "starts at 1"),
        (tiny_doc(), [[0, 1, 2], [0, 3, 0]], [2.0, 3.0], "ends at 2"),
        (tiny_doc(), [[0, 1, 0, 2, 0], [0, 3, 0]], [4.0, 3.0], "own start or end node 0"),
        (tiny_doc(), [[0, 1, 2, 7, 0], [0, 3, 0]], [4.0, 3.0], "node position 7 does not exist"),
        (tiny_doc(), [[0, 1, 2, 0]], [4.0], "1 routes for 2 agents"),
        (changed(constraints=[{"kind": "assignment", "items": [{"node": 3, "types": ["a"]}]}]),
         GOOD_PATHS, GOOD_COSTS, "type 'b' may not serve node 3"),
        (changed(constraints=[window(2, 0.0, 1.5)]), GOOD_PATHS, GOOD_COSTS, "after its window end 1.5"),
        (changed(constraints=[window(1, 5.0, 9.0)]), GOOD_PATHS, GOOD_COSTS, "reported cost 4.0, recomputed 8.0"),
        (changed(constraints=[window(0, 2.0, 100.0)]), GOOD_PATHS, GOOD_COSTS, "reported cost 4.0, recomputed 6.0"),
        (changed(agent0={"max_length": 3}), GOOD_PATHS, GOOD_COSTS, "exceeds its limit 3"),
        (changed(agent0={"max_length": 7}, constraints=[window(1, 5.0, 9.0)]), GOOD_PATHS, [8.0, 3.0],
         "exceeds its limit 7"),
        (open_routes(), GOOD_PATHS, GOOD_COSTS, "reported cost 4.0, recomputed 2.0"),
        (open_routes(), [[0, 1, 2], [0, 3, 0]], [2.0, 1.5], "ends at 2"),
        (changed(agent1={"end_node": 3}), [[0, 1, 3, 2, 0], [0, 3]], [6.0, 1.5], "end node of another agent"),
        (changed(agent1={"start_node": 3}), [[0, 1, 3, 2, 0], [3, 0]], [6.0, 1.5], "start node of another agent"),
        (changed(costs={"a": tiny_doc()["costs"]["a"]}), GOOD_PATHS, GOOD_COSTS, "no cost matrix for type 'b'"),
    ], ids=["cost", "missed", "twice", "start", "end", "own-depot", "position", "count", "type", "window-end",
            "window-wait", "start-wait", "limit", "limit-waiting", "open-free-leg", "open-end", "other-end",
            "other-start", "no-matrix"])
    def test_faults_are_flagged(self, errors_of, doc, paths, costs, fragment):
        errors = errors_of(doc, paths, costs)
        assert any(fragment in e for e in errors), errors

    def test_route_order_and_entries_follow_the_document(self):
        doc = tiny_doc()
        result = result_for(doc, GOOD_PATHS, GOOD_COSTS)
        assert check_routes(doc, result["routes"]) == []
        swapped = copy.deepcopy(result["routes"])
        swapped[0]["agent_id"], swapped[1]["agent_id"] = 1, 0
        assert "does not belong to agent 0" in check_routes(doc, swapped)[0]
        renamed = [{"agent": r["agent_id"], "path": r["path"], "cost": r["cost"]} for r in result["routes"]]
        assert check_routes(doc, renamed)
        assert check_routes(doc, result["routes"][:1]) == ["1 routes for 2 agents"]

    @pytest.mark.parametrize("change, fragment", [
        (lambda r: r.update(status="done"), "status 'done'"),
        (lambda r: r.update(timeout=0), "timeout 0"),
        (lambda r: r.pop("anytime"), "result keys"),
        (lambda r: r["statistics"].update(max_cost=5.0), "disagree with route costs"),
        (lambda r: r["statistics"].update(sum_cost=6.0), "disagree with route costs"),
        (lambda r: r["statistics"].update(n_expanded=-1), "negative statistics"),
        (lambda r: r["anytime"].append(dict(r["anytime"][0], time=0.002)), "does not improve"),
        (lambda r: r["anytime"].insert(0, dict(r["anytime"][0], time=0.0005, max_cost=3.5)),
         "max_cost 4.0 returned, but the anytime log reached 3.5"),
        (lambda r: r.update(status="failed"), "status failed with routes"),
    ], ids=["status", "timeout", "keys", "max", "sum", "negative", "anytime", "anytime-best", "failed"])
    def test_result_document_faults(self, change, fragment):
        result = result_for(tiny_doc(), GOOD_PATHS, GOOD_COSTS)
        change(result)
        errors = check_result(tiny_doc(), result)
        assert any(fragment in e for e in errors), errors

    def test_failed_result_has_empty_routes(self):
        doc = tiny_doc()
        assert check_result(doc, result_for(doc, [[], []], [0.0, 0.0], status="failed")) == []


class TestRulesTheSolverOnceBent:
    """Faults the solver's results once had on odd documents; the checker
    reports them in every result."""

    @BOTH_SHAPES
    @pytest.mark.parametrize("doc, paths, costs, fragment", [
        # An arc without connection, taken at its cost.
        (changed(costs={"a": [[9999.0 if (i, j) == (1, 2) else abs(i - j) * 1.0 for j in range(4)] for i in range(4)],
                        "b": tiny_doc()["costs"]["b"]}),
         GOOD_PATHS, [10002.0, 3.0], "no connection from 1 to 2"),
        # The same arc once "missing_cost" is lowered below its cost.
        (changed(options={"objective": "min_max", "missing_cost": 2.0}), [[0, 2, 1, 0], [0, 3, 0]], [4.0, 1.5],
         "no connection from 0 to 2"),
        # Passing another agent's start node with closed routes, reported at cost 0.
        (changed(agent1={"start_node": 3}), [[0, 1, 3, 2, 0], [3, 0]], [0.0, 1.5], "start node of another agent"),
        # Starting where the own type may not serve; again cost 0.
        (changed(agent0={"end_node": 3}, constraints=[{"kind": "assignment", "items": [{"node": 0, "types": ["b"]}]}]),
         [[0, 1, 2, 3], [0, 0]], [0.0, 0.0], "type 'a' may not serve node 0"),
    ], ids=["no-connection", "missing-cost", "other-start", "start-type"])
    def test_faults_are_flagged(self, errors_of, doc, paths, costs, fragment):
        errors = errors_of(doc, paths, costs)
        assert any(fragment in e for e in errors), errors

    @BOTH_SHAPES
    def test_a_raised_missing_cost_connects_large_costs(self, errors_of):
        large = {name: [[c * 10000 for c in row] for row in matrix] for name, matrix in tiny_doc()["costs"].items()}
        doc = changed(costs=large)
        assert any("no connection" in e for e in errors_of(doc, GOOD_PATHS, [40000.0, 30000.0]))
        doc["options"]["missing_cost"] = 1e6
        assert errors_of(doc, GOOD_PATHS, [40000.0, 30000.0]) == []

    @BOTH_SHAPES
    def test_an_agent_that_stays_needs_no_matrix(self, errors_of):
        doc = changed(costs={"a": tiny_doc()["costs"]["a"]})
        assert errors_of(doc, [[0, 1, 2, 3, 0], [0, 0]], [6.0, 0.0]) == []

    def test_a_failed_result_has_no_improvements(self):
        doc = tiny_doc()
        result = result_for(doc, [[], []], [0.0, 0.0], status="failed")
        result["anytime"] = [{"time": 0.001, "max_cost": 4.0, "sum_cost": 7.0}]
        assert any("status failed with improvements" in e for e in check_result(doc, result))


def paired_doc(pairs, enforce=True, improve=True):
    """A tiny_doc with precedence pairs, enforced (with the engine) or carried."""
    doc = tiny_doc(constraints=[{"kind": "sequence", "precedence": pairs}])
    doc["options"].update(enforce_precedence=enforce, improve=improve)
    return doc


class TestPrecedencePairs:
    """Agent 0 serves 1 at 1 and 2 at 2, agent 1 (half the cost) reaches 3 at 1.5."""

    @BOTH_SHAPES
    @pytest.mark.parametrize("pairs, enforce, costs", [
        ([{"before": 1, "after": 2, "type": "same"}], True, GOOD_COSTS),
        ([{"before": 1, "after": 3}], True, GOOD_COSTS),  # 3 is served after 1 anyway
        ([{"before": 2, "after": 3}], True, [4.0, 3.5]),  # agent 1 waits at 3 from 1.5 until 2
        ([{"before": 2, "after": 3, "type": "diff"}], True, [4.0, 3.5]),
        ([{"before": 2, "after": 1, "type": "same"}, {"before": 1, "after": 2, "type": "diff"}], False, GOOD_COSTS),
    ], ids=["same", "plain-no-wait", "plain-wait", "diff-wait", "carried"])
    def test_kept_pairs_pass(self, errors_of, pairs, enforce, costs):
        assert errors_of(paired_doc(pairs, enforce), GOOD_PATHS, costs) == []

    @BOTH_SHAPES
    @pytest.mark.parametrize("pairs, costs, fragment", [
        ([{"before": 1, "after": 3, "type": "same"}], GOOD_COSTS, "split over routes 0 and 1"),
        ([{"before": 2, "after": 1, "type": "same"}], GOOD_COSTS, "out of order on route 0"),
        ([{"before": 2, "after": 1}], GOOD_COSTS, "out of order on route 0"),
        ([{"before": 1, "after": 2, "type": "diff"}], GOOD_COSTS, "both on route 0"),
        ([{"before": 2, "after": 3}], GOOD_COSTS, "reported cost 3.0, recomputed 3.5"),
        ([{"before": 2, "after": 3}, {"before": 3, "after": 1}], [4.0, 3.5], "in a cycle"),
    ], ids=["split", "same-order", "plain-order", "joined", "wait-not-costed", "cycle"])
    def test_broken_pairs_are_flagged(self, errors_of, pairs, costs, fragment):
        errors = errors_of(paired_doc(pairs), GOOD_PATHS, costs)
        assert any(fragment in e for e in errors), errors

    def test_a_wait_that_misses_a_window_is_flagged(self):
        doc = paired_doc([{"before": 2, "after": 3}])
        doc["constraints"].append(window(3, 0.0, 1.8))
        errors = errors_in_result(doc, GOOD_PATHS, [4.0, 3.5])
        assert any("reaches node 3 at 2.0, after its window end 1.8" in e for e in errors), errors


class TestDocumentsTheSolverRejects:
    @pytest.mark.parametrize("change, fragment", [
        (lambda d: d["nodes"][2].update(id=0), "node id 0 at positions 0 and 2"),
        (lambda d: d["nodes"][3].update(id=-0.5), "node id 0 at positions 0 and 3"),  # after conversion
        (lambda d: d["agents"][1].update(id=0), "agent id 0 at positions 0 and 1"),
        (lambda d: d["costs"]["b"][1].__setitem__(2, -4.5), "cost -4.5 of type 'b' at row 1, column 2"),
        (lambda d: d["costs"]["a"][3].__setitem__(3, -1), "cost -1.0 of type 'a' at row 3, column 3"),
        (lambda d: d["options"].update(missing_cost=0), "missing_cost 0"),
        (lambda d: d.update(paired_doc([{"before": 1, "after": 2}], improve=False)),
         "precedence pairs are enforced without the improvement engine"),
    ], ids=["node-id", "node-id-converted", "agent-id", "negative-cost", "negative-diagonal", "missing-cost",
            "pairs-without-engine"])
    def test_invalid_instances(self, change, fragment):
        doc = tiny_doc()
        change(doc)
        with pytest.raises(InvalidInstance, match=re.escape(fragment)):
            read_instance(doc)

    def test_invalid_before_unknown_references(self):
        doc = tiny_doc()
        doc["agents"][1].update(id=0, start_node=99)
        with pytest.raises(InvalidInstance):
            read_instance(doc)
        doc["agents"][1].update(id=1)
        with pytest.raises(UnknownReference):
            read_instance(doc)


def loaded(enforce: bool = True, improve: bool = True):
    """tiny_doc with demands 2, 3, 4 on targets 1..3 (the depot's 9 counts for
    nothing) and capacity 5 for agent 0, none for agent 1."""
    doc = tiny_doc()
    for node, demand in zip(doc["nodes"], (9, 2, 3, 4)):
        node["demand"] = demand
    doc["agents"][0]["capacity"] = 5
    doc["options"].update(enforce_capacity=enforce, improve=improve)
    return doc


class TestCapacities:
    def test_a_load_over_the_capacity_is_flagged_only_when_enforced(self):
        errors_of = errors_in_solution  # the result shape also needs the loads: next test
        assert errors_of(loaded(), [[0, 1, 2, 0], [0, 3, 0]], [4.0, 3.0]) == []  # loads 5 and 4
        assert errors_of(loaded(), [[0, 3, 0], [0, 1, 2, 0]], [6.0, 2.0]) == []  # agent 1 has no capacity
        errors = errors_of(loaded(), [[0, 1, 3, 0], [0, 2, 0]], [6.0, 2.0])
        assert errors == ["route 0 (agent 0): load 6.0 exceeds its capacity 5"]
        assert errors_of(loaded(enforce=False), [[0, 1, 3, 0], [0, 2, 0]], [6.0, 2.0]) == []

    def test_reported_loads_must_match(self):
        doc = loaded()
        result = result_for(doc, [[0, 1, 2, 0], [0, 3, 0]], [4.0, 3.0])
        # Enforced: every route must carry its load.
        assert check_result(doc, result) == [
            "route 0: {'agent_id': 0, 'path': [0, 1, 2, 0], 'cost': 4.0} does not belong to agent 0",
            "route 1: {'agent_id': 1, 'path': [0, 3, 0], 'cost': 3.0} does not belong to agent 1"]
        for route, load in zip(result["routes"], (5.0, 4.0)):
            route["load"] = load
        assert check_result(doc, result) == []
        result["routes"][1]["load"] = 3.0
        assert check_result(doc, result) == ["route 1: reported load 3.0, recomputed 4.0"]

    @pytest.mark.parametrize("demand", [-1, math.inf])
    def test_bad_demands_and_binding_capacities_without_the_engine(self, demand):
        doc = loaded()
        doc["nodes"][2]["demand"] = demand
        with pytest.raises(InvalidInstance, match="node 2 has the demand"):
            read_instance(doc)
        read_instance(loaded(enforce=False) | {"nodes": doc["nodes"]})
        with pytest.raises(InvalidInstance, match="capacities below the total demand 9.0 without the improvement engine"):
            read_instance(loaded(improve=False))


class TestSolutionForm:
    def test_recomputed_costs_and_objectives(self):
        check = check_solution(tiny_doc(), GOOD_PATHS)
        assert check.feasible, check.errors
        assert (check.route_costs, check.objective) == ([4.0, 3.0], 4.0)
        assert check_solution(changed(options={"objective": "min_sum"}), GOOD_PATHS).objective == 7.0

    @pytest.mark.parametrize("idle", [[0], [0, 0], []])
    def test_idle_agents_cost_nothing(self, idle):
        check = check_solution(tiny_doc(), [[0, 1, 2, 3, 0], idle], [6.0, 0.0])
        assert check.feasible, check.errors
        assert check.route_costs == [6.0, 0.0]

    def test_idle_agent_must_still_reach_a_different_end_node(self):
        check = check_solution(changed(agent1={"end_node": 3}), [[0, 1, 2, 0], [0]])
        assert any("ends at 0, not at 3" in e for e in check.errors), check.errors

    def test_rounding_slack_on_limits_only_for_paths(self):
        # A peer working in scaled integers may overrun a limit by rounding.
        doc = changed(agent0={"max_length": 4})
        doc["costs"]["a"][2][0] += 1e-12
        assert check_solution(doc, GOOD_PATHS).feasible
        assert not check_solution(doc, GOOD_PATHS, slack=0.0).feasible
        errors = check_result(doc, result_for(doc, GOOD_PATHS, [4.0 + 1e-12, 3.0]))
        assert any("exceeds its limit 4" in e for e in errors), errors


def test_checker_runs_without_the_solver_extension():
    code = "import sys, kvr_mtsp.checker; print('_kvr_core' in sys.modules)"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [str(ROOT), os.environ.get("PYTHONPATH")])))
    completed = subprocess.run([sys.executable, "-c", code], cwd=ROOT, env=env, capture_output=True, text=True,
                               timeout=60)
    assert completed.returncode == 0, completed.stderr
    assert completed.stdout.strip() == "False"
