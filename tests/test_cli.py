"""The kvr-mtsp command line, run as a separate process."""
from __future__ import annotations

import json
import os
import subprocess
import sys
import tomllib
from pathlib import Path

import pytest

import _kvr_core as core

ROOT = Path(__file__).resolve().parent.parent


def run_cli(*args: str, cwd: Path) -> subprocess.CompletedProcess:
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [str(ROOT), env.get("PYTHONPATH")]))
    return subprocess.run(
        [sys.executable, "-m", "kvr_mtsp", *args], cwd=cwd, env=env, capture_output=True, text=True, timeout=120
    )


def write(path: Path, doc) -> Path:
    path.write_text(doc if isinstance(doc, str) else json.dumps(doc))
    return path


def lines_of(text: str) -> list[str]:
    return text.splitlines()


class TestSummary:
    def test_routes_are_shown_with_node_ids(self, make_doc, tmp_path):
        doc = make_doc(3, agent_ids=(5, 8), node_ids=(10, 20, 30, 40))
        instance = write(tmp_path / "ids.json", doc)
        expected = core.solve_json_file(str(instance))
        completed = run_cli("solve", str(instance), cwd=tmp_path)
        assert completed.returncode == 0, completed.stderr
        out = lines_of(completed.stdout)
        assert "status       success (search finished within the time limit)" in out
        assert "objective    min_max (minimise the longest route)" in out
        shown_max = next(line for line in out if line.startswith("max cost "))
        assert float(shown_max.split()[-1]) == pytest.approx(expected["statistics"]["max_cost"], rel=1e-9)
        ids = [10, 20, 30, 40]
        for route in expected["routes"]:
            shown = " -> ".join(str(ids[p]) for p in route["path"])
            assert any(f"agent {route['agent_id']} [truck]" in line and line.endswith(shown) for line in out), shown
        assert any(line.startswith("solve time") for line in out)
        assert f"search       {expected['statistics']['n_generated']} search nodes generated" in completed.stdout
        assert len([line for line in out if line.startswith("  ") and " s: " in line]) == len(expected["anytime"])

    def test_objective_and_limit_come_from_the_document(self, make_doc, tmp_path):
        doc = make_doc(3, objective="MIN_SUM", time_limit=7)
        instance = write(tmp_path / "sum.json", doc)
        out = lines_of(run_cli("solve", str(instance), cwd=tmp_path).stdout)
        assert "objective    min_sum (minimise the total of all routes)" in out
        assert "time limit   7.0 s processor time (from the instance)" in out

    def test_time_limit_option_overrides_the_document(self, make_doc, tmp_path):
        doc = make_doc(4, time_limit=-1)
        instance = write(tmp_path / "negative.json", doc)
        kept = run_cli("solve", str(instance), cwd=tmp_path)
        assert kept.returncode == 0
        assert "status       failed (time limit reached before any solution)" in lines_of(kept.stdout)
        assert any(line.endswith("(no route)") for line in lines_of(kept.stdout))
        replaced = run_cli("solve", str(instance), "--time-limit", "5", cwd=tmp_path)
        assert "status       success (search finished within the time limit)" in lines_of(replaced.stdout)
        assert "time limit   5.0 s processor time (from --time-limit)" in lines_of(replaced.stdout)


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
    def test_writes_the_result_dictionary(self, example_path, tmp_path):
        target = tmp_path / "out"
        target.mkdir()
        completed = run_cli("solve", str(example_path), "--output", str(target / "result.json"), cwd=tmp_path)
        assert completed.returncode == 0, completed.stderr
        written = json.loads((target / "result.json").read_text())
        direct = core.solve_json_file(str(example_path))
        assert list(written) == list(direct)
        assert written["routes"] == direct["routes"]
        assert (written["status"], written["timeout"]) == (direct["status"], direct["timeout"])
        assert list(written["statistics"]) == list(direct["statistics"])

    def test_unwritable_output_is_reported(self, make_doc, tmp_path):
        instance = write(tmp_path / "doc.json", make_doc(3))
        completed = run_cli("solve", str(instance), "--output", str(tmp_path), cwd=tmp_path)
        assert completed.returncode == 1
        assert completed.stderr.startswith("kvr-mtsp: error: cannot write ")
        assert "Traceback" not in completed.stderr


def _too_many_nodes() -> dict:
    return {
        "nodes": [{"id": i, "x": 0, "y": 0, "z": 0} for i in range(257)],
        "agents": [{"id": 0, "type": "truck", "start_node": 0, "end_node": 0}],
    }


class TestBadInput:
    @pytest.mark.parametrize(
        "content, message",
        [
            (None, "Cannot open file: "),
            ("", "attempting to parse an empty input"),
            ('{"nodes": [', "[json.exception.parse_error.101] parse error at line 1"),
            ({"nodes": []}, "[json.exception.out_of_range.403] key 'agents' not found"),
            (
                {"nodes": [{"id": 0, "x": 0, "y": 0, "z": 0}], "agents": [{"id": 1, "type": "t", "start_node": 3, "end_node": 0}]},
                "unordered_map::at: key not found",
            ),
            (_too_many_nodes(), "257"),
        ],
        ids=["missing", "empty", "malformed", "mis-shaped", "unknown-id", "too-many-nodes"],
    )
    def test_one_line_error_and_status_2(self, tmp_path, content, message):
        instance = tmp_path / "instance.json"
        if content is not None:
            write(instance, content)
        completed = run_cli("solve", str(instance), cwd=tmp_path)
        assert completed.returncode == 2
        errors = [line for line in lines_of(completed.stderr) if not line.startswith("[warning] ")]
        assert len(errors) == 1 and errors[0].startswith("kvr-mtsp: error: ")
        assert message in errors[0]
        assert completed.stdout == ""

    def test_usage_errors_exit_2(self, tmp_path):
        assert run_cli(cwd=tmp_path).returncode == 2
        assert run_cli("solve", "x.json", "--time-limit", "soon", cwd=tmp_path).returncode == 2


def test_console_script_is_declared():
    with open(ROOT / "pyproject.toml", "rb") as stream:
        scripts = tomllib.load(stream)["project"]["scripts"]
    assert scripts == {"kvr-mtsp": "kvr_mtsp.cli:main"}
    from kvr_mtsp.cli import main

    assert callable(main)
