"""kvr_mtsp.solve: the instance as a path, a text or a dict, the options it
writes into the document, the typed result and its document, and the
module's exceptions passed through."""
from __future__ import annotations

import copy
import json
import re

import pytest

import _kvr_core as core
import kvr_mtsp
from kvr_mtsp import api
from kvr_mtsp.report import result_document
from kvr_mtsp.api import MAX_NO_IMPROVEMENT


def routes_of(result: kvr_mtsp.SolveResult) -> list[tuple]:
    return [(r.agent_id, r.positions, r.cost) for r in result.routes]


SENT = ("objective", "time_limit", "improve", "seed", "max_iterations", "max_no_improvement", "enforce_capacity",
        "enforce_precedence")
# The options a call sets, beside time_limit: each argument of kvr_mtsp.solve with a value the documents below do not hold.
PER_CALL = {"improve": False, "seed": 9, "max_iterations": 17, "max_no_improvement": 23, "memory_limit_mb": 321.0,
            "missing_cost": 500.0, "enforce_precedence": False, "wall_time_limit": 0.75}


@pytest.fixture
def recorded(monkeypatch):
    """Records the Problem the API hands to the module's solve_problem (its
    options as they were then) and what the solve returns."""
    calls = []
    real = core.solve_problem

    def call(problem, time_limit, **kwargs):
        options = problem.options()
        sent = {key: getattr(options, key) for key in SENT}
        result = real(problem, time_limit, **kwargs)
        calls.append({"options": sent, "time_limit": time_limit, "kwargs": kwargs, "result": copy.deepcopy(result)})
        return result

    monkeypatch.setattr(api._kvr_core, "solve_problem", call)
    return calls


class TestInstanceForms:
    @pytest.mark.parametrize("improve", [False, True])
    def test_path_text_and_dict_give_the_same_routes(self, make_doc, tmp_path, improve):
        doc = make_doc(7, node_ids=[5, 9, 13, 2, 40, 41, 3, 8])
        doc["options"]["max_iterations"] = 20  # the engine stops before its time limit: a repeatable run
        path = tmp_path / "instance.json"
        path.write_text(json.dumps(doc))
        forms = [doc, json.dumps(doc), "\n  " + json.dumps(doc, indent=1), str(path), path]
        results = [kvr_mtsp.solve(form, improve=improve, time_limit=5) for form in forms]
        assert all(result.status == "success" for result in results)
        assert all(routes_of(result) == routes_of(results[0]) for result in results[1:])
        assert all(result.routes == results[0].routes for result in results[1:])

    def test_other_types_are_refused(self):
        with pytest.raises(TypeError, match="instance must be a path, a JSON text or a dict, not int"):
            kvr_mtsp.solve(5)

    def test_batch_tells_the_forms_apart_where_solve_does(self, make_doc, tmp_path):
        from kvr_mtsp import batch

        doc = make_doc(3)
        path = tmp_path / "{odd}.json"  # a file name that opens as a JSON text does
        path.write_text(json.dumps(doc))
        assert api.source(path) == (api.PATH, str(path))
        assert api.source(" \ufeff{}") == (api.TEXT, " \ufeff{}")
        assert api.source(doc) == (api.DICT, doc)
        prepared = [batch._prepare(index, form) for index, form in enumerate([path, json.dumps(doc), doc])]
        assert [item.label for item in prepared] == [str(path), "instances[1]", "instances[2]"]
        assert [item.error for item in prepared] == [None, None, None]
        assert all(item.document == doc for item in prepared)
        with pytest.raises(TypeError, match="not float"):
            batch._prepare(0, 1.5)

    @pytest.mark.parametrize("limit", [0, -1, float("nan"), float("inf")])
    @pytest.mark.parametrize("name", ["time_limit", "wall_time_limit"])
    def test_time_limits_must_be_positive_and_finite(self, make_doc, limit, name):
        with pytest.raises(ValueError, match=f"^{name} must be a positive finite number of seconds"):
            kvr_mtsp.solve(make_doc(3), **{name: limit})


class TestOptions:
    def test_arguments_replace_the_documents_options(self, make_doc, recorded):
        doc = make_doc(5, time_limit=7)
        doc["options"].update({"improve": False, "seed": 11, "max_iterations": 5, "enforce_precedence": False})
        before = copy.deepcopy(doc)
        kvr_mtsp.solve(doc, time_limit=3, improve=True, seed=4)
        assert doc == before  # the caller's dict is left as it was
        (call,) = recorded
        assert call["time_limit"] == 3
        # improve and seed replaced, the rest kept (the limit travels as the argument)
        # and the package's no-improvement limit added
        assert call["options"] == {"objective": core.ObjectiveType.MinMax, "time_limit": 7, "improve": True,
                                   "seed": 4, "max_iterations": 5, "max_no_improvement": MAX_NO_IMPROVEMENT,
                                   "enforce_capacity": True,
                                   "enforce_precedence": True}
        assert call["kwargs"]["consume_costs"] is True

    @pytest.mark.parametrize("key", sorted(PER_CALL))
    def test_every_per_call_option_replaces_the_documents_and_none_keeps_it(self, make_doc, monkeypatch, key):
        seen = []
        real = core.solve_problem

        def call(problem, time_limit, **kwargs):
            seen.append(getattr(problem.options(), key))
            return real(problem, time_limit, **kwargs)

        monkeypatch.setattr(api._kvr_core, "solve_problem", call)
        doc = make_doc(3)
        own = {"improve": True, "seed": 3, "max_iterations": 4, "max_no_improvement": 6, "memory_limit_mb": 654.0,
               "missing_cost": 800.0, "enforce_precedence": True, "wall_time_limit": 2.0}
        doc["options"].update(own)
        kvr_mtsp.solve(doc, time_limit=1, **{key: PER_CALL[key]})
        # improve and seed have defaults of their own (True and 0); None keeps the document's value.
        kvr_mtsp.solve(doc, time_limit=1, **{key: None})
        assert seen == [PER_CALL[key], own[key]]

    @pytest.mark.parametrize("key, value", [("max_iterations", "many"), ("memory_limit_mb", "lots"),
                                            ("missing_cost", [1])])
    def test_a_value_of_the_wrong_type_names_the_option(self, make_doc, key, value):
        with pytest.raises(ValueError, match=f'the option "{key}" cannot hold'):
            kvr_mtsp.solve(make_doc(3), time_limit=1, **{key: value})

    def test_the_options_have_the_documents_meaning(self, make_doc):
        # A missing_cost below every arc leaves no connection: no solution, as the document's own would.
        doc = make_doc(3)
        assert kvr_mtsp.solve(doc, time_limit=1, missing_cost=0.5).status == "failed"
        doc["options"]["missing_cost"] = 0.5
        assert kvr_mtsp.solve(doc, time_limit=1).status == "failed"
        with pytest.raises(ValueError):
            kvr_mtsp.solve(make_doc(3), time_limit=1, memory_limit_mb=-1.0)

    def test_every_improvement_carries_both_clocks_and_the_modules_document_only_when_asked(self, make_doc):
        doc = make_doc(6)
        doc["options"]["max_iterations"] = 20
        result = kvr_mtsp.solve(doc, time_limit=5)
        assert result.anytime
        walls = [point.wall_time for point in result.anytime]
        assert None not in walls and walls == sorted(walls) and walls[0] >= 0
        assert all(set(entry) == {"time", "wall_time", "max_cost", "sum_cost"} for entry in result.to_dict()["anytime"])
        # The module's own entries keep their document: no wall clock without a wall-clock limit.
        plain = core.solve_json_str(json.dumps(doc))
        assert plain["anytime"] and all(set(entry) == {"time", "max_cost", "sum_cost"} for entry in plain["anytime"])
        asked = core.solve_problem(core.read_document(json.dumps(doc)), wall_times=True)
        assert asked["anytime"] and all("wall_time" in entry for entry in asked["anytime"])

    def test_every_per_call_option_is_documented(self):
        doc = kvr_mtsp.solve.__doc__
        assert all(f"`{key}`" in doc for key in PER_CALL)

    def test_without_time_limit_the_documents_own_holds(self, make_doc, recorded):
        kvr_mtsp.solve(make_doc(4), improve=False)
        assert recorded[0]["time_limit"] == -1
        assert recorded[0]["options"]["improve"] is False

    def test_enforce_capacity_replaces_the_documents_option(self, make_doc, recorded):
        doc = make_doc(4)
        doc["options"]["enforce_capacity"] = True
        kvr_mtsp.solve(doc, improve=False, enforce_capacity=False)
        assert recorded[0]["options"]["enforce_capacity"] is False

    def test_a_document_without_options_gets_them(self, make_doc, recorded):
        doc = make_doc(4, objective=None, time_limit=None)
        kvr_mtsp.solve(json.dumps(doc), time_limit=2, improve=False)
        defaults = core.Options()
        assert recorded[0]["options"] == {"objective": defaults.objective, "time_limit": defaults.time_limit,
                                          "improve": False, "seed": 0, "max_iterations": 0,
                                          "max_no_improvement": MAX_NO_IMPROVEMENT, "enforce_capacity": True,
                                          "enforce_precedence": True}


class TestResultObject:
    def test_to_dict_is_the_modules_result_document(self, make_doc, recorded):
        doc = make_doc(6)
        result = kvr_mtsp.solve(doc, time_limit=2, improve=False)
        module_result = recorded[0]["result"]
        assert result.to_dict() == module_result
        # same keys in the same order, same JSON types
        assert json.dumps(result.to_dict()) == json.dumps(module_result)

    def test_keys_the_records_do_not_know_survive_the_round_trip(self, make_doc):
        doc = make_doc(4, node_ids=[10, 11, 12, 13, 14])
        # the command line's result file: routes with "node_ids" and "agent_index" added
        document = result_document(kvr_mtsp.SolveResult.from_dict(core.solve_json_str(json.dumps(doc), 1.0), doc))
        document["statistics"]["engine_rounds"] = 3
        document["anytime"][0]["note"] = "first"
        document["solver"] = "kvr"
        result = kvr_mtsp.SolveResult.from_dict(document, doc)
        assert result.to_dict() == document
        assert [route.node_ids for route in result.routes] == [tuple(r["node_ids"]) for r in document["routes"]]
        assert dict(result.statistics.extra) == {"engine_rounds": 3}

    def test_routes_carry_ids_positions_types_and_costs(self, make_doc, checker):
        doc = make_doc(5, agent_ids=(31, 32), node_ids=[100, 7, 8, 9, 10, 11])
        result = kvr_mtsp.solve(doc, time_limit=2, improve=False)
        ids = [node["id"] for node in doc["nodes"]]
        assert checker(doc, [route.to_dict() for route in result.routes]) == []
        assert [route.agent_index for route in result.routes] == [0, 1]
        assert [route.agent_id for route in result.routes] == [31, 32]
        for route in result.routes:
            assert route.agent_type == "truck"
            assert route.node_ids == tuple(ids[p] for p in route.positions)
            assert route.node_ids[0] == route.node_ids[-1] == 100
            assert not route.free_last_leg
        assert result.solved and result.objective_type == "min_max"
        assert result.objective == result.longest == max(route.cost for route in result.routes)
        assert result.total == pytest.approx(sum(route.cost for route in result.routes))
        assert result.anytime[-1].max_cost == result.objective

    def test_min_sum_objective_is_the_total(self, make_doc):
        result = kvr_mtsp.solve(make_doc(5, objective="min_sum"), time_limit=2, improve=False)
        assert result.objective_type == "min_sum"
        assert result.objective == result.total == result.anytime[-1].sum_cost

    def test_open_routes_mark_their_free_last_leg(self, examples_dir):
        result = kvr_mtsp.solve(examples_dir / "open_routes.json", time_limit=2, improve=False)
        serving = [route for route in result.routes if route.serves_targets]
        assert serving and all(route.free_last_leg for route in serving)

    def test_failed_solve(self, make_doc):
        doc = make_doc(3)
        doc["constraints"][0]["items"][2]["types"] = ["plane"]  # a target no agent may visit
        result = kvr_mtsp.solve(doc, time_limit=1, improve=False)
        assert result.status == "failed" and not result.solved
        assert all(route.positions == () and route.cost == 0.0 for route in result.routes)


def _unknown_start(doc: dict) -> dict:
    doc["agents"][0]["start_node"] = 999
    return doc


def _too_many_nodes(doc: dict) -> dict:
    doc["nodes"] = [{"id": i, "x": 0, "y": 0, "z": 0} for i in range(257)]
    return doc


class TestModuleExceptions:
    @pytest.mark.parametrize(
        "text",
        ['{"nodes": [', "{}", '{"nodes": [], "agents": [], "options": []}', '{"nodes": [{"id": 0, "x": NaN}]}'],
        ids=["malformed", "no-keys", "options-not-an-object", "nan"],
    )
    def test_bad_text_raises_what_the_module_raises(self, text):
        with pytest.raises(Exception) as expected:
            core.solve_json_str(text)
        with pytest.raises(type(expected.value)) as raised:
            kvr_mtsp.solve(text)
        assert str(raised.value) == str(expected.value)

    @pytest.mark.parametrize("break_it", [_unknown_start, _too_many_nodes], ids=["unknown-start", "too-many-nodes"])
    def test_bad_dict_raises_what_the_module_raises(self, make_doc, break_it):
        doc = break_it(make_doc(3))
        with pytest.raises((IndexError, ValueError)) as expected:
            core.solve_json_str(json.dumps(doc))
        with pytest.raises(type(expected.value), match=f"^{re.escape(str(expected.value))}$"):
            kvr_mtsp.solve(doc, improve=False)

    def test_unreadable_paths(self, tmp_path):
        missing = tmp_path / "missing.json"
        with pytest.raises(RuntimeError, match=f"^Cannot open file: {missing}$"):
            kvr_mtsp.solve(missing)
        with pytest.raises(RuntimeError, match="Is a directory"):
            kvr_mtsp.solve(str(tmp_path))
        empty = tmp_path / "empty.json"
        empty.write_text("")
        with pytest.raises(RuntimeError, match="attempting to parse an empty input"):
            kvr_mtsp.solve(empty)


class TestReader:
    def test_reads_what_the_json_entries_read_and_raises_what_they_raise(self, make_doc, tmp_path):
        doc = make_doc(5, node_ids=[4, 8, 15, 16, 23, 42])
        path = tmp_path / "doc.json"
        path.write_text(json.dumps(doc))
        for problem in (core.read_document(json.dumps(doc)), core.read_document_file(str(path))):
            assert [node.id for node in problem.nodes()] == [4, 8, 15, 16, 23, 42]
            assert problem.options().objective == core.ObjectiveType.MinMax
            assert core.solve_problem(problem, 1.0)["routes"] == core.solve_json_str(json.dumps(doc), 1.0)["routes"]
        with pytest.raises(RuntimeError, match=f"^Cannot open file: {tmp_path / 'gone.json'}$"):
            core.read_document_file(str(tmp_path / "gone.json"))
        with pytest.raises(RuntimeError, match=r"^\[json.exception.out_of_range.403\] key 'nodes' not found$"):
            core.read_document("{}")

    def test_consuming_the_costs_leaves_the_rest_of_the_problem(self, make_doc):
        doc = make_doc(4)
        problem = core.read_document(json.dumps(doc))
        nodes = problem.nodes()  # references into the problem stay valid
        first = core.solve_problem(problem, 1.0)
        assert core.solve_problem(problem, 1.0)["routes"] == first["routes"]  # copied: solvable again
        assert core.solve_problem(problem, 1.0, consume_costs=True)["routes"] == first["routes"]
        assert [node.id for node in nodes] == [node["id"] for node in doc["nodes"]]
        # Without its matrices every arc is a missing connection.
        assert core.solve_problem(problem, 1.0)["status"] == "failed"


class TestFoundBy:
    def test_the_part_that_found_the_solution_is_named(self, make_doc):
        doc = make_doc(5)
        assert kvr_mtsp.solve(doc, time_limit=1, improve=False).found_by == "search"
        calls = []
        engine = kvr_mtsp.solve(doc, time_limit=1, max_iterations=50, on_progress=calls.append)
        last = [record.phase for record in calls if record.improving][-1]
        assert engine.found_by == last  # the caller's callable still sees every record
        doc["options"]["missing_cost"] = 0.5
        assert kvr_mtsp.solve(doc, time_limit=1).found_by is None  # no solution
