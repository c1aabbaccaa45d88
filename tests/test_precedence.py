"""Precedence pairs: the option "enforce_precedence" on every road into the
solver, what a returned solution keeps, and the instances refused or failed
before any search. Solutions are judged by the independent checker."""
from __future__ import annotations

import copy
import json
import subprocess
import sys
import warnings

import pytest

import _kvr_core as core
import kvr_mtsp
from kvr_mtsp.checker import check_result
from kvr_mtsp import batch_cli, cli
from kvr_mtsp.validate import problems

from conftest import grid_doc
from test_cli import child_env

NOT_ENFORCED = 'set the option "enforce_precedence" to true to honour them'
ENGINE = {"improve": True, "max_iterations": 300, "seed": 4}


def with_pairs(pairs: list[dict], n_targets: int = 6, **options) -> dict:
    """The circle instance of conftest with a "sequence" constraint."""
    doc = grid_doc(n_targets, objective="min_sum", time_limit=5.0)
    doc["constraints"].append({"kind": "sequence", "precedence": pairs})
    doc["options"].update(options)
    return doc


def warning_lines(err: str) -> list[str]:
    return [line for line in err.splitlines() if "enforce_precedence" in line]


def enforced(doc: dict) -> dict:
    """The document as the checker must read it after `kvr_mtsp.solve`:
    pairs enforced, with the engine on."""
    checked = copy.deepcopy(doc)
    checked["options"].update(enforce_precedence=True, improve=True)
    return checked


class TestTheOption:
    def test_module_default_is_off_and_the_reader_takes_it(self):
        assert core.Options().enforce_precedence is False
        doc = with_pairs([{"before": 1, "after": 2}], enforce_precedence=True)
        assert core.read_document(json.dumps(doc)).options().enforce_precedence is True
        options = core.read_document(json.dumps(with_pairs([]))).options()
        assert options.enforce_precedence is False

    def test_schema_takes_a_boolean_only(self):
        assert problems(with_pairs([], enforce_precedence=True)) == []
        mistakes = problems(with_pairs([], enforce_precedence="yes"))
        assert len(mistakes) == 1 and "enforce_precedence" in mistakes[0]

    def test_off_the_pairs_are_carried_without_effect_and_one_line_says_so(self, capfd):
        """The module's default: routes as without the pairs, and one warning naming the option."""
        pairs = [{"before": 3, "after": 1, "type": "same"}, {"before": 2, "after": 5}]
        carried = core.solve_json_str(json.dumps(with_pairs(pairs)), 2.0)
        lines = warning_lines(capfd.readouterr().err)
        plain = core.solve_json_str(json.dumps(with_pairs([])), 2.0)
        assert warning_lines(capfd.readouterr().err) == []
        assert lines == ["[warning] the instance carries 2 precedence pairs that are not enforced; " + NOT_ENFORCED]
        assert [r["path"] for r in carried["routes"]] == [r["path"] for r in plain["routes"]]

    def test_on_without_the_engine_is_refused_naming_both_options(self):
        doc = with_pairs([{"before": 1, "after": 2}], enforce_precedence=True)
        with pytest.raises(ValueError, match='"improve" to true, or "enforce_precedence" to false'):
            core.solve_json_str(json.dumps(doc), 1.0)
        # Without pairs the option changes nothing.
        assert core.solve_json_str(json.dumps(with_pairs([], enforce_precedence=True)), 1.0)["status"] == "success"

    def test_solve_turns_it_on_by_default_and_off_on_request(self, capfd):
        doc = with_pairs([{"before": 4, "after": 1, "type": "same"}], max_iterations=200)
        # The package issues the solver's warnings as SolverWarning.
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            on = kvr_mtsp.solve(doc, seed=1)
        assert warning_lines("\n".join(str(w.message) for w in caught)) == []
        assert check_result(enforced(doc), on.to_dict()) == []
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            kvr_mtsp.solve(doc, seed=1, enforce_precedence=False)
        assert len(warning_lines("\n".join(str(w.message) for w in caught))) == 1

    def test_command_line_flags(self, tmp_path):
        assert cli.build_parser().parse_args(["solve", "x.json"]).precedence is True
        assert cli.build_parser().parse_args(["solve", "x.json", "--no-precedence"]).precedence is False
        doc = with_pairs([{"before": 4, "after": 1, "type": "same"}], max_iterations=200)
        (tmp_path / "instance.json").write_text(json.dumps(doc))
        for flags, warned in (([], False), (["--no-precedence"], True)):
            completed = subprocess.run(
                [sys.executable, "-m", "kvr_mtsp", "solve", "instance.json", "--quiet", "--output", "out.json", *flags],
                cwd=tmp_path, env=child_env(), capture_output=True, text=True, timeout=120)
            assert completed.returncode == 0, completed.stderr
            # The command line names its flag, not the option, and says it once.
            assert ("drop --no-precedence to honour them" in completed.stderr) == warned
            assert NOT_ENFORCED not in completed.stderr
        result = json.loads((tmp_path / "out.json").read_text())
        assert result["status"] == "success"

    def test_batch_flag(self):
        parser = cli.build_parser()
        assert parser.parse_args(["batch", "a.json", "--out", "o"]).precedence is True
        assert parser.parse_args(["batch", "a.json", "--out", "o", "--no-precedence"]).precedence is False
        assert batch_cli.__doc__ is not None and "--no-precedence" in batch_cli.__doc__


# Pairs of each kind over the targets 1..6 of the circle, with 2 agents.
KEPT = {
    "same": [{"before": 4, "after": 1, "type": "same"}, {"before": 6, "after": 5, "type": "same"}],
    "plain": [{"before": 4, "after": 1}, {"before": 2, "after": 6}],
    "diff": [{"before": 1, "after": 2, "type": "diff"}, {"before": 3, "after": 4, "type": "diff"}],
    "mixed": [{"before": 5, "after": 2, "type": "same"}, {"before": 2, "after": 3, "type": "diff"},
              {"before": 6, "after": 1}],
}


@pytest.mark.parametrize("objective", ["min_sum", "min_max"])
@pytest.mark.parametrize("kind", sorted(KEPT))
def test_every_returned_solution_keeps_its_pairs(kind, objective):
    """The checker recomputes the pairs and the cross-route waits in the costs."""
    doc = with_pairs(KEPT[kind], objective=objective, enforce_precedence=True, **ENGINE)
    result = core.solve_json_str(json.dumps(doc), 5.0)
    assert result["status"] == "success"
    assert check_result(doc, result) == []
    routes = [r["path"] for r in result["routes"]]
    where = {node: (k, i) for k, path in enumerate(routes) for i, node in enumerate(path[1:-1], start=1)}
    for pair in KEPT[kind]:
        (kb, ib), (ka, ia) = where[pair["before"]], where[pair["after"]]
        if pair.get("type") == "same":
            assert kb == ka and ib < ia
        elif pair.get("type") == "diff":
            assert kb != ka


def test_a_cross_route_wait_is_part_of_the_cost():
    """On a line, agent 1 must serve the far node 2 (at 10) before agent 2
    may serve node 1 (at 1): "diff" keeps them apart, and agent 2's route
    costs its wait. The best min-max: agent 1 goes 0-2-0 (20), agent 2
    waits at 1 until 10 and is back at 11."""
    doc = {
        "nodes": [{"id": 0, "x": 0, "y": 0, "z": 0, "type": "DEPOT"}, {"id": 1, "x": 1, "y": 0, "z": 0},
                  {"id": 2, "x": 10, "y": 0, "z": 0}],
        "agents": [{"id": 1, "type": "t", "start_node": 0, "end_node": 0},
                   {"id": 2, "type": "t", "start_node": 0, "end_node": 0}],
        "costs": {"t": [[0, 1, 10], [1, 0, 9], [10, 9, 0]]},
        "constraints": [{"kind": "assignment", "items": [{"node": i, "types": ["t"]} for i in range(3)]},
                        {"kind": "sequence", "precedence": [{"before": 2, "after": 1, "type": "diff"}]}],
        "options": {"objective": "min_max", "enforce_precedence": True, **ENGINE},
    }
    result = core.solve_json_str(json.dumps(doc), 5.0)
    assert check_result(doc, result) == []
    assert sorted(r["cost"] for r in result["routes"]) == [11.0, 20.0]


UNSATISFIABLE = {
    "cycle": ([{"before": 1, "after": 2}, {"before": 2, "after": 3, "type": "same"}, {"before": 3, "after": 1}],
              "it lies on a cycle of precedence pairs"),
    "depot": ([{"before": 0, "after": 2}], "(before 0, after 2, plain) can't be satisfied: it names an agent's start"),
    "unknown": ([{"before": 1, "after": 77, "type": "diff"}],
                "(before 1, after 77, diff) can't be satisfied: it names a node id that no node has"),
    "one node": ([{"before": 3, "after": 3}], "(before 3, after 3, plain) can't be satisfied: it names one node twice"),
}


@pytest.mark.parametrize("case", sorted(UNSATISFIABLE))
def test_pairs_no_schedule_satisfies_fail_before_any_search(case, capfd):
    pairs, expected = UNSATISFIABLE[case]
    result = core.solve_json_str(json.dumps(with_pairs(pairs, enforce_precedence=True, improve=True)), 5.0)
    assert result["status"] == "failed" and result["timeout"] is False
    lines = [line for line in capfd.readouterr().err.splitlines() if "can't be satisfied" in line]
    assert len(lines) == 1 and expected in lines[0]


def test_a_same_pair_no_single_type_may_serve_fails(capfd):
    """Node 1 only for trucks, node 2 only for drones: no route holds both."""
    doc = with_pairs([{"before": 1, "after": 2, "type": "same"}], enforce_precedence=True, improve=True)
    doc["agents"][1]["type"] = "drone"
    doc["costs"]["drone"] = doc["costs"]["truck"]
    items = doc["constraints"][0]["items"]
    for item in items:
        item["types"] = {1: ["truck"], 2: ["drone"]}.get(item["node"], ["truck", "drone"])
    result = core.solve_json_str(json.dumps(doc), 5.0)
    assert result["status"] == "failed"
    assert "(before 1, after 2, same) can't be satisfied: no agent may serve both nodes" in capfd.readouterr().err
