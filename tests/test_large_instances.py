"""Instances larger than the focal search supports: solved by the improvement
engine alone when "improve" is on, refused otherwise; the benchmark's seeded
generator of such instances."""
from __future__ import annotations

import json

import pytest

import _kvr_core as core
from kvr_mtsp.checker import check_solution
from benchmarks.generate import generate, points
from benchmarks.suites import GeneratedRecipe

ENGINE_LINE = (
    "[improve] instance has {n} nodes, more than the focal search supports (256): the focal search "
    "is skipped and the improvement engine builds its own starting solutions"
)


def large_doc(recipe: GeneratedRecipe, time_limit: float, max_iterations: int = 0) -> dict:
    doc = generate(recipe)
    doc["options"].update(improve=True, seed=3, time_limit=time_limit, max_iterations=max_iterations)
    return doc


def routes_of(result: dict, m: int) -> tuple[list[list[int]], list[float]]:
    by_agent = {r["agent_id"]: r for r in result["routes"]}
    ordered = [by_agent[k] for k in range(m)]
    return [r["path"] for r in ordered], [r["cost"] for r in ordered]


@pytest.mark.parametrize(
    "recipe, time_limit, max_iterations",
    [
        (GeneratedRecipe("rand", 300, "plain", "min_max", 5, seed=4), 60.0, 2),
        (GeneratedRecipe("clus", 300, "plain", "min_sum", 5, seed=5), 60.0, 2),
        (GeneratedRecipe("rand", 300, "het", "min_max", 2, 2, seed=6), 60.0, 2),
        (GeneratedRecipe("rand", 600, "plain", "min_max", 10, seed=7), 2.0, 0),
        (GeneratedRecipe("clus", 600, "het", "min_sum", 3, 3, seed=8), 2.0, 0),
    ],
    ids=lambda value: getattr(value, "name", None),
)
def test_engine_alone_solves_large_instances_and_the_checker_accepts(recipe, time_limit, max_iterations, capfd):
    doc = large_doc(recipe, time_limit, max_iterations)
    result = core.solve_json_str(json.dumps(doc), time_limit)
    err = capfd.readouterr().err
    # One line says the focal search is skipped; the per-node warnings of
    # documents without assignment constraints are the only other lines.
    notes = [line for line in err.splitlines() if line.startswith("[improve]")]
    assert notes == [ENGINE_LINE.format(n=recipe.n)]
    assert result["status"] == "success"
    paths, costs = routes_of(result, recipe.m)
    report = check_solution(doc, paths, costs)
    assert report.feasible, report.errors
    stats = result["statistics"]
    kind = "max_cost" if recipe.objective == "min_max" else "sum_cost"
    assert stats[kind] == pytest.approx(report.objective, rel=1e-9)
    # The anytime list improves strictly and ends at the returned value.
    values = [point[kind] for point in result["anytime"]]
    assert values and all(b < a for a, b in zip(values, values[1:]))
    assert values[-1] == pytest.approx(report.objective, rel=1e-9)


def test_more_than_256_nodes_without_the_engine_keep_their_value_error():
    doc = generate(GeneratedRecipe("rand", 257, "plain", "min_max", 2, seed=1))
    doc["options"]["improve"] = False
    expected = (
        "instance has 257 nodes, but the solver supports at most 256; set the option \"improve\" "
        "to true to solve larger instances with the improvement engine"
    )
    with pytest.raises(ValueError) as raised:
        core.solve_json_str(json.dumps(doc), 1.0)
    assert str(raised.value) == expected


def test_the_limit_itself_still_runs_the_focal_search_first(capfd):
    """256 nodes with "improve": no engine-only line, the focal search runs."""
    doc = large_doc(GeneratedRecipe("rand", 256, "plain", "min_max", 3, seed=2), 2.0)
    result = core.solve_json_str(json.dumps(doc), 2.0)
    assert not [line for line in capfd.readouterr().err.splitlines() if line.startswith("[improve]")]
    assert result["status"] in ("success", "failed")


class TestGenerator:
    def test_the_same_seed_gives_the_same_document(self):
        for recipe in (GeneratedRecipe("rand", 60, "plain", "min_max", 5, seed=9),
                       GeneratedRecipe("clus", 60, "het", "min_sum", 2, 3, seed=9)):
            assert json.dumps(generate(recipe)) == json.dumps(generate(recipe))

    def test_other_seeds_and_kinds_give_other_points(self):
        assert points("rand", 50, 1) != points("rand", 50, 2)
        assert points("clus", 50, 1) != points("rand", 50, 1)
        assert points("clus", 50, 1)[0] == (500.0, 500.0)  # the depot in the middle

    def test_documents_hold_full_matrices_per_type_and_the_variant(self):
        doc = generate(GeneratedRecipe("clus", 40, "het", "min_max", 2, 2, seed=3))
        assert doc["name"] == "clus40-het-t2d2-minmax"
        assert sorted(doc["costs"]) == ["drone", "truck"]
        for matrix in doc["costs"].values():
            assert len(matrix) == 40 and all(len(row) == 40 for row in matrix)
        truck, drone = doc["costs"]["truck"], doc["costs"]["drone"]
        assert all(truck[i][i] == 0 for i in range(40))
        assert drone[1][2] == pytest.approx(truck[1][2] / 2)
        assert all(0 <= x <= 1000 and 0 <= y <= 1000 for x, y in points("clus", 400, 3))
        assert [a["type"] for a in doc["agents"]] == ["truck", "truck", "drone", "drone"]
        assert doc["options"]["objective"] == "min_max"


def test_benchmark_command_runs_large_instances_with_the_engine_alone(tmp_path):
    """A document above 256 nodes: the focal column is n/a, our engine solves
    from the prepared file and its first-solution time is reported."""
    import subprocess
    import sys
    from pathlib import Path

    root = Path(__file__).resolve().parent.parent
    doc = generate(GeneratedRecipe("clus", 300, "plain", "min_max", 3, seed=2))
    instance = tmp_path / "clus300.json"
    instance.write_text(json.dumps(doc))
    out = tmp_path / "out"
    cmd = [sys.executable, "-m", "benchmarks.run", "--instance-file", str(instance), "--budget", "1",
           "--no-peer", "--no-plots", "--out", str(out)]
    proc = subprocess.run(cmd, cwd=root, capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stderr
    [row] = json.loads((out / "results.json").read_text())["instances"]
    assert row["focal"]["status"] == "n/a" and "256" in row["focal"]["reason"]
    engine = row["engine"]
    assert engine["status"] == "ok", engine
    assert 0 <= engine["first_solution_s"] <= engine["last_improvement_s"] <= 1.5
    prepared = json.loads((out / "runs" / "clus300.engine-input.json").read_text())
    assert prepared["options"]["improve"] is True and prepared["options"]["seed"] == 0
