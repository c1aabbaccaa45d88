"""The kvr_mtsp package: what it re-exports, its version, and the reader's
integer conversions (kvr_mtsp.json_ints) against the solver's own loader."""
from __future__ import annotations

import importlib.metadata
import json
import tomllib
from pathlib import Path

import pytest

import _kvr_core as core
import kvr_mtsp
from kvr_mtsp.json_ints import as_i32, as_u64

ROOT = Path(__file__).resolve().parent.parent


API_NAMES = {"solve", "SolveResult", "Route", "AnytimePoint", "Statistics"}
BATCH_NAMES = {"solve_many", "BatchOutcome"}


def test_reexports_are_the_extension_and_api_objects():
    from kvr_mtsp import api, batch

    extension = {name for name in vars(core) if not name.startswith("_")}
    assert set(kvr_mtsp.__all__) == extension | API_NAMES | BATCH_NAMES
    for name in kvr_mtsp.__all__:
        home = api if name in API_NAMES else batch if name in BATCH_NAMES else core
        assert getattr(kvr_mtsp, name) is getattr(home, name), name
    namespace: dict = {}
    exec("from kvr_mtsp import *", namespace)
    assert {name for name in namespace if not name.startswith("__")} == extension | API_NAMES | BATCH_NAMES
    assert extension | API_NAMES | BATCH_NAMES <= set(dir(kvr_mtsp))
    with pytest.raises(AttributeError, match="no attribute 'solve_everything'"):
        kvr_mtsp.solve_everything  # noqa: B018


def test_solves_through_the_package(make_doc, checker):
    doc = make_doc(4)
    result = kvr_mtsp.solve_json_str(json.dumps(doc), time_limit=5)
    assert result["status"] == "success"
    assert checker(doc, result["routes"]) == []

    options = kvr_mtsp.Options()
    options.objective = kvr_mtsp.ObjectiveType.MinMax
    assert isinstance(options, core.Options) and options.objective == core.ObjectiveType.MinMax


def test_version_is_declared_once():
    with open(ROOT / "pyproject.toml", "rb") as stream:
        declared = tomllib.load(stream)["project"]["version"]
    assert kvr_mtsp.__version__ == importlib.metadata.version("kvr-mtsp") == declared


def solve(doc: dict) -> dict:
    return core.solve_json_str(json.dumps(doc), 5.0)


# Values that each conversion rule decides: wrap-around of negative and large
# integers, literals beyond 64 bits (read as doubles), truncation and clamping
# of floats, booleans.
AWKWARD_IDS = [7, -1, -(2**63), 2**63 + 9, 2**64 - 1, 2**64, 2**70 + 5, 10**30, -(10**30),
               2.9, -2.5, 0.5, 1e19, 1e300, True, False]


@pytest.mark.parametrize("value", AWKWARD_IDS, ids=repr)
def test_ids_convert_as_the_loader_converts_them(value):
    # Node 0 carries the awkward id and the agent refers to it by the converted
    # one: an unknown node id would raise IndexError.
    doc = {
        "nodes": [{"id": value, "x": 0, "y": 0, "z": 0}, {"id": 12345, "x": 1, "y": 0, "z": 0}],
        "agents": [{"id": value, "type": "t", "start_node": as_u64(value), "end_node": as_u64(value)}],
        "costs": {"t": [[0.0, 1.0], [1.0, 0.0]]},
    }
    [route] = solve(doc)["routes"]
    assert route["agent_id"] == as_u64(value)
    assert route["path"] == [0, 1, 0]


@pytest.mark.parametrize("value", [5, 10, 12, -1, 0, 2**31 + 5, 2**32 + 5, 2**32 + 12, 2**63 + 5, 2**70 + 5,
                                   -(2**70), 9.9, 10.0, 1e10, -1e10, True, False], ids=repr)
def test_route_length_limits_convert_as_the_loader_converts_them(value):
    # The only route has length 10; a limit of 0 or less is no limit.
    doc = {
        "nodes": [{"id": 0, "x": 0, "y": 0, "z": 0}, {"id": 1, "x": 5, "y": 0, "z": 0}],
        "agents": [{"id": 0, "type": "t", "start_node": 0, "end_node": 0, "max_length": value}],
        "costs": {"t": [[0.0, 5.0], [5.0, 0.0]]},
    }
    limit = as_i32(value)
    assert solve(doc)["status"] == ("success" if limit <= 0 or limit >= 10 else "failed")


def test_non_numbers_are_no_ids():
    for value in ("7", None, [7]):
        with pytest.raises(TypeError):
            as_u64(value)
        with pytest.raises(TypeError):
            as_i32(value)
