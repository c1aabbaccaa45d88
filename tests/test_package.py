"""The kvr_mtsp package: what it re-exports, its version, and the reader's
number conversions (kvr_mtsp.json_ints, kvr_mtsp.checker) against the
solver's own loader."""
from __future__ import annotations

import importlib.metadata
import json
import tomllib
from pathlib import Path

import pytest

import _kvr_core as core
import kvr_mtsp
from kvr_mtsp.checker import InvalidInstance, ShapeError, read_instance
from kvr_mtsp.json_ints import as_i64_option, as_u64

ROOT = Path(__file__).resolve().parent.parent


API_NAMES = {"solve", "SolveResult", "Route", "Stop", "AnytimePoint", "Statistics"}
BATCH_NAMES = {"solve_many", "BatchOutcome"}
CHECK_NAMES = {"check", "Verdict", "Violation"}
CONSOLE_NAMES = {"SolverWarning"}
PACKAGE_NAMES = API_NAMES | BATCH_NAMES | CHECK_NAMES | CONSOLE_NAMES


def test_reexports_are_the_extension_and_api_objects():
    from kvr_mtsp import api, batch, checker, console

    homes = [(API_NAMES, api), (BATCH_NAMES, batch), (CHECK_NAMES, checker), (CONSOLE_NAMES, console)]
    extension = {name for name in vars(core) if not name.startswith("_")}
    assert set(kvr_mtsp.__all__) == extension | PACKAGE_NAMES
    for name in kvr_mtsp.__all__:
        home = next((module for names, module in homes if name in names), core)
        assert getattr(kvr_mtsp, name) is getattr(home, name), name
    namespace: dict = {}
    exec("from kvr_mtsp import *", namespace)
    assert {name for name in namespace if not name.startswith("__")} == extension | PACKAGE_NAMES
    assert extension | PACKAGE_NAMES <= set(dir(kvr_mtsp))
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


def one_route(length: float, limit) -> dict:
    """One agent whose only route, out to node 1 and back, costs `length`."""
    return {
        "nodes": [{"id": 0, "x": 0, "y": 0, "z": 0}, {"id": 1, "x": 5, "y": 0, "z": 0}],
        "agents": [{"id": 4, "type": "t", "start_node": 0, "end_node": 0, "max_length": limit}],
        "costs": {"t": [[0.0, length / 2], [length / 2, 0.0]]},
        "options": {"missing_cost": 1e12},  # costs of 3.4e9 are arcs
    }


# (route length, limit): the limit is kept as the number given, 0 or less
# meaning none. A 32-bit reading made the first two "no limit" (3000000000
# wraps negative, 0.001 truncates to 0) and cut 10.9 to 10.
@pytest.mark.parametrize("length, limit", [
    (6.8e9, 3000000000), (10, 0.001), (10.4, 10.9), (10.4, 10.39), (2**33, 2**32 + 5),
    (10, 5), (10, 10), (10, 12), (10, -1), (10, 0), (10, -2.5), (10, 2**63 + 5), (10, 2**70 + 5),
    (10, 1e10), (10, True), (10, False), (1, True),
], ids=repr)
def test_route_length_limits_are_kept_as_given(length, limit):
    doc = one_route(length, limit)
    kept = float(limit)
    expected = "success" if kept <= 0 or length <= kept else "failed"
    result = solve(doc)
    assert result["status"] == expected
    # The independent checker reads the limit the same way.
    assert read_instance(doc).agents[0].time_limit == kept


def test_limits_through_the_agent_object():
    """The object API holds the limit as a float already; a NaN one, which
    every comparison would ignore, is refused naming the agent."""
    def solver_for(limit: float) -> core.Solver:
        problem = core.Problem()
        for node_id in (0, 1):
            node = core.Node()
            node.id = node_id
            problem.add_node(node)
        agent = core.Agent()
        agent.id, agent.type, agent.time_limit, agent.capacity_limit = 4, "t", limit, limit
        problem.add_agent(agent, 4)
        problem.set_cost_matrix("t", [[0.0, 3.4e9], [3.4e9, 0.0]])  # the only route costs 6.8e9
        options = core.Options()
        options.missing_cost = 1e12
        return core.Solver(problem, options)

    for limit, found in ((3e9, 0), (0.001, 0), (7e9, 1), (float("inf"), 1), (-1.0, 1)):
        assert solver_for(limit).solve() == found, limit
    with pytest.raises(ValueError, match=r"^agent 4 \(agents\[0\]\) has a time_limit of nan"):
        solver_for(float("nan"))


# "seed", "max_iterations" and "max_no_improvement": in the signed 64-bit range they are read
# (floats truncated toward zero); outside it, where a float-to-integer cast
# is undefined, the reader refuses them naming the option.
@pytest.mark.parametrize("value", [0, -5, 2.9, -2.9, 2**63 - 1, -(2**63), -9.2233720368547758e18,
                                   2**63, 2**64 - 1, 2**64 + 5, 1e19, 1e300, -1e300, -9.3e18], ids=repr)
@pytest.mark.parametrize("key", ["seed", "max_iterations", "max_no_improvement"])
def test_engine_options_outside_64_bits_are_refused(key, value):
    doc = one_route(10, 0)
    doc["options"][key] = value
    try:
        expected = as_i64_option(value, key)
    except ValueError:
        expected = None
    if expected is None:
        with pytest.raises(ValueError, match=f'^option "{key}" must be a whole number from -9223372036854775808 to'):
            solve(doc)
        with pytest.raises(InvalidInstance, match=key):
            read_instance(doc)
    else:
        assert expected == int(value)
        assert solve(doc)["status"] == "success"
        read_instance(doc)


def test_engine_options_are_no_booleans():
    doc = one_route(10, 0)
    doc["options"]["seed"] = True
    with pytest.raises(RuntimeError, match=r"type must be number, but is boolean"):
        solve(doc)
    with pytest.raises(ShapeError):
        read_instance(doc)


def test_non_numbers_are_no_ids():
    for value in ("7", None, [7]):
        with pytest.raises(TypeError):
            as_u64(value)
        with pytest.raises(TypeError):
            as_i64_option(value, "seed")
