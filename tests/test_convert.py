"""kvr-mtsp convert: TSPLIB and VRPLIB files as instance documents that validate and solve."""
from __future__ import annotations

import json
import math
from pathlib import Path

import pytest

import _kvr_core as core
from benchmarks import make_instances
from kvr_mtsp.validate import problems
from test_cli import run_cli

DATA = Path(__file__).resolve().parent / "data"
# The coordinates of tests/data/seven_points.tsp, read here on their own.
SEVEN_POINTS = [(0, 0), (3, 4), (6, 0), (3, -4), (-5, 2.5), (-2, -6), (8, 7)]
FIVE_FULL_MATRIX = [
    [0, 4, 9, 7, 3],
    [5, 0, 2, 8, 6],
    [10, 3, 0, 4, 9],
    [6, 9, 5, 0, 2],
    [2, 7, 11, 3, 0],
]


def convert(tmp_path: Path, name: str, *options: str) -> dict:
    out = tmp_path / f"{name}.json"
    completed = run_cli("convert", str(DATA / name), "-o", str(out), *options, cwd=tmp_path)
    assert completed.returncode == 0, completed.stderr
    assert completed.stderr == ""
    return json.loads(out.read_text())


def solve(doc: dict, checker) -> dict:
    """Solves `doc` briefly and checks its routes with the independent checker."""
    result = core.solve_json_str(json.dumps(doc), 1.0)
    assert result["status"] == "success"
    assert checker(doc, result["routes"]) == []
    return result


def depots_of(doc: dict) -> set[int]:
    return {node["id"] for node in doc["nodes"] if node["type"] == "DEPOT"}


class TestTsplib:
    def test_euclidean_costs_are_unrounded_and_the_first_node_is_the_depot(self, tmp_path, checker):
        doc = convert(tmp_path, "seven_points.tsp", "--agents", "3", "--objective", "min_max", "--time-limit", "4")
        assert [node["id"] for node in doc["nodes"]] == [1, 2, 3, 4, 5, 6, 7]
        assert [(node["x"], node["y"]) for node in doc["nodes"]] == SEVEN_POINTS
        expected = [[math.dist(a, b) for b in SEVEN_POINTS] for a in SEVEN_POINTS]
        for row, expected_row in zip(doc["costs"]["truck"], expected, strict=True):
            assert row == pytest.approx(expected_row, rel=1e-15)
        assert doc["costs"]["truck"][1][4] == pytest.approx(math.sqrt(64 + 2.25))  # not rounded to 8
        assert depots_of(doc) == {1}
        assert [(a["start_node"], a["end_node"]) for a in doc["agents"]] == [(1, 1)] * 3
        assert doc["options"] == {"return_to_end": True, "objective": "min_max", "time_limit": 4.0}
        assert problems(doc) == []
        result = solve(doc, checker)
        served = sorted(p for route in result["routes"] for p in route["path"][1:-1])
        assert served == [1, 2, 3, 4, 5, 6]  # positions of the nodes 2..7

    def test_depot_option_moves_the_depot(self, tmp_path, checker):
        doc = convert(tmp_path, "seven_points.tsp", "--agents", "2", "--depot", "4")
        assert depots_of(doc) == {4}
        assert all(a["start_node"] == a["end_node"] == 4 for a in doc["agents"])
        assert doc["options"]["objective"] == "min_sum"  # the format's default, written out
        result = solve(doc, checker)
        assert all(route["path"][0] == route["path"][-1] == 3 for route in result["routes"] if route["path"])

    def test_explicit_full_matrix_is_kept_as_it_is(self, tmp_path, checker):
        doc = convert(tmp_path, "five_full_matrix.tsp", "--agents", "2")
        assert doc["costs"]["truck"] == FIVE_FULL_MATRIX  # asymmetric: a transposed copy would differ
        assert all((node["x"], node["y"], node["z"]) == (0, 0, 0) for node in doc["nodes"])
        assert problems(doc) == []
        result = solve(doc, checker)
        assert result["statistics"]["sum_cost"] > 0

    def test_costs_at_or_above_the_default_threshold_raise_missing_cost(self, tmp_path, checker):
        doc = convert(tmp_path, "far_points.tsp", "--agents", "2")
        largest = max(max(row) for row in doc["costs"]["truck"])
        assert largest > 9999
        assert doc["options"]["missing_cost"] == 99999.0 > largest
        assert problems(doc) == []
        result = solve(doc, checker)
        assert result["statistics"]["max_cost"] > 9999  # real distances, not scaled
        # Without the raised threshold those arcs would be no connection at all.
        del doc["options"]["missing_cost"]
        assert core.solve_json_str(json.dumps(doc), 0.5)["status"] == "failed"


class TestVrplib:
    def test_depot_section_demands_and_capacity(self, tmp_path, checker):
        doc = convert(tmp_path, "six_cvrp.vrp", "--agents", "2")
        assert depots_of(doc) == {3}
        assert all(a["start_node"] == a["end_node"] == 3 and a["capacity"] == 12 for a in doc["agents"])
        assert [node["demand"] for node in doc["nodes"]] == [4, 3, 0, 5, 6, 2]
        assert doc["costs"]["truck"][2][0] == pytest.approx(math.dist((5, 5), (1, 1)))
        assert problems(doc) == []
        solve(doc, checker)

    def test_triangular_matrix_is_expanded_and_display_coordinates_kept(self, tmp_path, checker):
        doc = convert(tmp_path, "four_lower_row.vrp", "--agents", "1")
        assert doc["costs"]["truck"] == [[0, 3, 5.5, 7], [3, 0, 2, 6], [5.5, 2, 0, 4], [7, 6, 4, 0]]
        assert [(node["x"], node["y"]) for node in doc["nodes"]] == [(0, 0), (3, 0), (3, 2), (0, 4)]
        assert depots_of(doc) == {2}
        result = solve(doc, checker)
        assert result["statistics"]["sum_cost"] == pytest.approx(3 + 7 + 4 + 2)  # 2-1-4-3-2 is the best tour


class TestRefusals:
    @pytest.mark.parametrize(
        "name, options, message",
        [
            ("three_geo.tsp", ("--agents", "1"), "EDGE_WEIGHT_TYPE GEO is not supported"),
            ("seven_points.tsp", ("--agents", "2", "--depot", "8"), "--depot 8 names no node; the nodes are numbered 1 to 7"),
            ("missing.tsp", ("--agents", "2"), "cannot read"),
        ],
    )
    def test_bad_files_and_depots_give_one_line_and_status_2(self, tmp_path, name, options, message):
        out = tmp_path / "out.json"
        completed = run_cli("convert", str(DATA / name), "-o", str(out), *options, cwd=tmp_path)
        assert completed.returncode == 2
        assert completed.stderr.startswith("kvr-mtsp: error: ") and message in completed.stderr
        assert len(completed.stderr.splitlines()) == 1
        assert not out.exists()


def test_benchmark_builder_reads_through_the_converter_unchanged(tmp_path):
    """The benchmark instances are built with the package's reader and distances; a rebuilt one is byte-identical."""
    name = "eil51-het-t2d2-minmax"
    make_instances.main(["--out", str(tmp_path), "--only", name])
    committed = Path(make_instances.INSTANCE_DIR / f"{name}.json").read_bytes()
    assert (tmp_path / f"{name}.json").read_bytes() == committed
