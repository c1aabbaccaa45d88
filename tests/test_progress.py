"""The on_progress callback of solve_json_str, solve_json_file and Solver.solve:
improving and periodic records, an exception that stops the solve, and no
change without it."""
from __future__ import annotations

import json

import pytest

import _kvr_core as core
import kvr_mtsp
from benchmarks.module_worker import problem_from_document
from conftest import long_search_doc
from test_interrupt import no_solution_doc


class Stop(Exception):
    pass


def stop(record) -> None:
    raise Stop("enough")


def solve(doc: dict, **kwargs) -> dict:
    return core.solve_json_str(json.dumps(doc), **kwargs)


def check_records(records, result: dict, objective: str) -> None:
    """Improving records are the anytime entries; periodic ones come at least a
    processor-second after the record before them and carry the best so far."""
    key = "max_cost" if objective == "min_max" else "sum_cost"
    improving = [r for r in records if r.improving]
    assert [(r.cpu_time, r.max_cost, r.sum_cost) for r in improving] == [
        (p["time"], p["max_cost"], p["sum_cost"]) for p in result["anytime"]
    ]
    values = [r.objective for r in improving]
    assert all(later < earlier for earlier, later in zip(values, values[1:]))
    assert all(r.objective == getattr(r, key) for r in improving)
    best = None
    for before, record in zip([None, *records], records):
        if before is not None:
            assert record.cpu_time >= before.cpu_time and record.wall_time >= before.wall_time
        if record.improving:
            best = record.objective
        else:
            assert before is None or record.cpu_time - before.cpu_time >= 1.0
            assert record.objective == best


class TestRecords:
    def test_focal_search_improving_and_periodic(self):
        doc = long_search_doc(1.3)
        records = []
        result = solve(doc, on_progress=records.append)
        check_records(records, result, "min_max")
        periodic = [r for r in records if not r.improving]
        assert len(periodic) == 1  # 1.3 processor seconds
        assert {r.phase for r in records} == {"search"}
        assert "ProgressRecord(cpu_time=" in repr(records[0])

    def test_engine_records_follow_the_search(self, make_doc):
        doc = make_doc(14, agent_ids=(1, 2, 3), objective="min_sum", time_limit=1.3)
        doc["options"].update({"improve": True, "seed": 1})
        records = []
        result = solve(doc, on_progress=records.append)
        check_records(records, result, "min_sum")
        phases = [r.phase for r in records]
        assert phases == sorted(phases, key=["search", "engine"].index)
        assert "engine" in phases

    def test_before_any_solution_only_periodic_records_without_costs(self, tmp_path):
        path = tmp_path / "none.json"
        path.write_text(json.dumps(no_solution_doc(1.3)))
        records = []
        result = core.solve_json_file(str(path), on_progress=records.append)
        assert result["status"] == "failed"
        assert len(records) == 1
        for record in records:
            assert not record.improving
            assert record.objective is record.max_cost is record.sum_cost is None
        check_records(records, result, "min_max")

    def test_solver_solve_reports_its_solutions(self):
        doc = long_search_doc(0.5)
        problem, options = problem_from_document(core, doc, 0.5)
        solver = core.Solver(problem, options)
        records = []
        assert solver.solve(on_progress=records.append) == 1
        improving = [r for r in records if r.improving]
        assert improving and improving[-1].objective == max(solver.get_result().times.values())

    def test_a_callback_must_be_callable(self):
        with pytest.raises(TypeError, match="on_progress must be a callable taking one ProgressRecord, or None"):
            solve(long_search_doc(60.0), on_progress="print")


class TestCallbackRaises:
    def test_stops_the_solve_and_carries_the_best_solution(self, checker):
        doc = long_search_doc(60.0)
        calls = []

        def stop_at_first(record):
            calls.append(record)
            raise Stop("enough")

        with pytest.raises(Stop, match="enough") as raised:
            solve(doc, on_progress=stop_at_first)
        assert len(calls) == 1  # no record after the exception
        result = raised.value.result
        assert result["status"] == "success" and result["timeout"] is True
        assert checker(doc, result["routes"]) == []
        assert result["anytime"][0]["max_cost"] == calls[0].max_cost

    def test_before_any_solution_the_result_is_failed(self):
        with pytest.raises(Stop) as raised:
            solve(no_solution_doc(60.0), on_progress=stop)
        result = raised.value.result
        assert result["status"] == "failed" and result["timeout"] is True
        assert all(route["path"] == [] for route in result["routes"])

    def test_solver_keeps_the_best_and_refuses_to_solve_from_its_own_callback(self):
        problem, options = problem_from_document(core, long_search_doc(60.0), 60.0)
        solver = core.Solver(problem, options)
        with pytest.raises(RuntimeError, match="this Solver is already solving") as raised:
            solver.solve(on_progress=lambda record: solver.solve())
        kept = raised.value.result  # the outer solve stopped with its first solution
        assert isinstance(kept, core.Result) and kept.timeout and kept.paths
        assert solver.get_result().paths == kept.paths
        with pytest.raises(Stop):  # not "already solving": the mark went with the solve
            solver.solve(on_progress=stop)

    def test_keyboard_interrupt_acts_as_ctrl_c(self, capfd):
        def interrupt(record):
            raise KeyboardInterrupt

        result = solve(long_search_doc(60.0), on_progress=interrupt)
        assert result["status"] == "success" and result["timeout"] is True
        assert "[interrupted] KeyboardInterrupt" in capfd.readouterr().err
        with pytest.raises(KeyboardInterrupt):
            solve(no_solution_doc(60.0), on_progress=interrupt)

    def test_the_api_attaches_a_solve_result(self):
        with pytest.raises(Stop) as raised:
            kvr_mtsp.solve(long_search_doc(60.0), improve=False, on_progress=stop)
        kept = raised.value.result
        assert isinstance(kept, kvr_mtsp.SolveResult) and kept.solved and kept.timeout
        assert kept.objective == kept.anytime[-1].max_cost


@pytest.mark.parametrize("improve", [False, True])
def test_a_callback_changes_nothing(make_doc, improve):
    doc = make_doc(8, objective="min_sum", time_limit=20)
    doc["options"].update({"improve": improve, "max_iterations": 30})
    plain, none, watched = solve(doc), solve(doc, on_progress=None), solve(doc, on_progress=lambda record: None)
    for result in (none, watched):
        assert result["timeout"] is plain["timeout"] is False  # finished before the limit: repeatable
        assert result["routes"] == plain["routes"]
        assert [(p["max_cost"], p["sum_cost"]) for p in result["anytime"]] == [
            (p["max_cost"], p["sum_cost"]) for p in plain["anytime"]
        ]
        for key in ("max_cost", "sum_cost", "n_generated", "n_expanded"):
            assert result["statistics"][key] == plain["statistics"][key]
