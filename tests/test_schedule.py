"""Routes' schedules (the option "schedule"): the stops' times and loads on
hand-computed instances, on every road out of the solver (module, `kvr_mtsp.solve`,
the command line's --output and --verbose summary, the checker, the plot),
and the result document left as it is with the option off."""
from __future__ import annotations

import copy
import io
import json
from pathlib import Path

import pytest

import _kvr_core as core
import kvr_mtsp
from kvr_mtsp.checker import check, check_result
from test_capacity import loaded_doc
from test_cli import run_cli

TIMES = ("arrival", "start", "departure")


def waiting_doc() -> dict:
    """One agent, two targets. Target 1 (10 from the depot) opens at 30,
    target 2 is 5 from the depot and 11 from target 1. Serving 2 first is
    best: 2 reached at 5, 1 reached at 16 and served at 30 (a wait of 14),
    back at 40; the other order ends at 46."""
    return {
        "nodes": [{"id": 0, "x": 0, "y": 0, "z": 0}, {"id": 1, "x": 10, "y": 0, "z": 0},
                  {"id": 2, "x": 0, "y": 5, "z": 0}],
        "agents": [{"id": 7, "type": "van", "start_node": 0, "end_node": 0}],
        "costs": {"van": [[0, 10, 5], [10, 0, 11], [5, 11, 0]]},
        "constraints": [{"kind": "assignment", "items": [{"node": i, "types": ["van"]} for i in range(3)]},
                        {"kind": "timewindow", "items": [{"node": 1, "start": 30, "end": 45}]}],
        "options": {"objective": "min_max", "time_limit": 5},
    }


WAITING_STOPS = [(0, 0.0, 0.0, 0.0), (2, 5.0, 5.0, 5.0), (1, 16.0, 30.0, 30.0), (0, 40.0, 40.0, 40.0)]


def paired_doc() -> dict:
    """Two agents of their own types: agent 1 alone may serve node 1 (10 away),
    agent 2 alone node 2 (4 away); node 1 comes before node 2. Agent 2
    reaches node 2 at 4 and waits there until agent 1 starts node 1 at 10,
    so it is back at 14 instead of 8."""
    return {
        "nodes": [{"id": i, "x": x, "y": 0, "z": 0} for i, x in enumerate((0, 10, 4))],
        "agents": [{"id": 1, "type": "a", "start_node": 0, "end_node": 0},
                   {"id": 2, "type": "b", "start_node": 0, "end_node": 0}],
        "costs": {kind: [[abs(p - q) for q in (0, 10, 4)] for p in (0, 10, 4)] for kind in ("a", "b")},
        "constraints": [{"kind": "assignment", "items": [{"node": 0, "types": ["a", "b"]},
                                                         {"node": 1, "types": ["a"]}, {"node": 2, "types": ["b"]}]},
                        {"kind": "sequence", "precedence": [{"before": 1, "after": 2}]}],
        "options": {"objective": "min_max", "time_limit": 5, "max_iterations": 50},
    }


def stop_rows(stops) -> list[tuple]:
    return [(stop["position"], *(stop[key] for key in TIMES)) for stop in stops]


class TestStopTimes:
    def test_waiting_for_a_window_shows_between_arrival_and_start(self):
        module = core.solve_json_str(json.dumps({**waiting_doc(), "options": {**waiting_doc()["options"],
                                                                               "schedule": True}}))
        route = module["routes"][0]
        assert list(route) == ["agent_id", "path", "cost", "stops"]
        assert route["path"] == [0, 2, 1, 0] and route["cost"] == 40.0
        assert stop_rows(route["stops"]) == WAITING_STOPS

        typed = kvr_mtsp.solve(waiting_doc()).routes[0]
        assert [(s.position, s.arrival, s.start, s.departure) for s in typed.stops] == WAITING_STOPS
        assert [s.node_id for s in typed.stops] == [0, 2, 1, 0]
        assert [s.wait for s in typed.stops] == [0.0, 0.0, 14.0, 0.0]
        assert typed.stops[-1].departure == typed.cost
        assert [s.load for s in typed.stops] == [0, 0, 0, 0]  # capacities enforced, no demands
        assert all("load" not in stop for stop in route["stops"])  # nor loads with capacities not enforced

    def test_loads_after_each_stop_add_up_the_demands(self):
        # Each truck of capacity 9 takes three targets of demand 3; the depot's demand counts for nothing.
        result = kvr_mtsp.solve(loaded_doc(improve=True))
        for route in result.routes:
            assert [stop.load for stop in route.stops] == [0, 3, 6, 9, 9]
            assert route.stops[-1].load == route.load
            assert route.stops[-1].departure == route.cost
        assert result.check().ok

    def test_a_precedence_partner_on_another_route_makes_the_agent_wait(self):
        result = kvr_mtsp.solve(paired_doc(), seed=1)
        first, second = result.routes
        assert [(s.position, s.arrival, s.start, s.departure) for s in first.stops] == [
            (0, 0, 0, 0), (1, 10, 10, 10), (0, 20, 20, 20)]
        assert [(s.position, s.arrival, s.start, s.departure) for s in second.stops] == [
            (0, 0, 0, 0), (2, 4, 10, 10), (0, 14, 14, 14)]
        assert (first.cost, second.cost) == (20, 14)
        assert result.check().ok
        # Without the pair enforced nobody waits.
        with pytest.warns(kvr_mtsp.SolverWarning, match="not enforced"):
            loose = kvr_mtsp.solve(paired_doc(), seed=1, enforce_precedence=False)
        assert [s.start for s in loose.routes[1].stops] == [0, 4, 8]

    def test_the_solvers_result_record_holds_the_stops(self):
        problem = core.read_document(json.dumps(waiting_doc()))
        options = problem.options()
        assert options.schedule is False
        options.schedule = True
        solver = core.Solver(problem, options)
        assert solver.solve() == 1
        assert solver.get_result().stops == {0: [(n, a, s, d, 0.0) for n, a, s, d in WAITING_STOPS]}
        options.schedule = False
        plain = core.Solver(problem, options)
        plain.solve()
        assert plain.get_result().stops == {}


class TestOptionOff:
    def test_the_module_keeps_its_keys_unless_asked(self):
        assert core.Options().schedule is False
        doc = waiting_doc()
        assert core.read_document(json.dumps(doc)).options().schedule is False
        assert all(list(route) == ["agent_id", "path", "cost"] for route in core.solve_json_str(json.dumps(doc))["routes"])
        doc["options"]["schedule"] = False
        assert all(list(route) == ["agent_id", "path", "cost"] for route in core.solve_json_str(json.dumps(doc))["routes"])

    def test_solve_without_it_gives_the_document_without_stops(self):
        off = kvr_mtsp.solve(loaded_doc(improve=True), schedule=False)
        assert all(route.stops is None for route in off.routes)
        assert all(list(route) == ["agent_id", "path", "cost", "load"] for route in off.to_dict()["routes"])

    def test_a_document_with_stops_reads_back_unchanged(self):
        result = kvr_mtsp.solve(waiting_doc())
        document = result.to_dict()
        assert kvr_mtsp.SolveResult.from_dict(copy.deepcopy(document), waiting_doc()).to_dict() == document


class TestChecker:
    def test_a_schedule_that_is_not_the_walk_is_named(self):
        document = kvr_mtsp.solve(waiting_doc()).to_dict()
        assert check(waiting_doc(), document).ok and check_result(waiting_doc(), document) == []
        document["routes"][0]["stops"][2]["start"] = 16.0  # as if the window were ignored
        verdict = check(waiting_doc(), document)
        assert verdict.kinds() == ["schedule"]
        assert "stop 2 (node 1) reports start 16.0, recomputed 30.0" in verdict.violations[0].message
        assert any("recomputed 30.0" in error for error in check_result(waiting_doc(), document))
        document["routes"][0]["stops"].pop()
        assert "3 stops for 4 nodes" in check(waiting_doc(), document).violations[0].message

    def test_waits_for_partners_and_loads_are_recomputed(self):
        document = kvr_mtsp.solve(paired_doc(), seed=1).to_dict()
        checked = {**paired_doc(), "options": {**paired_doc()["options"], "enforce_precedence": True,
                                               "improve": True}}
        assert check(checked, document).ok
        document["routes"][1]["stops"][1]["start"] = 4.0  # the wait for node 1 left out
        assert check(checked, document).kinds() == ["schedule"]

        loaded = kvr_mtsp.solve(loaded_doc(improve=True)).to_dict()
        loaded["routes"][0]["stops"][1]["load"] = 4.0
        messages = [v.message for v in check(loaded_doc(enforce=True, improve=True), loaded).violations]
        assert messages == ["route 0 (agent 1): stop 1 (node "
                            f"{loaded['routes'][0]['path'][1]}) reports load 4.0, recomputed 3.0"]


class TestCommandLine:
    def test_output_carries_the_schedule_and_verbose_shows_it(self, tmp_path: Path):
        (tmp_path / "doc.json").write_text(json.dumps(waiting_doc()))
        completed = run_cli("solve", "doc.json", "--output", "out.json", "--verbose", "--quiet", cwd=tmp_path)
        assert completed.returncode == 0, completed.stderr
        written = json.loads((tmp_path / "out.json").read_text())
        assert stop_rows(written["routes"][0]["stops"]) == WAITING_STOPS
        assert check(tmp_path / "doc.json", tmp_path / "out.json").ok
        lines = completed.stdout.splitlines()
        at = next(i for i, line in enumerate(lines) if line.strip().startswith("agent 7"))
        assert [line.split() for line in lines[at + 1:at + 5]] == [
            ["0", "arrive", "0.0", "start", "0.0", "leave", "0.0"],
            ["2", "arrive", "5.0", "start", "5.0", "leave", "5.0"],
            ["1", "arrive", "16.0", "start", "30.0", "leave", "30.0", "(waited", "14.0)"],
            ["0", "arrive", "40.0", "start", "40.0", "leave", "40.0"],
        ]

    def test_the_verbose_schedule_shows_loads_where_the_summary_does(self):
        from kvr_mtsp.cli import write_summary

        out = io.StringIO()
        write_summary("loaded.json", kvr_mtsp.solve(loaded_doc(improve=True)), "1 s", out, schedule=True)
        stops = [line.split() for line in out.getvalue().splitlines() if " arrive " in line]
        assert [row[row.index("load") + 1] for row in stops] == ["0.0", "3.0", "6.0", "9.0", "9.0"] * 2

    def test_no_schedule_leaves_the_routes_without_stops(self, tmp_path: Path):
        (tmp_path / "doc.json").write_text(json.dumps(waiting_doc()))
        completed = run_cli("solve", "doc.json", "--output", "out.json", "--no-schedule", "--quiet", cwd=tmp_path)
        assert completed.returncode == 0, completed.stderr
        routes = json.loads((tmp_path / "out.json").read_text())["routes"]
        assert all("stops" not in route for route in routes)
        quiet = run_cli("solve", "doc.json", "--quiet", cwd=tmp_path)
        assert "arrive" not in quiet.stdout  # the schedule is shown with --verbose only


class TestPlot:
    def test_windows_and_a_schedule_add_a_time_axis_per_route(self, tmp_path: Path):
        pytest.importorskip("matplotlib")
        from kvr_mtsp.plot import DPI, FIGURE_INCHES, figure_of
        from test_plot import png_size

        doc = waiting_doc()
        result = kvr_mtsp.solve(doc).to_dict()
        figure = figure_of(doc, result)
        strips = [axes for axes in figure.axes if axes.get_title() == "schedule"]
        assert len(strips) == 1
        legend = [text.get_text() for text in strips[0].get_legend().get_texts()]
        assert legend == ["time window", "travel", "waiting", "service starts"]
        assert [label.get_text() for label in strips[0].get_yticklabels()] == ["agent 7 [van]"]

        (tmp_path / "doc.json").write_text(json.dumps(doc))
        (tmp_path / "result.json").write_text(json.dumps(result))
        plotted = run_cli("plot", "doc.json", "result.json", "-o", "routes.png", cwd=tmp_path)
        assert plotted.returncode == 0, plotted.stderr
        width, height = png_size(tmp_path / "routes.png")
        assert width == round(FIGURE_INCHES[0] * DPI) and height > round(FIGURE_INCHES[1] * DPI)

        # Without windows, or without a schedule, the picture is the map and the curve alone.
        unscheduled = kvr_mtsp.solve(doc, schedule=False).to_dict()
        assert all(axes.get_title() != "schedule" for axes in figure_of(doc, unscheduled).axes)
        no_windows = copy.deepcopy(doc)
        no_windows["constraints"].pop()
        plain = kvr_mtsp.solve(no_windows).to_dict()
        assert all(axes.get_title() != "schedule" for axes in figure_of(no_windows, plain).axes)
