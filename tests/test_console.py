"""The solver's console lines as records: the module's entries print them
unless a caller takes them; the package turns them into warnings and log
records; the command line prints them and reads the memory stop from a
record's code."""
from __future__ import annotations

import json
import logging
import warnings
from types import SimpleNamespace

import pytest

import _kvr_core as core
import kvr_mtsp
from conftest import long_search_doc
from kvr_mtsp.console import ConsolePrinter

NO_ASSIGNMENT = "[warning] node {} has no assignment constraint; allowing all types"
BLOCKED = "[TW-MST] blocked edges: 1 / 6 (set MTSP_DEBUG_TW_EDGES=1 for details)"


def noisy_doc(make_doc) -> dict:
    """Four nodes without assignment constraints and one pair of targets
    without a connection."""
    doc = make_doc(3)
    doc["constraints"] = []
    for matrix in doc["costs"].values():
        matrix[1][2] = matrix[2][1] = 9999.0
    return doc


def records_of(doc: dict, time_limit: float = 5.0) -> list:
    records: list = []
    problem = core.read_document(json.dumps(doc), on_console=records.append)
    core.solve_problem(problem, time_limit, on_console=records.append)
    return records


class TestModuleEntries:
    def test_print_to_the_standard_streams_without_a_callable(self, make_doc, capfd):
        doc = noisy_doc(make_doc)
        doc["surplus"] = 1
        core.solve_json_str(json.dumps(doc), 5.0)
        seen = capfd.readouterr()
        assert seen.err.splitlines()[:5] == ['[warning] unknown key "surplus" in the instance document is ignored'] + [
            NO_ASSIGNMENT.format(n) for n in range(4)
        ]
        assert seen.out.splitlines()[0] == BLOCKED

    def test_a_callable_takes_every_line_and_leaves_none_behind(self, make_doc, capfd):
        doc = noisy_doc(make_doc)
        core.solve_json_str(json.dumps(doc), 5.0)
        printed = capfd.readouterr()
        records = records_of(doc)
        assert capfd.readouterr() == ("", "")
        # The same texts, each on the stream it would have gone to.
        assert [r.text for r in records if r.stream == "stderr"] == printed.err.splitlines()
        assert [r.text for r in records if r.stream == "stdout"] == printed.out.splitlines()

    def test_records_carry_kind_code_and_fields(self, make_doc):
        doc = noisy_doc(make_doc)
        doc["nodes"][3]["id"] = 42  # fields name ids, not positions
        records = records_of(doc)
        unassigned = [r for r in records if r.code == "no_assignment"]
        assert [r.fields for r in unassigned] == [{"node": n, "nodes": 4} for n in (0, 1, 2, 42)]
        assert {r.kind for r in unassigned} == {"warning"}
        [blocked] = [r for r in records if r.code == "blocked_pairs"]
        assert (blocked.kind, blocked.stream) == ("info", "stdout")
        assert blocked.fields == {"blocked": 1, "pairs": 6, "time_windows": False}
        assert "code='blocked_pairs'" in repr(blocked)

    def test_the_memory_stop_is_a_stop_record_with_its_code(self):
        doc = long_search_doc(30.0)
        doc["options"]["memory_limit_mb"] = 3
        stops = [r for r in records_of(doc, -1) if r.kind == "stop"]
        assert [(r.code, r.fields) for r in stops] == [("memory_stop", {"memory_limit_mb": 3.0})]
        assert stops[0].text.startswith("[memory] memory limit of 3 MB reached with ")

    def test_a_callable_is_not_kept_past_its_call(self, make_doc, capfd):
        doc = noisy_doc(make_doc)
        taken: list = []
        core.solve_problem(core.read_document(json.dumps(doc), on_console=taken.append), 5.0, on_console=taken.append)
        count = len(taken)
        core.solve_json_str(json.dumps(doc), 5.0)
        assert len(taken) == count
        assert NO_ASSIGNMENT.format(0) in capfd.readouterr().err

    def test_a_raising_callable_stops_before_the_search(self, make_doc, capfd):
        def refuse(record):
            raise LookupError(record.text)

        problem = core.read_document(json.dumps(noisy_doc(make_doc)))
        with pytest.raises(LookupError, match="no assignment constraint") as raised:
            core.solve_problem(problem, 5.0, on_console=refuse)
        assert not hasattr(raised.value, "result")
        # The lines after the failure still reach the standard streams.
        assert NO_ASSIGNMENT.format(1) in capfd.readouterr().err
        with pytest.raises(TypeError, match="on_console must be a callable"):
            core.read_document("{}", on_console=3)

    def test_a_raising_callable_during_the_search_keeps_the_result(self):
        def refuse_stop(record):
            if record.kind == "stop":
                raise LookupError("stopped")

        doc = long_search_doc(30.0)
        doc["options"]["memory_limit_mb"] = 3
        with pytest.raises(LookupError) as raised:
            core.solve_problem(core.read_document(json.dumps(doc)), on_console=refuse_stop)
        assert raised.value.result["status"] == "success"


class TestPackage:
    def test_warnings_are_solver_warnings_at_the_callers_line(self, make_doc, capfd):
        doc = noisy_doc(make_doc)
        doc["surplus"] = 1
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            kvr_mtsp.solve(doc, improve=False)
        assert capfd.readouterr().err == ""
        solver = [w for w in caught if issubclass(w.category, kvr_mtsp.SolverWarning)]
        assert [w.message.code for w in solver[:5]] == ["unknown_key"] + ["no_assignment"] * 4
        assert str(solver[1].message) == NO_ASSIGNMENT.format(0)
        assert solver[1].message.fields == {"node": 0, "nodes": 4}
        assert {w.filename for w in solver} == {__file__}

    def test_other_lines_are_logged_with_their_level_and_code(self, make_doc, caplog, capfd):
        with caplog.at_level(logging.DEBUG, logger="kvr_mtsp"), warnings.catch_warnings():
            warnings.simplefilter("ignore", kvr_mtsp.SolverWarning)
            kvr_mtsp.solve(noisy_doc(make_doc), improve=False)
        [blocked] = [r for r in caplog.records if getattr(r, "solver_code", None) == "blocked_pairs"]
        assert (blocked.name, blocked.levelno, blocked.getMessage()) == ("kvr_mtsp", logging.INFO, BLOCKED)
        assert blocked.solver_kind == "info" and blocked.solver_fields["pairs"] == 6
        assert capfd.readouterr() == ("", "")

        caplog.clear()
        doc = long_search_doc(30.0)
        doc["options"]["memory_limit_mb"] = 3
        with caplog.at_level(logging.WARNING, logger="kvr_mtsp"):
            result = kvr_mtsp.solve(doc, improve=False)
        assert result.timeout
        [stop] = caplog.records
        assert (stop.levelno, stop.solver_kind, stop.solver_code) == (logging.WARNING, "stop", "memory_stop")

    def test_warnings_as_errors_stop_the_solve(self, make_doc):
        with warnings.catch_warnings():
            warnings.simplefilter("error", kvr_mtsp.SolverWarning)
            with pytest.raises(kvr_mtsp.SolverWarning, match="no assignment constraint"):
                kvr_mtsp.solve(noisy_doc(make_doc))
            doc = make_doc(3)
            doc["surplus"] = 1
            with pytest.raises(kvr_mtsp.SolverWarning, match="unknown key"):  # raised by the reading
                kvr_mtsp.solve(doc)
            # A clean document raises nothing.
            assert kvr_mtsp.solve(make_doc(3), improve=False).solved

    def test_a_solver_warning_pickles_with_its_code(self):
        import pickle

        warning = kvr_mtsp.SolverWarning("text", "no_assignment", {"node": 3})
        back = pickle.loads(pickle.dumps(warning))
        assert (str(back), back.code, back.fields) == ("text", "no_assignment", {"node": 3})


def fake(text: str, code: str | None = None, stream: str = "stderr", **fields) -> SimpleNamespace:
    return SimpleNamespace(text=text, code=code, stream=stream, kind="warning", fields=fields)


class TestPrinter:
    def test_memory_stop_is_read_from_the_code_not_the_text(self, capsys):
        for verbose in (False, True):
            printer = ConsolePrinter(verbose)
            printer(fake("[memory] memory limit of 3 MB reached"))
            assert printer.memory_stop is False
            printer(fake("worded otherwise", code="memory_stop"))
            assert printer.memory_stop is True
            printer.finish()
            assert capsys.readouterr().err == "[memory] memory limit of 3 MB reached\nworded otherwise\n"

    def test_repeated_lines_are_condensed_in_place(self, capsys):
        printer = ConsolePrinter(verbose=False)
        printer(fake("first"))
        for node in (5, 9):
            printer(fake(NO_ASSIGNMENT.format(node), code="no_assignment", node=node, nodes=3))
        printer(fake("last"))
        printer(fake("out", stream="stdout"))
        printer(fake("windows", code="blocked_pairs", stream="stdout", blocked=2, pairs=6, time_windows=True))
        assert capsys.readouterr() == ("", "")  # nothing before the solve ends
        printer.finish()
        seen = capsys.readouterr()
        assert seen.err.splitlines() == [
            "first",
            "kvr-mtsp: warning: 2 nodes have no assignment constraint, so every agent type may serve them "
            "(node ids 5, 9); --verbose shows the solver's lines",
            "last",
        ]
        assert seen.out.splitlines() == ["out", "windows"]  # pairs blocked by time windows stay as they are
        printer.finish()
        assert capsys.readouterr() == ("", "")  # the kept lines are written once
