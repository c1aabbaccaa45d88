"""The kvr-mtsp command line, run as a separate process."""
from __future__ import annotations

import json
import os
import re
import signal
import subprocess
import sys
import time
import tomllib
from pathlib import Path

import pytest
from hypothesis import HealthCheck, given, settings

import _kvr_core as core
from conftest import long_search_doc
from fuzz_strategies import mutated_documents
from kvr_mtsp.json_ints import as_u64
from kvr_mtsp.report import explain

ROOT = Path(__file__).resolve().parent.parent
NO_ASSIGNMENT = "[warning] node {} has no assignment constraint; allowing all types"


def child_env() -> dict:
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [str(ROOT), env.get("PYTHONPATH")]))
    return env


def run_cli(*args: str, cwd: Path) -> subprocess.CompletedProcess:
    return subprocess.run(
        [sys.executable, "-m", "kvr_mtsp", *args], cwd=cwd, env=child_env(), capture_output=True, text=True,
        timeout=120,
    )


def run_module(instance: Path, cwd: Path) -> subprocess.CompletedProcess:
    """The extension's own solve in a fresh process: its console lines as it writes them."""
    code = f"import _kvr_core; _kvr_core.solve_json_file({str(instance)!r})"
    return subprocess.run(
        [sys.executable, "-c", code], cwd=cwd, env=child_env(), capture_output=True, text=True, timeout=120
    )


def write(path: Path, doc) -> Path:
    path.write_text(doc if isinstance(doc, str) else json.dumps(doc))
    return path


def lines_of(text: str) -> list[str]:
    return text.splitlines()


def route_lines(stdout: str) -> list[str]:
    return [line for line in lines_of(stdout) if line.startswith("  agent ")]


def without_assignments(doc: dict) -> dict:
    doc["constraints"] = [c for c in doc["constraints"] if c["kind"] != "assignment"]
    return doc


class TestSummary:
    def test_routes_are_shown_with_node_ids_and_differing_positions(self, make_doc, tmp_path):
        doc = make_doc(3, agent_ids=(5, 8), node_ids=(10, 20, 30, 40))
        instance = write(tmp_path / "ids.json", doc)
        expected = core.solve_json_file(str(instance))
        completed = run_cli("solve", str(instance), "--no-improve", cwd=tmp_path)
        assert completed.returncode == 0, completed.stderr
        out = lines_of(completed.stdout)
        assert "status       success (search finished within the time limit)" in out
        assert "objective    min_max (minimise the longest route)" in out
        shown_max = next(line for line in out if line.startswith("max cost "))
        assert float(shown_max.split()[-1]) == pytest.approx(expected["statistics"]["max_cost"], rel=1e-9)
        ids = [10, 20, 30, 40]
        for route in expected["routes"]:
            shown = " -> ".join(str(ids[p]) for p in route["path"])
            at = next(i for i, line in enumerate(out) if f"agent {route['agent_id']} [truck]" in line)
            assert out[at].endswith(shown), shown
            # Positions, as the result document holds them, on the line below.
            assert out[at + 1].split() == ["positions", *" -> ".join(map(str, route["path"])).split()]
        assert any("Result.paths" in line for line in out)
        assert any(line.startswith("solve time") for line in out)
        assert "found by     the focal search" in out  # --no-improve: the engine never ran
        assert len([line for line in out if line.startswith("  ") and " s: " in line]) == len(expected["anytime"])

    def test_positions_are_not_repeated_where_they_equal_the_ids(self, examples_dir, tmp_path):
        completed = run_cli("solve", str(examples_dir / "single_depot.json"), cwd=tmp_path)
        assert completed.returncode == 0, completed.stderr
        assert route_lines(completed.stdout)
        assert "positions" not in completed.stdout

    def test_ids_counting_from_one_get_one_positions_note(self, make_doc, tmp_path):
        doc = make_doc(4, node_ids=(1, 2, 3, 4, 5), time_limit=None)
        completed = run_cli("solve", str(write(tmp_path / "tsplib.json", doc)), "--no-improve", cwd=tmp_path)
        assert completed.returncode == 0, completed.stderr
        out = lines_of(completed.stdout)
        assert not any(line.split()[:1] == ["positions"] for line in out)  # no line under the routes
        assert sum("positions" in line for line in out) == 1
        assert any("(here each node id minus 1)" in line for line in out)
        assert "time limit   60.0 s processor time (the default; the instance sets none)" in out

    def test_the_engine_is_named_when_it_found_the_solution(self, monkeypatch, make_doc, capsys, tmp_path):
        from kvr_mtsp import cli

        real = cli.solve_with

        def engine_found(*args, **kwargs):
            import dataclasses

            return dataclasses.replace(real(*args, **kwargs), found_by="engine")

        monkeypatch.setattr(cli, "solve_with", engine_found)
        assert cli.main(["solve", str(write(tmp_path / "engine.json", make_doc(4))), "--quiet"]) == 0
        out = capsys.readouterr().out
        assert "found by     the improvement engine" in out and "search nodes generated" not in out

    def test_version(self, tmp_path):
        import kvr_mtsp

        completed = run_cli("--version", cwd=tmp_path)
        assert completed.returncode == 0
        assert completed.stdout == f"kvr-mtsp {kvr_mtsp.__version__}\n"
        assert kvr_mtsp.__version__ != "0+unknown"

    def test_objective_and_limit_come_from_the_document(self, make_doc, tmp_path):
        doc = make_doc(3, objective="MIN_SUM", time_limit=7)
        instance = write(tmp_path / "sum.json", doc)
        out = lines_of(run_cli("solve", str(instance), "--no-improve", cwd=tmp_path).stdout)
        assert "objective    min_sum (minimise the total of all routes)" in out
        assert "time limit   7.0 s processor time (from the instance)" in out

    def test_time_limit_option_overrides_the_document(self, make_doc, tmp_path):
        doc = make_doc(4, time_limit=-1)
        instance = write(tmp_path / "negative.json", doc)
        replaced = run_cli("solve", str(instance), "--time-limit", "5", "--no-improve", cwd=tmp_path)
        assert replaced.returncode == 0, replaced.stderr
        assert "status       success (search finished within the time limit)" in lines_of(replaced.stdout)
        assert "time limit   5.0 s processor time (from --time-limit)" in lines_of(replaced.stdout)


class TestOpenRoutes:
    @staticmethod
    def leg_costs(doc: dict, route: dict) -> list[float]:
        matrix = doc["costs"]["truck"]
        return [matrix[a][b] for a, b in zip(route["path"], route["path"][1:])]

    @pytest.mark.parametrize("return_to_end", [False, True])
    def test_only_open_routes_show_their_last_leg_as_free(self, make_doc, tmp_path, return_to_end):
        doc = make_doc(6, agent_ids=(1, 2))
        doc["options"]["return_to_end"] = return_to_end
        instance = write(tmp_path / "routes.json", doc)
        expected = core.solve_json_file(str(instance))
        completed = run_cli("solve", str(instance), cwd=tmp_path)
        assert completed.returncode == 0, completed.stderr
        shown = route_lines(completed.stdout)
        assert len(shown) == len(expected["routes"]) == 2
        for line, route in zip(shown, expected["routes"]):
            legs = self.leg_costs(doc, route)
            nodes = " -> ".join(map(str, route["path"]))
            if return_to_end:
                assert line.endswith(nodes) and "free" not in line
                assert sum(legs) == pytest.approx(route["cost"])
            else:
                # The path up to the last node, then the free leg back to the depot.
                assert line.endswith(" -> ".join(map(str, route["path"][:-1])) + " (-> 0 free)"), line
                assert sum(legs[:-1]) == pytest.approx(route["cost"]) and legs[-1] > 0
        assert ("is not in its cost" in completed.stdout) == (not return_to_end)

    def test_free_leg_ends_at_the_agents_own_end_node(self, make_doc, tmp_path):
        doc = make_doc(4, agent_ids=(1, 2))
        doc["options"]["return_to_end"] = False
        doc["agents"][1].update(start_node=1, end_node=2)
        instance = write(tmp_path / "ends.json", doc)
        second = core.solve_json_file(str(instance))["routes"][1]
        assert second["path"][0] == 1 and second["path"][-1] == 2
        shown = route_lines(run_cli("solve", str(instance), cwd=tmp_path).stdout)[1]
        assert shown.endswith(" -> ".join(map(str, second["path"][:-1])) + " (-> 2 free)"), shown


class TestExitStatus:
    def test_a_time_limit_without_time_gives_status_1(self, make_doc, tmp_path):
        instance = write(tmp_path / "negative.json", make_doc(4, time_limit=-1))
        completed = run_cli("solve", str(instance), cwd=tmp_path)
        assert completed.returncode == 1
        out = lines_of(completed.stdout)
        assert "status       failed (time limit reached before any solution)" in out
        assert any(line.endswith("(no route)") for line in out)
        assert lines_of(completed.stderr) == [
            "kvr-mtsp: no solution: the instance's time limit (-1.0 s) leaves the search no time; "
            "give one with --time-limit"
        ]

    def test_an_exhausted_search_gives_status_1_and_names_an_unservable_node(self, make_doc, tmp_path):
        doc = make_doc(4)
        doc["constraints"][0]["items"][2]["types"] = ["Truck"]  # node 2: a type no agent has
        instance = write(tmp_path / "typo.json", doc)
        completed = run_cli("solve", str(instance), "--output", str(tmp_path / "result.json"), cwd=tmp_path)
        assert completed.returncode == 1
        assert "status       failed (the search ended without a solution)" in lines_of(completed.stdout)
        warning, exhausted, line = lines_of(completed.stderr)
        # Validate's warning, before the solve, in place of the reader's own.
        assert warning == ("kvr-mtsp: warning: " + str(instance) + ": $.constraints[0].items[2].types[0]: "
                           "no agent has the type 'Truck', so no agent may serve this node as meant")
        # The engine (on by default) is not started on a search space without solutions.
        assert exhausted.startswith("[improve] the focal search has exhausted its search space without a solution")
        assert line.startswith("kvr-mtsp: no solution: the search ended without routes")
        assert "node 2 may be served only by the types 'Truck', which no agent has (agent types: 'truck')" in line
        # The result document of a failed search is written all the same.
        assert json.loads((tmp_path / "result.json").read_text())["status"] == "failed"


class TestTimeLimitArgument:
    @pytest.mark.parametrize("value", ["-5", "0", "-0.0", "nan", "inf", "-inf", "soon"])
    def test_anything_but_a_positive_finite_number_is_rejected(self, make_doc, tmp_path, value):
        instance = write(tmp_path / "doc.json", without_assignments(make_doc(3)))
        completed = run_cli("solve", str(instance), "--time-limit", value, cwd=tmp_path)
        assert completed.returncode == 2
        assert completed.stdout == ""
        assert lines_of(completed.stderr)[-1].startswith("kvr-mtsp solve: error: argument --time-limit: ")
        assert "[warning]" not in completed.stderr and "kvr-mtsp: warning" not in completed.stderr  # not solved

    def test_usage_errors_exit_2(self, tmp_path):
        assert run_cli(cwd=tmp_path).returncode == 2


class TestMissingCost:
    def test_option_reaches_the_solver(self, make_doc, tmp_path):
        doc = make_doc(3)
        doc["costs"]["truck"] = [[c * 10000 for c in row] for row in doc["costs"]["truck"]]
        instance = write(tmp_path / "large.json", doc)
        status = lambda completed: next(l for l in lines_of(completed.stdout) if l.startswith("status"))  # noqa: E731
        plain = run_cli("solve", str(instance), cwd=tmp_path)
        assert "failed" in status(plain)
        assert 'raise the option "missing_cost"' in plain.stderr
        raised = run_cli("solve", str(instance), "--missing-cost", "1e9", cwd=tmp_path)
        assert "success" in status(raised), raised.stderr
        assert "missing_cost" not in raised.stderr
        assert json.loads(instance.read_text()) == doc  # the file stays as it was

    def test_invalid_value_is_bad_input(self, make_doc, tmp_path):
        instance = write(tmp_path / "doc.json", make_doc(3))
        completed = run_cli("solve", str(instance), "--missing-cost", "-1", cwd=tmp_path)
        assert completed.returncode == 2
        assert "missing_cost must be a positive finite number" in completed.stderr


class TestOutputFile:
    def test_writes_the_result_document_with_node_ids_and_agent_indices(self, make_doc, tmp_path):
        doc = make_doc(3, agent_ids=(5, 8), node_ids=(10, 20, 30, 40))
        instance = write(tmp_path / "ids.json", doc)
        target = tmp_path / "out"
        target.mkdir()
        completed = run_cli("solve", str(instance), "--output", str(target / "result.json"), "--no-improve", cwd=tmp_path)
        assert completed.returncode == 0, completed.stderr
        written = json.loads((target / "result.json").read_text())
        direct = core.solve_json_file(str(instance))
        assert list(written) == list(direct)
        assert (written["status"], written["timeout"]) == (direct["status"], direct["timeout"])
        assert list(written["statistics"]) == list(direct["statistics"])
        ids = [10, 20, 30, 40]
        assert len(written["routes"]) == len(direct["routes"]) == 2
        for index, (route, module_route) in enumerate(zip(written["routes"], direct["routes"])):
            # The command line enforces capacities and gives schedules: each route carries its load and stops.
            assert list(route) == ["agent_id", "path", "cost", "load", "stops", "node_ids", "agent_index"]
            assert route["load"] == 0
            assert [stop["position"] for stop in route["stops"]] == module_route["path"]
            assert {key: route[key] for key in module_route} == module_route
            assert route["node_ids"] == [ids[p] for p in module_route["path"]]
            assert route["agent_index"] == index

    @pytest.mark.parametrize("where", ["directory", "missing-folder"])
    def test_unwritable_output_is_found_before_the_solve(self, make_doc, tmp_path, where):
        # Without assignment constraints the solver would warn about every node.
        instance = write(tmp_path / "doc.json", without_assignments(make_doc(3)))
        target = tmp_path if where == "directory" else tmp_path / "nowhere" / "result.json"
        completed = run_cli("solve", str(instance), "--output", str(target), cwd=tmp_path)
        assert completed.returncode == 2
        assert completed.stdout == ""
        [line] = lines_of(completed.stderr)
        reason = "it is a directory" if where == "directory" else "No such file or directory"
        assert line == f"kvr-mtsp: error: cannot write the result to {target}: {reason}"

    def test_the_check_leaves_no_file_behind_and_existing_files_alone(self, tmp_path):
        bad = write(tmp_path / "bad.json", '{"nodes": [')
        fresh, kept = tmp_path / "fresh.json", write(tmp_path / "kept.json", "earlier result\n")
        for target in (fresh, kept):
            assert run_cli("solve", str(bad), "--output", str(target), cwd=tmp_path).returncode == 2
        assert not fresh.exists()
        assert kept.read_text() == "earlier result\n"

    def test_a_write_that_fails_after_the_solve_gives_status_1(self, make_doc, tmp_path):
        if not Path("/dev/full").exists():
            pytest.skip("no /dev/full on this system")
        instance = write(tmp_path / "doc.json", make_doc(3))
        completed = run_cli("solve", str(instance), "--output", "/dev/full", "--no-improve", "--quiet", cwd=tmp_path)
        assert completed.returncode == 1
        assert lines_of(completed.stderr) == ["kvr-mtsp: error: cannot write /dev/full: No space left on device"]


    def test_a_failed_write_leaves_the_previous_result_whole(self, make_doc, tmp_path):
        # A file-size limit below the result's size makes the write fail part way,
        # as a full disk does (Python ignores SIGXFSZ, so the write reports EFBIG).
        import resource

        instance = write(tmp_path / "doc.json", make_doc(3))
        previous = write(tmp_path / "result.json", "earlier result\n")
        limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (100, 100))  # noqa: E731
        completed = subprocess.run(
            [sys.executable, "-m", "kvr_mtsp", "solve", str(instance), "--output", str(previous), "--no-improve",
             "--quiet"], cwd=tmp_path, env=child_env(), capture_output=True, text=True, timeout=120,
            preexec_fn=limit,
        )
        assert completed.returncode == 1
        assert lines_of(completed.stderr) == [f"kvr-mtsp: error: cannot write {previous}: File too large"]
        assert previous.read_text() == "earlier result\n"
        assert sorted(p.name for p in tmp_path.iterdir()) == ["doc.json", "result.json"]

    def test_the_instance_itself_is_refused_as_output(self, make_doc, tmp_path):
        instance = write(tmp_path / "doc.json", make_doc(3))
        before = instance.read_text()
        for target in ("doc.json", str(instance), "./doc.json"):
            completed = run_cli("solve", "doc.json", "--output", target, cwd=tmp_path)
            assert completed.returncode == 2
            assert lines_of(completed.stderr) == [
                f"kvr-mtsp: error: cannot write the result to {target}: it is the instance file, which it would "
                "replace"]
        assert instance.read_text() == before


class TestNumberFlags:
    @pytest.mark.parametrize("flag", ["--memory-limit-mb", "--missing-cost"])
    @pytest.mark.parametrize("value", ["nan", "inf", "-inf"])
    def test_non_finite_values_blame_the_flag(self, make_doc, tmp_path, flag, value):
        instance = write(tmp_path / "doc.json", make_doc(3))
        completed = run_cli("solve", str(instance), f"{flag}={value}", cwd=tmp_path)
        assert completed.returncode == 2
        assert f"error: argument {flag}: {value!r} is not a finite number" in completed.stderr
        assert "JSON" not in completed.stderr


class TestSignalsDuringStartUp:
    # The signal arrives while the command line's modules load, before any solve.
    CHILD = """
import builtins, os, signal, sys
sys.argv = ["kvr-mtsp", "solve", sys.argv[1]]
signum = int(os.environ["STOP_SIGNAL"])
load = builtins.__import__
def stop_while_loading(name, *args, **kwargs):
    if name == "kvr_mtsp.cli":
        os.kill(os.getpid(), signum)
    return load(name, *args, **kwargs)
builtins.__import__ = stop_while_loading
from kvr_mtsp.__main__ import main
raise SystemExit(main())
"""

    @pytest.mark.parametrize("signum, status", [(signal.SIGINT, 130), (signal.SIGTERM, 143)])
    def test_one_line_and_the_signals_status(self, make_doc, tmp_path, signum, status):
        instance = write(tmp_path / "doc.json", make_doc(3))
        completed = subprocess.run([sys.executable, "-c", self.CHILD, str(instance)], cwd=tmp_path,
                                   env={**child_env(), "STOP_SIGNAL": str(int(signum))}, capture_output=True,
                                   text=True, timeout=120)
        assert completed.returncode == status
        assert lines_of(completed.stderr) == [f"kvr-mtsp: interrupted by {signal.Signals(signum).name}"]
        assert completed.stdout == ""


PLACE = re.compile(r"(nodes|agents|constraints)\[(\d+)\](?: \((?:node|agent) (\d+)\)| \(\"(\w+)\"\))?"
                   r"(?:, item (\d+))?(.*)")


def _assert_names_a_place_of(doc, detail: str) -> None:
    """`detail` names an element the document has, by its index, its id and
    its kind as they are there, and, for a missing key, a key it lacks."""
    match = PLACE.fullmatch(detail)
    if match is None:
        assert re.match(r'(the document|"options"|"costs")[ ,]', detail), detail
        return
    array, index, record_id, kind, item, rest = match.groups()
    element = doc[array][int(index)]
    if record_id is not None:
        assert as_u64(element["id"]) == int(record_id), detail
    if kind is not None:
        assert element["kind"] == kind, detail
    if item is not None:
        payload = "precedence" if kind == "sequence" else "items"
        element = element[payload][int(item)]
    missing = re.fullmatch(r" has no key '(\w+)'", rest)
    if missing:
        assert isinstance(element, dict) and missing.group(1) not in element, detail
    elif rest.startswith(" must be an object"):
        assert not isinstance(element, dict), detail
    else:
        key = re.match(r', key "(\w+)": type must be', rest)
        assert key and key.group(1) in element, detail


def _too_many_nodes() -> dict:
    return {
        "nodes": [{"id": i, "x": 0, "y": 0, "z": 0} for i in range(257)],
        "agents": [{"id": 0, "type": "truck", "start_node": 0, "end_node": 0}],
        "costs": {"truck": [[0.0, 1.0], [1.0, 0.0]]},
    }


def _tiny(**changes) -> dict:
    """Two nodes with ids 10 and 20, agent 7 of type "t" at node 10; each
    keyword sets (None: removes) the value at its "__"-separated path."""
    doc = {
        "nodes": [{"id": 10, "x": 0, "y": 0, "z": 0}, {"id": 20, "x": 1, "y": 0, "z": 0}],
        "agents": [{"id": 7, "type": "t", "start_node": 10, "end_node": 10}],
        "costs": {"t": [[0.0, 1.0], [1.0, 0.0]]},
        "constraints": [{"kind": "assignment", "items": [{"node": 10, "types": ["t"]}, {"node": 20, "types": ["t"]}]}],
    }
    for path, value in changes.items():
        *parents, last = [int(step) if step.isdigit() else step for step in path.split("__")]
        place = doc
        for step in parents:
            place = place[step]
        if value is None:
            del place[last]
        else:
            place[last] = value
    return doc


BAD_DOCUMENTS = {
    "empty": ("", "instance.json is not valid JSON: parse error at line 1, column 1: attempting to parse an empty input"),
    "malformed": ('{"nodes": [', "instance.json is not valid JSON: parse error at line 1, column 12: syntax error"),
    "no-agents": ({"nodes": []}, "instance.json: the document has no key 'agents'"),
    "missing-key": (_tiny(agents__0__end_node=None), "instance.json: agents[0] (agent 7) has no key 'end_node'"),
    "wrong-type": (
        _tiny(nodes__1__x=True), 'instance.json: nodes[1] (node 20), key "x": type must be number, but is boolean'
    ),
    "not-an-object": (_tiny(nodes__1=5), "instance.json: nodes[1] must be an object, but is number"),
    "options-not-an-object": (_tiny(options=[]), "instance.json: \"options\" must be an object, but is array"),
    # What the reader takes and construction would refuse is refused before the solve in validate's words.
    "unknown-start": (_tiny(agents__0__start_node=3), "instance.json: $.agents[0].start_node: no node has the id 3"),
    "unknown-end": (_tiny(agents__0__end_node=30), "instance.json: $.agents[0].end_node: no node has the id 30"),
    "matrix-of-no-agent": (
        _tiny(costs={"t": [[0.0, 1.0], [1.0, 0.0]], "van": [[0.0]]}),
        "instance.json: $.costs.van: no agent has the type 'van', so the solver refuses this matrix",
    ),
    "type-without-matrix": (
        _tiny(costs={}),
        "instance.json: $.agents[0].type: the type 't' has no matrix in \"costs\" (matrices given: none), "
        "so the agent has no connection",
    ),
    "several-mistakes": (
        _tiny(costs={"truck": [[0.0, 1.0], [1.0, 0.0]]}),
        "instance.json: $.costs.truck: no agent has the type 'truck', so the solver refuses this matrix "
        "(and 1 more: kvr-mtsp validate lists them)",
    ),
    "no-costs": (_tiny(costs=None), "instance.json: $.agents[0].type: the type 't' has no matrix in \"costs\""),
    "assignment-node": (
        _tiny(constraints=[{"kind": "assignment", "items": [{"node": 10, "types": ["t"]}, {"node": 2, "types": ["t"]}]}]),
        "instance.json: $.constraints[0].items[1].node: no node has the id 2",
    ),
    "window-node": (
        _tiny(constraints=[{"kind": "timewindow", "items": [{"node": 99, "start": 0, "end": 5}]}]),
        "instance.json: $.constraints[0].items[0].node: no node has the id 99",
    ),
    "sequence-node": (
        _tiny(constraints=[{"kind": "sequence", "precedence": [{"before": 10, "after": 21}]}]),
        "instance.json: $.constraints[0].precedence[0].after: no node has the id 21",
    ),
    "short-matrix": (
        _tiny(costs={"t": [[0.0, 1.0]]}),
        "instance.json: $.costs.t: the matrix of the type 't' is 1 x 2 for 2 nodes; it needs 2 rows of 2 costs",
    ),
}


def test_too_many_nodes_without_the_engine_is_refused_naming_the_flag(tmp_path):
    """--no-improve on 257 nodes: status 2, and the advice is to drop the
    flag (the document's own option would not count)."""
    write(tmp_path / "instance.json", _too_many_nodes())
    completed = run_cli("solve", "instance.json", "--no-improve", cwd=tmp_path)
    assert completed.returncode == 2
    [line] = lines_of(completed.stderr)
    assert line.startswith(
        "kvr-mtsp: error: instance.json: $.nodes: 257 nodes, but the focal search takes at most 256 and "
        "--no-improve turns off the improvement engine, which solves larger instances; drop --no-improve"
    ), line
    assert 'set the option "improve"' not in line
    assert completed.stdout == ""


class TestBadInput:
    @pytest.mark.parametrize("content, message", BAD_DOCUMENTS.values(), ids=BAD_DOCUMENTS.keys())
    def test_one_line_naming_the_fault_and_status_2(self, tmp_path, content, message):
        instance = write(tmp_path / "instance.json", content)
        completed = run_cli("solve", "instance.json", cwd=tmp_path)
        assert completed.returncode == 2
        [line] = lines_of(completed.stderr)
        assert line.startswith(f"kvr-mtsp: error: {message}"), line
        assert completed.stdout == ""

    def test_the_module_keeps_its_own_exceptions(self, tmp_path):
        # What programs see is unchanged; the command line only words it for people.
        with pytest.raises(IndexError, match=r"^unordered_map::at: key not found: agent 7 \(agents\[0\]\) starts at node 3, but no node has the id 3$"):
            core.solve_json_str(json.dumps(_tiny(agents__0__start_node=3)))
        with pytest.raises(RuntimeError, match=r"^\[json.exception.out_of_range.403\] key 'end_node' not found$"):
            core.solve_json_str(json.dumps(_tiny(agents__0__end_node=None)))

    @settings(max_examples=300, deadline=None, suppress_health_check=list(HealthCheck))
    @given(mutated_documents())
    def test_every_rejection_of_a_broken_document_is_traced_to_its_place(self, doc):
        # The module's message is the library's alone; the reader's "detail"
        # (or construction's text after the look-up's) must name the place,
        # whatever the document looks like, and name one that is there.
        text = json.dumps(doc)
        try:
            core.solve_json_str(text, 0.01)
        except ValueError as error:
            # The solver's own refusals name the place themselves (repeated ids,
            # costs that are not finite and non-negative, too many nodes).
            assert explain(error, "doc.json") == f"doc.json: {error}"
        except (RuntimeError, IndexError) as error:
            message = explain(error, "doc.json")
            assert "unordered_map" not in message and "json.exception" not in message, message
            if isinstance(error, RuntimeError) and "parse_error" not in str(error):
                assert re.fullmatch(r"\[json\.exception\.\w+\.\d+\] [^:]*", str(error)), str(error)
                assert message == f"doc.json: {error.detail}"
                _assert_names_a_place_of(doc, error.detail)
            elif isinstance(error, IndexError):
                assert re.fullmatch(r"doc\.json: (agent \d+ \(agents\[\d+\]\) (starts|ends) at node \d+, .*"
                                    r"|a cost matrix is given for the type .*)", message), message
            else:  # lone surrogate escapes, which the reader refuses
                assert message.startswith("doc.json is not valid JSON: ")

    @pytest.mark.parametrize(
        "make, reason",
        [
            (lambda tmp: tmp / "missing.json", "No such file or directory"),
            (lambda tmp: tmp, "Is a directory"),
            (lambda tmp: write(tmp / "file.json", "{}") / "inner.json", "Not a directory"),
        ],
        ids=["missing", "directory", "not-a-directory"],
    )
    def test_a_file_that_cannot_be_read_is_named_with_the_reason(self, tmp_path, make, reason):
        path = make(tmp_path)
        completed = run_cli("solve", str(path), cwd=tmp_path)
        assert completed.returncode == 2
        assert lines_of(completed.stderr) == [f"kvr-mtsp: error: cannot read {path}: {reason}"]
        assert completed.stdout == ""

    @pytest.mark.skipif(os.geteuid() == 0, reason="root reads files whatever their mode")
    def test_an_unreadable_file_is_named_with_the_reason(self, make_doc, tmp_path):
        instance = write(tmp_path / "secret.json", make_doc(3))
        instance.chmod(0)
        completed = run_cli("solve", str(instance), cwd=tmp_path)
        assert completed.returncode == 2
        assert lines_of(completed.stderr) == [f"kvr-mtsp: error: cannot read {instance}: Permission denied"]


def _noisy_doc(make_doc) -> dict:
    """No assignment constraints (one warning per node), the depot without any
    way out for the first type ("point: 0 can't be reached") and one node pair
    without connection (the "[TW-MST]" line)."""
    doc = without_assignments(make_doc(3))
    matrix = doc["costs"]["truck"]
    for column in (1, 2, 3):
        matrix[0][column] = 9999.0
    matrix[1][2] = matrix[2][1] = 9999.0
    return doc


class TestSolverConsoleLines:
    def test_repeated_warnings_are_summarised_in_place(self, make_doc, tmp_path):
        instance = write(tmp_path / "noisy.json", _noisy_doc(make_doc))
        module = run_module(instance, tmp_path)
        # The depot has no way out, so no target can be reached either.
        unreachable = [f"point: {n} can't be reached" for n in range(4)]
        assert lines_of(module.stderr) == [NO_ASSIGNMENT.format(n) for n in range(4)] + unreachable
        blocked = "[TW-MST] blocked edges: 1 / 6 (set MTSP_DEBUG_TW_EDGES=1 for details)"
        assert lines_of(module.stdout)[0] == blocked

        completed = run_cli("solve", str(instance), "--no-improve", cwd=tmp_path)
        errors = lines_of(completed.stderr)
        assert errors[:5] == [
            "kvr-mtsp: warning: all 4 nodes have no assignment constraint, so every agent type may serve them "
            "(node ids 0, 1, 2, 3); --verbose shows the solver's lines",
        ] + unreachable
        assert all(line.startswith("kvr-mtsp: ") for line in errors[5:])  # at most the no-solution line
        # Standard output: the solver's lines with the "[TW-MST]" one summarised, then the summary.
        solver_lines = [
            "kvr-mtsp: warning: 1 of 6 node pairs has no connection in either direction for any agent type "
            "(no cost below 9999); --verbose shows the solver's line"
        ] + lines_of(module.stdout)[1:]
        out = lines_of(completed.stdout)
        assert out[: len(solver_lines)] == solver_lines
        assert out[len(solver_lines)].startswith("instance ")

    def test_verbose_passes_the_solvers_lines_unchanged(self, make_doc, tmp_path):
        instance = write(tmp_path / "noisy.json", _noisy_doc(make_doc))
        module = run_module(instance, tmp_path)
        completed = run_cli("solve", str(instance), "--verbose", "--no-improve", cwd=tmp_path)
        errors = lines_of(completed.stderr)
        assert errors[: len(lines_of(module.stderr))] == lines_of(module.stderr)
        assert all(line.startswith("kvr-mtsp: ") for line in errors[len(lines_of(module.stderr)):])
        solver_lines = lines_of(module.stdout)
        assert lines_of(completed.stdout)[: len(solver_lines) + 1] == solver_lines + [f"instance     {instance}"]

    def test_blocked_pairs_of_time_windows_are_left_as_they_are(self, make_doc, tmp_path):
        # Two windows that close before any agent can arrive block the pair between them.
        doc = make_doc(3)
        doc["constraints"].append(
            {"kind": "timewindow", "items": [{"node": 1, "start": 0, "end": 1}, {"node": 2, "start": 0, "end": 1}]}
        )
        instance = write(tmp_path / "windows.json", doc)
        blocked = "[TW-MST] blocked edges: 1 / 6 (set MTSP_DEBUG_TW_EDGES=1 for details)"
        assert lines_of(run_module(instance, tmp_path).stdout)[0] == blocked
        assert lines_of(run_cli("solve", str(instance), "--no-improve", cwd=tmp_path).stdout)[0] == blocked

    def test_a_single_node_without_constraint_is_told_as_such(self, make_doc, tmp_path):
        doc = make_doc(3)
        doc["constraints"][0]["items"].pop()  # node 3 keeps no assignment entry
        instance = write(tmp_path / "one.json", doc)
        completed = run_cli("solve", str(instance), "--no-improve", "--quiet", cwd=tmp_path)
        assert completed.returncode == 0, completed.stderr
        assert lines_of(completed.stderr) == [
            "kvr-mtsp: warning: 1 node has no assignment constraint, so every agent type may serve it "
            "(node id 3); --verbose shows the solver's lines"
        ]


def test_console_script_is_declared():
    with open(ROOT / "pyproject.toml", "rb") as stream:
        scripts = tomllib.load(stream)["project"]["scripts"]
    assert scripts == {"kvr-mtsp": "kvr_mtsp.__main__:main"}
    from kvr_mtsp.__main__ import main

    assert callable(main)


class TestStopSignals:
    """Ctrl-C and SIGTERM end a solve with the best solution found so far."""

    @staticmethod
    def start(instance: Path, output: Path, cwd: Path) -> subprocess.Popen:
        return subprocess.Popen(
            [sys.executable, "-m", "kvr_mtsp", "solve", str(instance), "--output", str(output)],
            cwd=cwd, env=child_env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
        )

    @pytest.mark.parametrize("signum, status", [(signal.SIGINT, 130), (signal.SIGTERM, 143)])
    def test_summary_and_output_of_the_best_solution(self, signum, status, tmp_path, checker):
        doc = long_search_doc(60.0)  # first solution within milliseconds, search for a minute
        output = tmp_path / "result.json"
        child = self.start(write(tmp_path / "long.json", doc), output, tmp_path)
        time.sleep(2.0)
        child.send_signal(signum)
        # Far less than the minute the search would otherwise take.
        out, err = child.communicate(timeout=30)
        assert child.returncode == status, err
        name = signal.Signals(signum).name
        assert f"status       success (interrupted by {name}; best solution found so far)" in lines_of(out)
        assert "[interrupted] KeyboardInterrupt" in err
        result = json.loads(output.read_text())
        assert result["status"] == "success" and result["timeout"] is True
        routes = [{key: route[key] for key in ("agent_id", "path", "cost")} for route in result["routes"]]
        assert checker(doc, routes) == []

    def test_stop_before_any_solution(self, tmp_path):
        doc = long_search_doc(60.0)
        for agent in doc["agents"]:
            agent["max_length"] = 133  # enough for any one target, too short for all: no solution for a long time
        output = tmp_path / "result.json"
        child = self.start(write(tmp_path / "none.json", doc), output, tmp_path)
        time.sleep(2.0)
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=30)
        assert child.returncode == 130
        assert "kvr-mtsp: interrupted by SIGINT before any solution was found" in err
        assert not output.exists()


def test_engine_flags_reach_the_solve(make_doc, tmp_path):
    from kvr_mtsp.checker import check_result

    doc = make_doc(8, time_limit=5)
    instance = write(tmp_path / "engine.json", doc)
    outputs = []
    for flags in (["--seed", "4", "--max-iterations", "15"], ["--seed", "4", "--max-iterations", "15"], ["--no-improve"]):
        target = tmp_path / f"result{len(outputs)}.json"
        completed = run_cli("solve", str(instance), *flags, "--output", str(target), cwd=tmp_path)
        assert completed.returncode == 0, completed.stderr
        written = json.loads(target.read_text())
        for route in written["routes"]:  # the command line's additions to the module's document
            del route["node_ids"], route["agent_index"]
        outputs.append(written)
    engine, repeated, focal = outputs
    assert check_result(doc, engine) == []
    assert engine["routes"] == repeated["routes"]
    # The engine stops after its iterations, long before the 5 s limit, and
    # is at least as good as the focal search's first solution.
    assert engine["timeout"] is False
    assert engine["statistics"]["max_cost"] <= focal["anytime"][0]["max_cost"] + 1e-9
    bad = run_cli("solve", str(instance), "--max-iterations", "many", cwd=tmp_path)
    assert bad.returncode == 2


def test_memory_limit_flag_reaches_the_solve(tmp_path):
    doc = long_search_doc(30.0)  # holds far more than 3 MB within its 30 s
    instance = write(tmp_path / "long.json", doc)
    for verbose in ([], ["--verbose"]):  # the stop is told by the solver's record, printed or not
        completed = run_cli("solve", str(instance), "--no-improve", "--memory-limit-mb", "3", *verbose, cwd=tmp_path)
        assert completed.returncode == 0, completed.stderr
        # The solver gets the budget less the document's share (a few kB here).
        assert re.search(r"\[memory\] memory limit of 2\.9\d* MB reached", completed.stderr)
        status = "status       success (memory budget reached; best solution found so far)"
        assert status in lines_of(completed.stdout)
    bad = run_cli("solve", str(instance), "--memory-limit-mb", "-1", cwd=tmp_path)
    assert bad.returncode == 2
    assert "memory_limit_mb must be a positive number of megabytes" in bad.stderr
