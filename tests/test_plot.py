"""kvr-mtsp plot and solve --plot: a PNG of the routes from either kind of result document."""
from __future__ import annotations

import copy

import json
import struct
import subprocess
import sys
from pathlib import Path

import pytest

import _kvr_core as core
from kvr_mtsp.instance import InstanceView
from kvr_mtsp.plot import DPI, FIGURE_INCHES, drawn_routes
from kvr_mtsp.usage import BadInput
from test_cli import child_env, run_cli

ROOT = Path(__file__).resolve().parent.parent
DATA = Path(__file__).resolve().parent / "data"
EXPECTED_PIXELS = (round(FIGURE_INCHES[0] * DPI), round(FIGURE_INCHES[1] * DPI))


def png_size(path: Path) -> tuple[int, int]:
    """Width and height from the PNG signature and its IHDR chunk."""
    head = path.read_bytes()[:24]
    assert head[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG file"
    assert head[12:16] == b"IHDR"
    return struct.unpack(">II", head[16:24])


def write(path: Path, doc) -> Path:
    path.write_text(json.dumps(doc))
    return path


def without_matplotlib(*args: str, cwd: Path) -> subprocess.CompletedProcess:
    """The command line in a process where `import matplotlib` fails."""
    code = (
        "import sys; sys.modules['matplotlib'] = None\n"
        "from kvr_mtsp.cli import main\n"
        f"sys.exit(main({list(args)!r}))"
    )
    return subprocess.run([sys.executable, "-c", code], cwd=cwd, env=child_env(), capture_output=True, text=True,
                          timeout=120)


class TestPictures:
    def test_plot_reads_the_command_lines_result_document(self, make_doc, tmp_path):
        doc = make_doc(5, agent_ids=(4, 9), node_ids=(10, 11, 12, 13, 14, 15))
        instance = write(tmp_path / "grid.json", doc)
        solved = run_cli("solve", str(instance), "--no-improve", "--output", "result.json", cwd=tmp_path)
        assert solved.returncode == 0, solved.stderr
        plotted = run_cli("plot", str(instance), "result.json", "-o", "routes.png", cwd=tmp_path)
        assert plotted.returncode == 0, plotted.stderr
        assert png_size(tmp_path / "routes.png") == EXPECTED_PIXELS

    def test_plot_reads_the_modules_result_saved_as_json(self, example_path, tmp_path):
        result = core.solve_json_file(str(example_path), 0.5)
        write(tmp_path / "result.json", result)
        plotted = run_cli("plot", str(example_path), "result.json", "-o", "routes.png", cwd=tmp_path)
        assert plotted.returncode == 0, plotted.stderr
        assert png_size(tmp_path / "routes.png") == EXPECTED_PIXELS

    def test_solve_with_plot_writes_the_picture(self, tmp_path):
        instance = ROOT / "examples" / "two_types.json"
        completed = run_cli("solve", str(instance), "--time-limit", "0.5", "--plot", "routes.png", cwd=tmp_path)
        assert completed.returncode == 0, completed.stderr
        assert "routes drawn in routes.png" in completed.stdout
        assert png_size(tmp_path / "routes.png") == EXPECTED_PIXELS


class TestDrawnRoutes:
    def test_open_routes_lose_their_free_last_leg_and_closed_ones_keep_it(self, load_doc):
        doc = load_doc(ROOT / "examples" / "open_routes.json")
        result = core.solve_json_str(json.dumps(doc), 0.5)
        homes = {0: 0, 1: 0, 2: 1}  # agent index: position of its start (and end) node
        for index, route in enumerate(drawn_routes(InstanceView(doc), result, "r")):
            path = result["routes"][index]["path"]
            assert path[-1] == homes[index] and route.free_leg
            assert route.positions == path[:-1]
        doc["options"]["return_to_end"] = True
        closed = core.solve_json_str(json.dumps(doc), 0.5)
        for index, route in enumerate(drawn_routes(InstanceView(doc), closed, "r")):
            assert route.positions == closed["routes"][index]["path"] and not route.free_leg

    def test_legend_names_agent_type_and_cost(self, load_doc):
        doc = load_doc(ROOT / "examples" / "two_types.json")
        result = core.solve_json_str(json.dumps(doc), 0.5)
        labels = [route.label for route in drawn_routes(InstanceView(doc), result, "r")]
        expected = [
            f"agent {agent['id']} [{agent['type']}]: {route['cost']:.6g}"
            for agent, route in zip(doc["agents"], result["routes"], strict=True)
        ]
        assert [label.removesuffix(" (no target)") for label in labels] == expected

    def test_a_result_of_another_instance_or_with_node_ids_is_refused(self, make_doc):
        doc = make_doc(4, agent_ids=(1, 2))
        result = core.solve_json_str(json.dumps(doc), 0.5)
        other = make_doc(4, agent_ids=(1, 7))
        with pytest.raises(BadInput, match=r"r is not a result of this instance: routes\[1\] is for agent 2, "
                                           r"which the instance does not have \(its agents: 1, 7\)"):
            drawn_routes(InstanceView(other), result, "r")
        shifted = make_doc(4, agent_ids=(1, 2), node_ids=(100, 101, 102, 103, 104))
        result["routes"][0]["path"] = [100, 101, 100]  # ids where positions belong
        with pytest.raises(BadInput, match='routes\\[0\\] visits positions 100, 101, 100, but the instance has 5 '
                                           'nodes \\("path" holds positions 0..4 in "nodes", not node ids\\)'):
            drawn_routes(InstanceView(shifted), result, "r")

    def test_a_result_with_the_same_agents_but_other_depots_is_refused(self, make_doc):
        # The same agent ids and node count: only the routes' start nodes tell the instances apart.
        doc = make_doc(4, agent_ids=(1, 2))
        result = core.solve_json_str(json.dumps(doc), 0.5)
        moved = copy.deepcopy(doc)
        for agent in moved["agents"]:
            agent["start_node"] = agent["end_node"] = moved["nodes"][3]["id"]
        with pytest.raises(BadInput, match=r"routes\[0\] starts at node \d+, but agent 1 starts at node"):
            drawn_routes(InstanceView(moved), result, "r")
        assert len(drawn_routes(InstanceView(doc), result, "r")) == 2


def test_the_picture_is_titled_by_name_file_or_routes():
    from kvr_mtsp.plot import picture_title

    assert picture_title({"name": "eil51"}, "x/eil51-m3.json") == "eil51"
    assert picture_title({}, "x/eil51-m3.json") == "eil51-m3.json"
    assert picture_title({}, None) == "routes"  # draw() on a dict: never "the instance"


class TestRefusals:
    def test_a_document_without_coordinates_is_refused(self, tmp_path):
        converted = run_cli("convert", str(DATA / "five_full_matrix.tsp"), "--agents", "2", "-o", "m.json",
                            cwd=tmp_path)
        assert converted.returncode == 0, converted.stderr
        completed = run_cli("solve", "m.json", "--plot", "routes.png", cwd=tmp_path)
        assert completed.returncode == 2
        assert completed.stderr == (
            "kvr-mtsp: error: m.json: every node is at (0, 0), so the document carries no coordinates to plot "
            "(its costs come from a matrix alone)\n"
        )
        assert completed.stdout == "" and not (tmp_path / "routes.png").exists()  # refused before the solve

    def test_a_node_without_x_is_refused(self, make_doc, tmp_path):
        doc = make_doc(3)
        result = core.solve_json_str(json.dumps(doc), 0.5)
        del doc["nodes"][2]["x"]
        write(tmp_path / "i.json", doc)
        write(tmp_path / "r.json", result)
        completed = run_cli("plot", "i.json", "r.json", "-o", "routes.png", cwd=tmp_path)
        assert completed.returncode == 2
        assert 'i.json: nodes[2] has no numeric "x" and "y"' in completed.stderr

    @pytest.mark.parametrize("command", ["plot", "solve"])
    def test_without_matplotlib_one_line_names_the_extra(self, command, make_doc, tmp_path):
        write(tmp_path / "i.json", make_doc(3))
        write(tmp_path / "r.json", {"routes": []})
        args = ["plot", "i.json", "r.json", "-o", "p.png"] if command == "plot" else ["solve", "i.json", "--plot", "p.png"]
        completed = without_matplotlib(*args, cwd=tmp_path)
        assert completed.returncode == 2
        assert completed.stderr.count("\n") == 1
        assert completed.stderr.startswith("kvr-mtsp: error: plotting needs the package matplotlib")
        assert "pip install 'kvr-mtsp[plot]'" in completed.stderr
        assert completed.stdout == "" and not (tmp_path / "p.png").exists()
