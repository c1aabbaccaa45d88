"""Documents Python's own JSON reader would choke on (nested too deeply,
numbers beyond a double, a trailing NUL byte): every entry of the package
reports them in one line instead of a traceback, and none of them drops the
settings it was given."""
from __future__ import annotations

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

import kvr_mtsp
from kvr_mtsp.instance import InstanceView
from kvr_mtsp.json_ints import as_u64
from kvr_mtsp.json_text import JsonTextError, loads

ROOT = Path(__file__).resolve().parent.parent
DEPTH = 100_000
DEEP_TEXT = '{"nodes": ' + "[" * DEPTH + "]" * DEPTH + "}"
DEEP_MESSAGE = "arrays and objects are nested too deeply to read"
HUGE = "1" + "0" * 400


def huge_id_text(doc: dict) -> str:
    """`doc` with node 0's id written as an integer of 401 digits."""
    text = json.dumps(doc)
    assert '"id": 0,' in text
    return text.replace('"id": 0,', f'"id": {HUGE},', 1)


def run_cli(*args: str, cwd: Path) -> subprocess.CompletedProcess:
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [str(ROOT), os.environ.get("PYTHONPATH")])))
    return subprocess.run([sys.executable, "-m", "kvr_mtsp", *args], cwd=cwd, env=env, capture_output=True,
                          text=True, timeout=120)


class TestReader:
    def test_reads_as_the_solvers_parser_reads(self):
        # The parser's input ends at a NUL byte and skips a byte-order mark.
        assert loads(b'\xef\xbb\xbf{"a": [1, 2.5]}\0garbage') == {"a": [1, 2.5]}
        # Integers of 64 bits and beyond stay exact; json_ints converts them.
        assert loads(f'[{2**70}, 1e308, 0.{"0" * 400}1]') == [2**70, 1e308, 1e-401]

    @pytest.mark.parametrize("text", [HUGE, "-" + HUGE, "1e309", "-2.5E+400", "1" * 5000])
    def test_numbers_beyond_a_double_are_refused(self, text):
        with pytest.raises(JsonTextError, match=r"^number overflow parsing '") as caught:
            loads(f'{{"x": {text}}}')
        assert not caught.value.syntax
        assert len(str(caught.value)) < 80  # the literal is shortened

    def test_deep_nesting_is_refused_and_syntax_errors_are_told_apart(self):
        with pytest.raises(JsonTextError, match=DEEP_MESSAGE) as deep:
            loads(DEEP_TEXT)
        assert not deep.value.syntax
        for text in ('{"nodes": [', "[NaN]", b"\xff{}"):
            with pytest.raises(JsonTextError) as bad:
                loads(text)
            assert bad.value.syntax

    def test_integers_beyond_a_double_from_a_dict_are_no_ids(self):
        with pytest.raises(ValueError, match="number overflow"):
            as_u64(10**400)
        view = InstanceView({"nodes": [{"id": 10**400}, {"id": 3}], "agents": []})
        assert view.node_ids == [None, 3]


class TestEntries:
    @pytest.fixture
    def bad_files(self, make_doc, tmp_path):
        doc = make_doc(3)
        deep = tmp_path / "deep.json"
        deep.write_text(DEEP_TEXT)
        huge = tmp_path / "huge.json"
        huge.write_text(huge_id_text(doc))
        return {deep: DEEP_MESSAGE, huge: "number overflow parsing '1000"}

    def test_solve_and_validate_give_one_line(self, bad_files, tmp_path):
        for path, message in bad_files.items():
            for command in ("solve", "validate"):
                completed = run_cli(command, str(path), cwd=tmp_path)
                assert completed.returncode == 2, completed.stderr
                [line] = completed.stderr.splitlines()
                assert line.startswith(f"kvr-mtsp: error: {path}: {message}"), line

    def test_package_solve_gives_the_modules_one_line_error(self, bad_files):
        # kvr_mtsp.solve leaves a file or a text to the module's reader, which reads any depth.
        expected = {"deep.json": r"^\[json.exception.type_error.304\] cannot use at\(\) with array$",
                    "huge.json": r"^\[json.exception.out_of_range.406\] number overflow parsing '1000"}
        for path in bad_files:
            for instance in (path, str(path), path.read_text()):
                with pytest.raises(RuntimeError, match=expected[path.name]):
                    kvr_mtsp.solve(instance, time_limit=1)
        deep: list = []
        inner = deep
        for _ in range(DEPTH):
            inner.append([])
            inner = inner[0]
        with pytest.raises(ValueError, match="nested too deeply to write as JSON"):
            kvr_mtsp.solve({"nodes": deep}, time_limit=1)

    def test_a_trailing_nul_byte_keeps_the_flags(self, make_doc, tmp_path):
        # Costs above the default missing cost: only --missing-cost makes them arcs.
        doc = make_doc(3)
        doc["costs"]["truck"] = [[c * 10000 for c in row] for row in doc["costs"]["truck"]]
        instance = tmp_path / "nul.json"
        instance.write_bytes(json.dumps(doc).encode() + b"\0")
        completed = run_cli("solve", str(instance), "--missing-cost", "1e9", "--time-limit", "1", "--quiet",
                           cwd=tmp_path)
        assert completed.returncode == 0, completed.stderr
        assert "status       success" in completed.stdout
        assert kvr_mtsp.solve(str(instance), improve=False).solved is False  # the document's own missing cost
