"""`kvr_mtsp.check`, `SolveResult.check()` and `kvr-mtsp check`: every result
file the package writes is read, every fault is named by its kind, and a
result of another instance is refused as such."""
from __future__ import annotations

import copy
import json

import pytest

import kvr_mtsp
from kvr_mtsp.checker import Unreadable, check
from kvr_mtsp.cli import main
from kvr_mtsp.api import SolveResult
from kvr_mtsp.report import result_document
from test_check import GOOD_COSTS, GOOD_PATHS, changed, result_for, tiny_doc, window


def cli_output(doc, paths=GOOD_PATHS, costs=GOOD_COSTS):
    """The command line's --output for these routes: node ids and agent indices added."""
    return result_document(SolveResult.from_dict(result_for(doc, copy.deepcopy(paths), costs), doc))


def batch_file(doc, paths=GOOD_PATHS, costs=GOOD_COSTS, objective=4.0):
    document = cli_output(doc, paths, costs)
    document["batch"] = {"instance": "a.json", "instance_sha256": "0" * 64, "settings": {},
                         "objective_type": "min_max", "objective": objective, "cpu_time": 0.1,
                         "peak_memory_mb": 20.0}
    return document


class TestEveryShape:
    @pytest.mark.parametrize("make", [
        lambda d: result_for(d, GOOD_PATHS, GOOD_COSTS), cli_output, batch_file,
        lambda d: json.dumps(cli_output(d)),
    ], ids=["module", "cli-output", "batch", "json-text"])
    def test_correct_results_pass_with_the_recomputed_objective(self, make):
        doc = tiny_doc()
        verdict = check(doc, make(doc))
        assert verdict.ok, verdict.violations
        assert (verdict.route_costs, verdict.objective) == ([4.0, 3.0], 4.0)

    def test_files_are_read(self, tmp_path):
        doc = changed(options={"objective": "min_sum"})
        (tmp_path / "i.json").write_text(json.dumps(doc))
        (tmp_path / "r.json").write_text(json.dumps(cli_output(doc)))
        verdict = check(tmp_path / "i.json", str(tmp_path / "r.json"))
        assert verdict.ok and verdict.objective == 7.0

    def test_a_failed_result_without_routes_passes(self):
        doc = tiny_doc()
        verdict = check(doc, result_for(doc, [[], []], [0.0, 0.0], status="failed"))
        assert verdict.ok and verdict.status == "failed"


class TestViolationsAreNamed:
    @pytest.mark.parametrize("doc, paths, costs, kind, fragment", [
        (tiny_doc(), [[0, 1, 0], [0, 3, 0]], [2.0, 3.0], "visits", "targets not served: [2]"),
        (tiny_doc(), [[0, 1, 2, 0], [0, 2, 3, 0]], [4.0, 3.0], "visits", "served more than once: [2]"),
        (tiny_doc(), [[1, 2, 0], [0, 3, 0]], [3.0, 3.0], "depots", "starts at 1"),
        (changed(agent1={"end_node": 3}), [[0, 1, 3, 2, 0], [0, 3]], [6.0, 1.5], "depots", "end node of another"),
        (changed(constraints=[{"kind": "assignment", "items": [{"node": 3, "types": ["a"]}]}]),
         GOOD_PATHS, GOOD_COSTS, "types", "type 'b' may not serve node 3"),
        (changed(constraints=[window(2, 0.0, 1.5)]), GOOD_PATHS, GOOD_COSTS, "windows", "window end 1.5"),
        (changed(agent0={"max_length": 3}), GOOD_PATHS, GOOD_COSTS, "limits", "exceeds its limit 3"),
        (changed(options={"objective": "min_max", "missing_cost": 2.0}), [[0, 2, 1, 0], [0, 3, 0]], [4.0, 1.5],
         "connections", "no connection from 0 to 2"),
        (tiny_doc(), GOOD_PATHS, [4.5, 3.0], "costs", "reported cost 4.5, recomputed 4.0"),
    ], ids=["missed", "twice", "start", "other-depot", "type", "window", "limit", "connection", "cost"])
    def test_each_fault_has_its_kind(self, doc, paths, costs, kind, fragment):
        verdict = check(doc, cli_output(doc, paths, costs))
        assert not verdict.ok
        assert any(v.kind == kind and fragment in v.message for v in verdict.violations), verdict.violations
        assert kind in verdict.kinds()

    @pytest.mark.parametrize("change, fragment", [
        (lambda r: r["statistics"].update(max_cost=3.0), "disagree with route costs"),
        (lambda r: r["anytime"].insert(0, dict(r["anytime"][0], time=0.0005, max_cost=3.5)), "log reached 3.5"),
        (lambda r: r["batch"].update(objective=3.0), "the batch record's objective 3.0, recomputed 4.0"),
        (lambda r: r["batch"].update(objective_type="min_sum"), "objective type 'min_sum'"),
    ], ids=["statistics", "anytime", "batch-objective", "batch-kind"])
    def test_objective_faults(self, change, fragment):
        document = batch_file(tiny_doc())
        change(document)
        verdict = check(tiny_doc(), document)
        assert verdict.kinds() == ["objective"]
        assert any(fragment in v.message for v in verdict.violations), verdict.violations

    def test_violations_are_listed_in_the_order_of_their_kinds(self):
        doc = changed(agent0={"max_length": 3})
        verdict = check(doc, cli_output(doc, [[0, 1, 2, 0], [0, 3, 0]], [4.5, 3.0]))
        assert verdict.kinds() == ["limits"]  # a route that breaks a rule is not also charged its cost
        verdict = check(tiny_doc(), cli_output(tiny_doc(), [[0, 1, 0], [0, 3, 0]], [2.5, 3.0]))
        assert [v.kind for v in verdict.violations] == ["visits", "costs"]


class TestForeignResults:
    """A result of another instance is refused by naming what does not belong, not checked rule by rule."""

    @pytest.mark.parametrize("change, fragment", [
        (lambda r: r["routes"].pop(), "the result has 1 routes, but the instance has 2 agents"),
        (lambda r: r["routes"][1].update(agent_id=7), "routes[1] is for agent 7, which the instance does not have"),
        (lambda r: r["routes"][0].update(agent_id=1), "routes[0] is for agent 1, but the instance's agents[0]"),
        (lambda r: r["routes"][0].update(agent_index=1), '"agent_index" 1, not 0'),
        (lambda r: r["routes"][0]["path"].insert(1, 9), "visits positions 9, but the instance has 4 nodes"),
        (lambda r: r["routes"][0]["node_ids"].__setitem__(1, 11), "node id 11 at position 1, where the instance"),
    ], ids=["count", "unknown-agent", "other-agent", "agent-index", "position", "node-id"])
    def test_foreign_parts_are_named(self, change, fragment):
        document = cli_output(tiny_doc())
        change(document)
        verdict = check(tiny_doc(), document)
        assert verdict.kinds() == ["foreign"]
        assert any(fragment in v.message for v in verdict.violations), verdict.violations

    def test_one_based_ids_of_a_converted_document(self):
        doc = tiny_doc()
        for node in doc["nodes"]:
            node["id"] += 1
        for agent in doc["agents"]:
            agent.update(start_node=1, end_node=1)
        assert check(doc, cli_output(doc)).ok
        verdict = check(doc, cli_output(tiny_doc()))  # the same routes, written with the ids from 0
        assert verdict.kinds() == ["foreign"]


class TestUnreadable:
    @pytest.mark.parametrize("instance, result, fragment", [
        ("missing.json", "r.json", "cannot read .*missing.json"),
        ("i.json", "bad.json", "bad.json is not JSON the solver reads"),
        ("refused.json", "r.json", "the solver refuses this instance"),
        ("i.json", "i.json", 'no "routes" list'),
    ], ids=["missing", "not-json", "refused", "no-routes"])
    def test_files_that_cannot_be_checked(self, tmp_path, instance, result, fragment):
        doc = tiny_doc()
        (tmp_path / "i.json").write_text(json.dumps(doc))
        (tmp_path / "r.json").write_text(json.dumps(cli_output(doc)))
        (tmp_path / "bad.json").write_text("{routes: ")
        refused = copy.deepcopy(doc)
        refused["agents"][1]["start_node"] = 99
        (tmp_path / "refused.json").write_text(json.dumps(refused))
        with pytest.raises(Unreadable, match=fragment):
            check(tmp_path / instance, tmp_path / result)


class TestCommand:
    def test_exit_status_and_report(self, tmp_path, capsys):
        doc = changed(agent0={"max_length": 3})
        (tmp_path / "i.json").write_text(json.dumps(tiny_doc()))
        (tmp_path / "limited.json").write_text(json.dumps(doc))
        (tmp_path / "r.json").write_text(json.dumps(cli_output(tiny_doc())))
        assert main(["check", str(tmp_path / "i.json"), str(tmp_path / "r.json")]) == 0
        assert "no violations (min_max objective 4 recomputed" in capsys.readouterr().out
        assert main(["check", str(tmp_path / "limited.json"), str(tmp_path / "r.json")]) == 1
        out = capsys.readouterr().out
        assert "1 violation of" in out and "[limits] route 0 (agent 0): route length" in out
        assert main(["check", str(tmp_path / "i.json"), str(tmp_path / "none.json")]) == 2
        assert "cannot read" in capsys.readouterr().err


class TestSolveResultCheck:
    def test_a_solve_checks_against_its_own_instance(self):
        result = kvr_mtsp.solve(tiny_doc(), time_limit=1)
        verdict = result.check()
        assert verdict.ok, verdict.violations
        assert verdict.objective == pytest.approx(result.objective)
        other = changed(agent0={"id": 5})
        assert result.check(other).kinds() == ["foreign"]

    def test_a_result_read_without_its_instance_asks_for_it(self):
        result = kvr_mtsp.SolveResult.from_dict(result_for(tiny_doc(), GOOD_PATHS, GOOD_COSTS))
        with pytest.raises(ValueError, match=r"pass it: result.check\(instance\)"):
            result.check()
        assert result.check(tiny_doc()).ok

    def test_the_package_name_is_the_function(self):
        import kvr_mtsp.checker  # the module's name must not hide the function

        assert kvr_mtsp.check is kvr_mtsp.checker.check
