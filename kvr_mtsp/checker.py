"""Independent checker for results of JSON instance documents.

    kvr-mtsp check INSTANCE.json RESULT.json
    verdict = kvr_mtsp.check("instance.json", "result.json")   # or result.check()
    for violation in verdict.violations:
        print(violation.kind, violation.message)

It reads the instance document itself (with the package's JSON reader,
`kvr_mtsp.json_text`), the way the solver's loader and its construction
read it, and never uses the solver's code: `read_instance` applies the
loader's conversions (ids unsigned 64-bit, "seed" and "max_iterations"
signed 64-bit, route-length limits and capacities the numbers given;
booleans as 1 and 0 except in the options) and raises `ShapeError` for a
document the loader rejects, `InvalidInstance` for one whose "seed" or
"max_iterations" lies outside the signed 64-bit range, whose ids repeat,
whose costs are negative or whose "missing_cost" is not positive (with
"enforce_capacity": whose demands are negative or not finite, or whose
capacities can bind without "improve"; also precedence pairs enforced
without "improve"), and
`UnknownReference` for one that names unknown nodes or types, in the order
the solver construction checks them. `parse_json` reads a text as the
solver's parser does, integers beyond the 64-bit ranges as doubles.

Routes are lists of node positions (indices into the document's "nodes").
Everything is recomputed along each route: start and end nodes, every target
(a node that is nobody's start or end) served exactly once, the agent
types allowed per node, depots of other agents, arcs that exist (below the
"missing_cost" threshold, 9999 by default), the cost from the agent type's
matrix with waiting for time windows, at the start node too (with open
routes, `return_to_end: false`, the leg back to the own start or end node
is free), window ends and route-length limits, waiting included, and with
the option "enforce_capacity" the demands of each route's targets against
its agent's capacity (0 or less: none). A reported cost (and, with that
option, a reported "load") must equal the recomputed one, and so must the
objective. A route's reported schedule ("stops", the option "schedule") must
be the walk's: per node its arrival, start of service (after waiting for
its window or precedence partner), departure (service takes no time) and,
when given, the load after it.

With the option "enforce_precedence" true, the precedence pairs of
"sequence" constraints hold too: a "same" pair on one route in order, a
plain pair in order on one route, a "diff" pair on two routes; across
routes the service of `after` starts no earlier than that of `before`,
the agent waiting (the wait is part of its cost). The start times of all
routes are found by repeating the walks with the partners' start times
until nothing changes; routes that wait for each other in a cycle (found
on the graph of route order and pairs) have no schedule.

Entry points, by the shape of what is checked:
- `check`: any result the package writes (the module's result document,
  the command line's --output, a batch result file, a SolveResult) against
  an instance (a path, a JSON text, a dict); gives a `Verdict` whose
  `violations` name each fault by its kind (`KINDS`);
- `check_result`: exactly the module's result dictionary (its keys, status,
  statistics, anytime log, then its routes);
- `check_routes`: only its "routes" list (agent ids, paths, costs);
- `check_solution`: bare paths, one per agent, as the benchmarks have them
  (an idle agent may have an empty path); gives the recomputed costs too;
- `route_errors`: one agent's route alone, with its recomputed cost;
- `walk_cost`: one agent's cost along a path or a prefix of one, or None
  when it breaks a window, a limit or an arc;
- `foreign_routes`: why routes cannot belong to an instance (agents or
  nodes it does not have), shared with the plot.

The same rules hold for the solver on any document it accepts (the fuzz
tests) and for the peers on the benchmark instances.

Pure Python on purpose, like `kvr_mtsp.json_ints`: it loads without the
solver extension.
"""
from __future__ import annotations

import argparse
import math
import os
import sys
from collections import Counter
from collections.abc import Iterable, Mapping
from dataclasses import dataclass, field
from typing import Any

from kvr_mtsp import sources
from kvr_mtsp.json_ints import as_i64_option, as_u64
from kvr_mtsp.json_text import JsonTextError, loads
from kvr_mtsp.usage import EXIT_BAD_INPUT, PROG

NO_CONNECTION = 9999.0
COST_REL = 1e-9  # relative difference tolerated between reported and recomputed costs ...
COST_ABS = 1e-6  # ... but never more than this
SOLUTION_SLACK = 1e-9  # check_solution: slack on window ends and limits, relative to their size
RESULT_KEYS = ["status", "timeout", "routes", "statistics", "anytime"]
ROUTE_KEYS = ["agent_id", "path", "cost"]
STATISTICS_KEYS = ["solve_time", "max_cost", "sum_cost", "n_generated", "n_expanded", "last_update_time"]


class ShapeError(Exception):
    """The loader must reject the document (RuntimeError in Python)."""


class UnknownReference(Exception):
    """The solver construction must reject the document (IndexError in Python)."""


class InvalidInstance(Exception):
    """The solver must reject the document (ValueError in Python): its
    reader a "seed" or "max_iterations" outside the signed 64-bit range, its
    construction precedence pairs enforced without "improve", repeated
    node or agent ids, a negative cost or a "missing_cost" that is not
    positive."""


def parse_json(text: str | bytes):
    """Strict JSON as the solver's parser reads it (`kvr_mtsp.json_text`:
    no NaN or Infinity, no number that overflows a double, a leading
    byte-order mark skipped), integers outside the 64-bit ranges stored as
    doubles, and no lone surrogate escapes (ValueError for those)."""
    return _conform(loads(text))


def _conform(value):
    """Integers beyond [-2^63, 2^64) as the doubles the parser stores; lone surrogates refused."""
    if isinstance(value, bool):
        return value
    if isinstance(value, int):
        return value if -(2**63) <= value < 2**64 else float(value)
    if isinstance(value, str):
        value.encode("utf-8")  # lone surrogates fail here
        return value
    if isinstance(value, list):
        return [_conform(item) for item in value]
    if isinstance(value, dict):
        return {_conform(key): _conform(item) for key, item in value.items()}
    return value


# Reading the document as the loader does.

def _u64(value) -> int:
    try:
        return as_u64(value)
    except TypeError as error:
        raise ShapeError(str(error)) from None


def _i64_option(options: dict, key: str) -> None:
    if key not in options:
        return
    try:
        as_i64_option(options[key], key)
    except TypeError as error:
        raise ShapeError(str(error)) from None
    except ValueError as error:
        raise InvalidInstance(str(error)) from None


def _double(value) -> float:
    if not isinstance(value, (int, float)) or isinstance(value, bool):
        raise ShapeError(f"number expected, got {value!r}")
    return float(value)


def _limit(value) -> float:
    """A route-length limit or capacity: the number given, booleans as 1 and 0."""
    return float(value) if isinstance(value, bool) else _double(value)


def _str(value) -> str:
    if not isinstance(value, str):
        raise ShapeError(f"string expected, got {value!r}")
    return value


def _bool(value) -> bool:
    if not isinstance(value, bool):
        raise ShapeError(f"boolean expected, got {value!r}")
    return value


def _array(value) -> list:
    if not isinstance(value, list):
        raise ShapeError(f"array expected, got {value!r}")
    return value


def _required(obj, key):
    if not isinstance(obj, dict):
        raise ShapeError(f"object expected for key {key!r}, got {obj!r}")
    if key not in obj:
        raise ShapeError(f"key {key!r} missing")
    return obj[key]


def _matrix(value) -> list[list[float]]:
    return [[_double(x) for x in _array(row)] for row in _array(value)]


def _is_min_max(objective) -> bool:
    return objective in ("min_max", "MIN_MAX")


def objective_kind(doc: dict) -> str:
    """"min_max" or "min_sum", as the document's options ask."""
    return "min_max" if _is_min_max(doc.get("options", {}).get("objective", "min_sum")) else "min_sum"


def constraint_items(doc: dict, kind: str) -> list[dict]:
    """The items of every constraint of `kind`, in document order."""
    return [item for c in doc.get("constraints", []) if c.get("kind") == kind for item in c.get("items", [])]


@dataclass
class InstanceAgent:
    id: int
    type_name: str
    start: int  # node position
    goal: int  # node position
    time_limit: float  # route-length limit, 0 or less for none
    type_index: int = -1  # what the solver uses: the type last registered for this id
    capacity: float = 0.0  # 0 or less for none


@dataclass
class Instance:
    node_ids: list[int]
    agents: list[InstanceAgent]
    type_names: list[str]
    matrices: dict[int, list[list[float]]]  # type index -> matrix
    allowed: list[set[int]]  # type indices per node position
    windows: dict[int, tuple[float, float]]  # node position -> (start, end)
    return_to_end: bool
    min_max: bool
    time_limit: float
    missing_cost: float = NO_CONNECTION  # arcs at or above it do not exist
    demands: list[float] = field(default_factory=list)  # per node position
    enforce_capacity: bool = False
    # (before, after, kind) by node position (None for an unknown id), kind
    # "same", "diff" or "plain"; honoured when `enforce_precedence`.
    pairs: list[tuple[int | None, int | None, str]] = field(default_factory=list)
    enforce_precedence: bool = False
    start_set: set[int] = field(default_factory=set)
    goal_set: set[int] = field(default_factory=set)

    @property
    def n(self) -> int:
        return len(self.node_ids)

    @property
    def objective_kind(self) -> str:
        return "min_max" if self.min_max else "min_sum"

    def arc(self, type_index: int, a: int, b: int) -> float:
        """Arc cost; an entry the type's matrix does not give is no connection."""
        matrix = self.matrices.get(type_index, [])
        if a < len(matrix) and b < len(matrix[a]):
            return matrix[a][b]
        return self.missing_cost


def read_instance(doc) -> Instance:
    """The instance as the solver sees it; raises ShapeError or UnknownReference."""
    nodes, demands = [], []
    for item in _array(_required(doc, "nodes")):
        node_id = _u64(_required(item, "id"))
        for key in ("x", "y", "z"):
            _double(_required(item, key))
        if "type" in item:
            _str(item["type"])
        demands.append(_double(item["demand"]) if "demand" in item else 0.0)
        nodes.append(node_id)

    raw_agents = []
    for item in _array(_required(doc, "agents")):
        agent_id = _u64(_required(item, "id"))
        type_name = _str(_required(item, "type"))
        start = _u64(_required(item, "start_node"))
        end = _u64(_required(item, "end_node"))
        capacity = _limit(item["capacity"]) if "capacity" in item else 0.0
        max_length = _limit(item["max_length"]) if "max_length" in item else 0.0
        raw_agents.append((agent_id, type_name, start, end, max_length, capacity))

    costs = {}
    if "costs" in doc:
        value = doc["costs"]
        if isinstance(value, dict):
            for name, matrix in value.items():
                costs[name] = _matrix(matrix)
        else:
            for i, matrix in enumerate(_array(value)):
                costs[str(i)] = _matrix(matrix)

    allowed_by_id: dict[int, list[str]] = {}
    windows_by_id: dict[int, tuple[float, float]] = {}
    pairs_by_id: list[tuple[int, int, str]] = []
    if "constraints" in doc:
        for constraint in _array(doc["constraints"]):
            kind = _str(_required(constraint, "kind"))
            if kind == "assignment":
                for item in _array(constraint.get("items", [])):
                    node = _u64(_required(item, "node"))
                    allowed_by_id[node] = [_str(name) for name in _array(_required(item, "types"))]
            elif kind == "timewindow":
                for item in _array(constraint.get("items", [])):
                    node = _u64(_required(item, "node"))
                    windows_by_id[node] = (_double(_required(item, "start")), _double(_required(item, "end")))
            elif kind == "sequence":
                for item in _array(constraint.get("precedence", [])):
                    before = _u64(_required(item, "before"))
                    after = _u64(_required(item, "after"))
                    pair_kind = _str(item["type"]) if "type" in item else "plain"
                    pairs_by_id.append((before, after, pair_kind if pair_kind in ("same", "diff") else "plain"))

    return_to_end, min_max, time_limit, missing_cost = True, False, 60.0, NO_CONNECTION
    enforce_capacity = improve = False
    enforce_precedence = False
    if "options" in doc:
        options = doc["options"]
        if not isinstance(options, dict):
            raise ShapeError(f"options must be an object, got {options!r}")
        return_to_end = _bool(options["return_to_end"]) if "return_to_end" in options else True
        min_max = _is_min_max(_str(options["objective"])) if "objective" in options else False
        time_limit = _double(options["time_limit"]) if "time_limit" in options else 60.0
        if "memory_limit_mb" in options:
            _double(options["memory_limit_mb"])
        improve = _bool(options["improve"]) if "improve" in options else False
        _i64_option(options, "seed")
        _i64_option(options, "max_iterations")
        _i64_option(options, "max_no_improvement")
        missing_cost = _double(options["missing_cost"]) if "missing_cost" in options else NO_CONNECTION
        enforce_capacity = _bool(options["enforce_capacity"]) if "enforce_capacity" in options else False
        if "enforce_precedence" in options:
            enforce_precedence = _bool(options["enforce_precedence"])
        # Only the improvement engine honours pairs: the solver refuses
        # enforced pairs without it, before anything else.
        if enforce_precedence and pairs_by_id and not improve:
            raise InvalidInstance("precedence pairs are enforced without the improvement engine")

    # Solver construction: the option, unique ids, costs that only add up,
    # then the references.
    if not missing_cost > 0:
        raise InvalidInstance(f"missing_cost {missing_cost!r} is not positive")
    for what, ids in (("node", nodes), ("agent", [a[0] for a in raw_agents])):
        first: dict[int, int] = {}
        for position, value in enumerate(ids):
            if value in first:
                raise InvalidInstance(f"{what} id {value} at positions {first[value]} and {position}")
            first[value] = position
    for name in sorted(costs):
        for r, row in enumerate(costs[name]):
            for c, cost in enumerate(row):
                if not cost >= 0:
                    raise InvalidInstance(f"cost {cost!r} of type {name!r} at row {r}, column {c}")
    if enforce_capacity:
        for position, demand in enumerate(demands):
            if not (demand >= 0 and math.isfinite(demand)):
                raise InvalidInstance(f"node {nodes[position]} has the demand {demand!r}")
        # Capacities that the targets' demands together can exceed are left
        # to the improvement engine; without it the solver refuses them.
        depot_ids = {a[2] for a in raw_agents} | {a[3] for a in raw_agents}
        total = math.fsum(d for node_id, d in zip(nodes, demands) if node_id not in depot_ids and d > 0)
        if not improve and len(nodes) <= 256 and any(0 < a[5] < total for a in raw_agents):
            raise InvalidInstance(f"capacities below the total demand {total!r} without the improvement engine")
    node_index = {node_id: i for i, node_id in enumerate(nodes)}
    type_ids: dict[str, int] = {}
    type_of_id: dict[int, int] = {}
    agents = []
    for agent_id, type_name, start, end, limit, capacity in raw_agents:
        type_ids.setdefault(type_name, len(type_ids))
        type_of_id[agent_id] = type_ids[type_name]
        if start not in node_index or end not in node_index:
            raise UnknownReference(f"agent {agent_id}: start {start} or end {end} is no node id")
        agents.append(InstanceAgent(agent_id, type_name, node_index[start], node_index[end], limit,
                                    capacity=capacity))
    for agent in agents:
        agent.type_index = type_of_id[agent.id]
    for name in costs:
        if name not in type_ids:
            raise UnknownReference(f"cost matrix for unknown type {name!r}")

    every_type = set(type_ids.values())
    allowed = []
    for node_id in nodes:
        if node_id in allowed_by_id:
            allowed.append({type_ids[name] for name in allowed_by_id[node_id] if name in type_ids})
        else:
            allowed.append(every_type)
    windows = {node_index[node_id]: w for node_id, w in windows_by_id.items() if node_id in node_index}
    instance = Instance(
        node_ids=nodes,
        agents=agents,
        type_names=list(type_ids),
        matrices={type_ids[name]: matrix for name, matrix in costs.items()},
        allowed=allowed,
        windows=windows,
        return_to_end=return_to_end,
        min_max=min_max,
        time_limit=time_limit,
        missing_cost=missing_cost,
        demands=demands,
        enforce_capacity=enforce_capacity,
        pairs=[(node_index.get(b), node_index.get(a), kind) for b, a, kind in pairs_by_id],
        enforce_precedence=enforce_precedence,
    )
    instance.start_set = {a.start for a in agents}
    instance.goal_set = {a.goal for a in agents}
    return instance


def _as_instance(instance: Instance | dict) -> Instance:
    return instance if isinstance(instance, Instance) else read_instance(instance)


# Violations.

# The kinds of fault, in the order a report lists them.
KINDS = (
    "result",  # the result's own shape: keys, status, statistics that are no numbers
    "foreign",  # agents or nodes the instance does not have: the result belongs to another instance
    "visits",  # targets served twice or never, incomplete routes, an agent passing its own depot
    "depots",  # routes that start or end elsewhere than their agent's nodes, or visit other agents' depots
    "types",  # nodes served by a type their assignment does not allow
    "connections",  # arcs that do not exist, types without a cost matrix
    "windows",  # arrivals after a window's end
    "limits",  # route lengths beyond their agent's "max_length"
    "capacity",  # route loads beyond their agent's capacity, reported loads that differ (with "enforce_capacity")
    "pairs",  # precedence pairs broken (with "enforce_precedence"), or routes waiting for each other in a cycle
    "schedule",  # reported stops (the option "schedule") whose times or loads differ from the recomputed ones
    "costs",  # reported route costs that differ from the ones recomputed from the matrices
    "objective",  # longest and total cost, the objective and the anytime log against the routes
)


@dataclass(frozen=True)
class Violation:
    """One way a result fails its instance: `kind` (one of KINDS) and a message naming the route and node."""

    kind: str
    message: str

    def __str__(self) -> str:
        return self.message


def _texts(violations: Iterable[Violation]) -> list[str]:
    return [violation.message for violation in violations]


# Checking routes.

def _close(a: float, b: float) -> bool:
    return a == b or abs(a - b) <= min(COST_ABS, COST_REL * max(1.0, abs(a), abs(b)))


def _late(value: float, bound: float, slack: float) -> bool:
    return value > bound + slack * max(1.0, abs(bound))


@dataclass
class _Walk:
    cost: float  # arrival time at the last node
    errors: list[Violation]  # window ends and limits missed
    unconnected: list[tuple[int, int]]  # arcs taken that do not exist
    starts: list[float] = field(default_factory=list)  # start of service at each node
    arrivals: list[float] = field(default_factory=list)  # time each node is reached, before any wait


def _walk(inst: Instance, agent: InstanceAgent, path: list[int], slack: float,
          release: dict[int, float] | None = None) -> _Walk:
    """Travels `path` from time 0, waiting for windows to open (at the start
    node too) and, at a node of `release`, until that time; `arrivals` gets
    the time each node is reached and `starts` the start of service there."""
    walk = _Walk(0.0, [], [])
    release = release or {}
    walk.arrivals.append(0.0)
    first = inst.windows.get(path[0])
    if first is not None:
        if _late(0.0, first[1], slack):
            walk.errors.append(Violation("windows", f"start window of node {path[0]} ends at {first[1]!r}, "
                                                    "before time 0"))
        walk.cost = max(0.0, first[0])
    walk.starts.append(walk.cost)
    for previous, node in zip(path, path[1:]):
        free = node == previous or (not inst.return_to_end and node in (agent.start, agent.goal))
        if not free:
            step = inst.arc(agent.type_index, previous, node)
            if step >= inst.missing_cost:
                walk.unconnected.append((previous, node))
            walk.cost += step
        walk.arrivals.append(walk.cost)
        walk.cost = max(walk.cost, release.get(node, -math.inf))
        window = inst.windows.get(node)
        if window is not None:
            if _late(walk.cost, window[1], slack):
                walk.errors.append(Violation(
                    "windows", f"reaches node {node} at {walk.cost!r}, after its window end {window[1]!r}"))
            walk.cost = max(walk.cost, window[0])
        if agent.time_limit > 0 and _late(walk.cost, agent.time_limit, slack):
            walk.errors.append(Violation(
                "limits", f"route length {walk.cost!r} exceeds its limit {agent.time_limit:g} at node {node}"))
        walk.starts.append(walk.cost)
    return walk


def walk_cost(inst: Instance, k: int, path: list[int]) -> float | None:
    """Agent k's cost along `path` (node positions, from its start), or None
    when the walk misses a window end or the route-length limit or takes an
    arc that does not exist. The route's end node and the nodes passed are
    not judged: a prefix of a route is walked the same way."""
    walk = _walk(inst, inst.agents[k], path, slack=0.0)
    return None if walk.errors or walk.unconnected else walk.cost


def route_errors(inst: Instance, k: int, path: list[int]) -> tuple[list[str], float]:
    """Every way `path` fails as agent k's whole route, and its cost."""
    violations, cost = _check_path(inst, k, path, None)
    return _texts(violations), cost


def _check_path(inst: Instance, k: int, path: list[int], reported: float | None,
                slack: float = 0.0, release: dict[int, float] | None = None) -> tuple[list[Violation], float]:
    """Violations of agent k's route and its recomputed cost."""
    agent = inst.agents[k]
    name = f"route {k} (agent {agent.id})"
    if len(path) < 2:
        return [Violation("visits", f"{name}: {path} is not a complete route")], 0.0
    for v in path:
        if not isinstance(v, int) or isinstance(v, bool) or not 0 <= v < inst.n:
            return [Violation("foreign", f"{name}: node position {v!r} does not exist "
                                         f"(positions 0..{inst.n - 1})")], 0.0
    errors = []
    if path[0] != agent.start:
        errors.append(Violation("depots", f"{name}: starts at {path[0]}, not at its start node {agent.start}"))
    closing = {agent.goal} if inst.return_to_end else {agent.start, agent.goal}
    if path[-1] not in closing:
        errors.append(Violation("depots", f"{name}: ends at {path[-1]}, not at "
                                          f"{' or '.join(map(str, sorted(closing)))}"))
    for node in path[1:-1]:
        if node in (agent.start, agent.goal):
            errors.append(Violation("visits", f"{name}: passes its own start or end node {node}"))
        elif node in inst.goal_set:
            errors.append(Violation("depots", f"{name}: visits {node}, the end node of another agent"))
        elif node in inst.start_set:
            errors.append(Violation("depots", f"{name}: visits {node}, the start node of another agent"))
    for node in path:
        if agent.type_index not in inst.allowed[node]:
            errors.append(Violation("types", f"{name}: type {agent.type_name!r} may not serve node {node}"))

    walk = _walk(inst, agent, path, slack=slack, release=release)
    if walk.unconnected:
        # An agent that stays at its depot needs no matrix.
        if agent.type_index not in inst.matrices:
            errors.append(Violation("connections", f"{name}: no cost matrix for type {agent.type_name!r}"))
        else:
            errors += [Violation("connections", f"{name}: no connection from {a} to {b}")
                       for a, b in walk.unconnected]
    errors += [Violation(e.kind, f"{name}: {e.message}") for e in walk.errors]
    if inst.enforce_capacity and agent.capacity > 0:
        load = route_load(inst, path)
        if _late(load, agent.capacity, slack):
            errors.append(Violation("capacity", f"{name}: load {load!r} exceeds its capacity {agent.capacity:g}"))
    if errors or reported is None:
        return errors, walk.cost

    dissolved = len(path) == 2 and reported == 0.0  # a route without targets may report nothing
    if not _close(reported, walk.cost) and not dissolved:
        errors.append(Violation("costs", f"{name}: reported cost {reported!r}, recomputed {walk.cost!r}"))
    return errors, walk.cost


def route_load(inst: Instance, path: list[int]) -> float:
    """The demands of the targets on `path` (starts and ends carry none)."""
    return math.fsum(inst.demands[v] for v in path if v not in inst.start_set and v not in inst.goal_set)


SCHEDULE_TIMES = ("arrival", "start", "departure")


def _schedule_errors(inst: Instance, k: int, route: Mapping[str, Any],
                     release: dict[int, float] | None = None) -> list[Violation]:
    """A route's reported "stops" against its walk: one stop per node of the
    path, at its position; the arrival is the departure from the node before
    plus the arc (0 at the first node), service starts when the window opens
    or the precedence partner has started, whichever is later, and the agent
    leaves when service starts (service takes no time); the "load" after a
    stop, when given, is the demand served so far. Nothing to check when the
    route has no "stops"."""
    stops = route.get("stops")
    path = route["path"]
    # Positions outside the nodes are named by the route's own check.
    if stops is None or not all(isinstance(v, int) and not isinstance(v, bool) and 0 <= v < inst.n for v in path):
        return []
    name = f"route {k} (agent {inst.agents[k].id})"
    if not isinstance(stops, list) or len(stops) != len(path):
        count = len(stops) if isinstance(stops, list) else repr(stops)
        return [Violation("schedule", f"{name}: {count} stops for {len(path)} nodes")]
    walk = _walk(inst, inst.agents[k], path, 0.0, release) if len(path) >= 2 else None
    errors = []
    load = 0.0
    for i, (node, stop) in enumerate(zip(path, stops)):
        if not isinstance(stop, dict) or stop.get("position") != node or not all(
                _number(stop.get(key)) for key in SCHEDULE_TIMES):
            errors.append(Violation("schedule", f"{name}: stop {i} {stop!r} is not the stop at node {node} "
                                                "with numeric times"))
            continue
        if node not in inst.start_set and node not in inst.goal_set:
            load += inst.demands[node]
        if walk is not None:
            expected = dict(zip(SCHEDULE_TIMES, (walk.arrivals[i], walk.starts[i], walk.starts[i])))
            for key, value in expected.items():
                if not _close(stop[key], value):
                    errors.append(Violation("schedule", f"{name}: stop {i} (node {node}) reports {key} "
                                                        f"{stop[key]!r}, recomputed {value!r}"))
        if "load" in stop and not (_number(stop["load"]) and _close(stop["load"], load)):
            errors.append(Violation("schedule", f"{name}: stop {i} (node {node}) reports load {stop['load']!r}, "
                                                f"recomputed {load!r}"))
    return errors
def _waits_in_a_cycle(paths: list[list[int]], waits: list[tuple[int, int]]) -> bool:
    """Whether the graph of route order (each inner node after the one
    before it) and of the waits (after behind before) has a cycle."""
    successors: dict[int, list[int]] = {}
    for path in paths:
        inner = path[1:-1]
        for a, b in zip(inner, inner[1:]):
            successors.setdefault(a, []).append(b)
    for before, after in waits:
        successors.setdefault(before, []).append(after)
    state: dict[int, int] = {}  # 1: on the current path, 2: done
    for root in list(successors):
        if root in state:
            continue
        stack = [(root, iter(successors.get(root, [])))]
        state[root] = 1
        while stack:
            node, children = stack[-1]
            child = next(children, None)
            if child is None:
                state[node] = 2
                stack.pop()
            elif state.get(child) == 1:
                return True
            elif child not in state:
                state[child] = 1
                stack.append((child, iter(successors.get(child, []))))
    return False


def _pair_errors(inst: Instance, paths: list[list[int]], slack: float) -> tuple[list[Violation], dict[int, float]]:
    """With enforced pairs: every pair the routes' order breaks, and the
    time until which each node waits for its partners on other routes,
    found by walking all routes again with the partners' start times until
    they no longer change."""
    if not inst.enforce_precedence or not inst.pairs:
        return [], {}
    where: dict[int, tuple[int, int]] = {}
    for k, path in enumerate(paths):
        for i, node in enumerate(path[1:-1], start=1):
            where.setdefault(node, (k, i))
    errors: list[Violation] = []
    waits: list[tuple[int, int]] = []
    for before, after, kind in inst.pairs:
        name = f"precedence pair ({kind}) {before} before {after}"
        if before not in where or after not in where:
            errors.append(Violation("pairs", f"{name}: a node of it is on no route"))
            continue
        (route_before, place_before), (route_after, place_after) = where[before], where[after]
        if route_before == route_after:
            if kind == "diff":
                errors.append(Violation("pairs", f"{name}: both on route {route_before}"))
            elif place_before > place_after:
                errors.append(Violation("pairs", f"{name}: out of order on route {route_before}"))
        elif kind == "same":
            errors.append(Violation("pairs", f"{name}: split over routes {route_before} and {route_after}"))
        else:
            waits.append((before, after))
    if not waits:
        return errors, {}
    if _waits_in_a_cycle(paths, waits):
        return errors + [Violation("pairs", "routes wait for each other's precedence pairs in a cycle")], {}
    release: dict[int, float] = {}
    for _ in range(len(where) + 2):
        starts: dict[int, float] = {}
        for k, path in enumerate(paths):
            if len(path) >= 2:
                walk = _walk(inst, inst.agents[k], path, slack, release)
                for node, start in zip(path[1:-1], walk.starts[1:-1]):
                    starts.setdefault(node, start)
        settled: dict[int, float] = {}
        for before, after in waits:
            settled[after] = max(settled.get(after, -math.inf), starts[before])
        if settled == release:
            return errors, release
        release = settled
    return errors + [Violation("pairs", "the precedence waits do not settle")], release


def _service_errors(inst: Instance, served: list[int]) -> list[Violation]:
    """Every target served exactly once; `served` holds the inner nodes of all routes."""
    counts = Counter(served)
    errors = []
    repeated = sorted(v for v, count in counts.items() if count > 1)
    if repeated:
        errors.append(Violation("visits", f"nodes served more than once: {repeated}"))
    missing = sorted(set(range(inst.n)) - inst.start_set - inst.goal_set - set(counts))
    if missing:
        errors.append(Violation("visits", f"{len(missing)} targets not served: {missing[:10]}"))
    return errors


def _route_entry_errors(inst: Instance, routes) -> list[str]:
    """One route entry per agent, in the document's agent order, with the keys of the result."""
    if not isinstance(routes, list) or len(routes) != len(inst.agents):
        count = len(routes) if isinstance(routes, list) else routes
        return [f"{count} routes for {len(inst.agents)} agents"]
    errors = []
    # A solve that enforces capacities (the package's default, also for a
    # document that does not ask for it) adds each route's "load", and one
    # with the option "schedule" (the package's default too) its "stops".
    loads = [["load"]] if inst.enforce_capacity else [[], ["load"]]
    keys = [ROUTE_KEYS + load + stops for load in loads for stops in ([], ["stops"])]
    for k, route in enumerate(routes):
        if not isinstance(route, dict) or list(route) not in keys or route["agent_id"] != inst.agents[k].id:
            errors.append(f"route {k}: {route!r} does not belong to agent {inst.agents[k].id}")
        elif not isinstance(route["path"], list):
            errors.append(f"route {k}: path {route['path']!r} is not a list")
    return errors


def _solution_errors(inst: Instance, routes: list[dict]) -> list[Violation]:
    errors, release = _pair_errors(inst, [route["path"] for route in routes], 0.0)
    served: list[int] = []
    for k, route in enumerate(routes):
        errors += _check_path(inst, k, route["path"], route["cost"], release=release)[0]
        errors += _schedule_errors(inst, k, route, release)
        served += route["path"][1:-1]
        if "load" in route and not _close(route["load"], route_load(inst, route["path"])):
            recomputed = route_load(inst, route["path"])
            errors.append(Violation("capacity", f"route {k}: reported load {route['load']!r}, recomputed {recomputed!r}"))
    return errors + _service_errors(inst, served)


def check_routes(instance: Instance | dict, routes: list[dict]) -> list[str]:
    """Every way a result's "routes" fail as a solution of `instance` (a
    document or what read_instance made of one)."""
    inst = _as_instance(instance)
    return _route_entry_errors(inst, routes) or _texts(_solution_errors(inst, routes))


def _totals_errors(inst: Instance, stats: Mapping[str, Any], costs: list[float]) -> list[Violation]:
    """The statistics' longest and total cost against the route costs."""
    if not _close(stats["max_cost"], max([0.0] + costs)) or not _close(stats["sum_cost"], math.fsum(costs)):
        return [Violation("objective", f"statistics {dict(stats)} disagree with route costs {costs}")]
    return []


def _anytime_errors(inst: Instance, status: Any, anytime: list, stats: Any) -> list[Violation]:
    """Every improvement improves, and a solution returned is the best one the log shows."""
    errors = []
    key = "max_cost" if inst.min_max else "sum_cost"
    best = math.inf
    for point in anytime:
        value = point[key]
        if not value < best - 1e-9:
            errors.append(Violation("objective", f"anytime entry {point} does not improve on {best}"))
        best = min(best, value)
    if status == "success" and anytime and isinstance(stats, dict) and key in stats:
        if not _close(stats[key], best):
            errors.append(Violation("objective", f"{key} {stats[key]!r} returned, but the anytime log reached "
                                                 f"{best!r}"))
    return errors


def _failed_errors(inst: Instance, routes: list, anytime: list) -> list[Violation]:
    """A failed result has empty routes and no improvements."""
    errors = []
    if any(route["path"] or route["cost"] != 0.0 for route in routes):
        errors.append(Violation("result", f"status failed with routes {routes}"))
    # Without agents the empty solution is found, yet has no route.
    if anytime and inst.agents:
        errors.append(Violation("result", f"status failed with improvements {anytime}"))
    return errors


def check_result(instance: Instance | dict, result) -> list[str]:
    """Every disagreement of the module's result dictionary with `instance`:
    its keys (exactly those of the module), status, statistics and anytime
    log, and for a success its routes."""
    inst = _as_instance(instance)
    if not isinstance(result, dict) or list(result) != RESULT_KEYS:
        return [f"result keys {list(result) if isinstance(result, dict) else type(result)}"]
    errors = []
    status, routes, stats = result["status"], result["routes"], result["statistics"]
    if status not in ("success", "failed") or not isinstance(result["timeout"], bool):
        errors.append(f"status {status!r}, timeout {result['timeout']!r}")
    errors += _route_entry_errors(inst, routes)
    if errors:
        return errors

    costs = [route["cost"] for route in routes]
    found: list[Violation] = []
    if not isinstance(stats, dict) or list(stats) != STATISTICS_KEYS:
        errors.append(f"statistics keys {list(stats) if isinstance(stats, dict) else stats}")
    else:
        found += _totals_errors(inst, stats, costs)
        if stats["n_generated"] < 0 or stats["n_expanded"] < 0 or stats["solve_time"] < 0:
            errors.append(f"negative statistics {stats}")
    found += _anytime_errors(inst, status, result["anytime"], stats)
    if status == "failed":
        found += _failed_errors(inst, routes, result["anytime"])
    else:
        found += _solution_errors(inst, routes)
    return errors + _texts(found)


@dataclass
class CheckReport:
    feasible: bool = True
    errors: list[str] = field(default_factory=list)
    route_costs: list[float] = field(default_factory=list)  # recomputed, per agent
    objective_kind: str = "min_max"

    @property
    def max_cost(self) -> float:
        return max(self.route_costs, default=0.0)

    @property
    def sum_cost(self) -> float:
        return sum(self.route_costs)

    @property
    def objective(self) -> float:
        return self.max_cost if self.objective_kind == "min_max" else self.sum_cost

    def fail(self, message: str) -> None:
        self.feasible = False
        self.errors.append(message)


def check_solution(instance: Instance | dict, paths: list[list[int]], reported_costs: list[float] | None = None,
                   slack: float = SOLUTION_SLACK) -> CheckReport:
    """Strictly checks `paths` (agent k's route is paths[k]) against `instance`.

    An empty path, or one holding only a node, is an agent that stays where
    it is. `slack` is tolerated on window ends and limits, relative to their
    size: a peer working in scaled integers may overrun them by rounding.
    """
    inst = _as_instance(instance)
    report = CheckReport(objective_kind=inst.objective_kind)
    if len(paths) != len(inst.agents):
        report.fail(f"{len(paths)} routes for {len(inst.agents)} agents")
        return report
    served: list[int] = []
    paths = [list(path) * 2 if len(path) == 1 else list(path) for path in paths]
    pair_errors, release = _pair_errors(inst, paths, slack)
    for error in pair_errors:
        report.fail(error.message)
    for k, path in enumerate(paths):
        if not path:
            report.route_costs.append(0.0)
            continue
        reported = reported_costs[k] if reported_costs is not None and k < len(reported_costs) else None
        errors, cost = _check_path(inst, k, path, reported, slack=slack, release=release)
        for error in errors:
            report.fail(error.message)
        report.route_costs.append(cost)
        served += path[1:-1]
    for error in _service_errors(inst, served):
        report.fail(error.message)
    return report


# Any result the package writes, against an instance given in any form.

class Unreadable(ValueError):
    """An instance or a result that cannot be checked: a file that cannot be
    read, a text that is no JSON the solver reads, an instance the solver
    would refuse, or a result without routes."""


@dataclass
class Verdict:
    """What `check` found. `violations` lists every fault in the order of
    KINDS; `route_costs` are recomputed from the matrices (one per agent),
    and `objective` is the objective of those routes (the longest route for
    "min_max", the total for "min_sum")."""

    status: str | None  # the result's status, None when it gives none
    objective_kind: str
    route_costs: list[float]
    violations: list[Violation]

    @property
    def ok(self) -> bool:
        return not self.violations

    @property
    def objective(self) -> float:
        costs = self.route_costs
        return max(costs, default=0.0) if self.objective_kind == "min_max" else math.fsum(costs)

    def kinds(self) -> list[str]:
        """The kinds of fault found, in the order of KINDS."""
        found = {violation.kind for violation in self.violations}
        return [kind for kind in KINDS if kind in found]


def _document(source: Any, what: str) -> tuple[Any, str]:
    """(the document, its name for messages) of a path, a JSON text or a dict."""
    if hasattr(source, "to_dict"):  # a SolveResult
        return source.to_dict(), f"the {what}"
    kind, value = sources.source(source, f"the {what}")
    if kind == sources.DICT:
        return value, f"the {what}"
    if kind == sources.TEXT:
        raw, name = value, f"the {what}"
    else:
        name = value
        try:
            with open(name, "rb") as stream:
                raw = stream.read()
        except OSError as error:
            raise Unreadable(f"cannot read {name}: {error.strerror or error}") from None
    try:
        return parse_json(raw), name
    except (JsonTextError, ValueError) as error:
        raise Unreadable(f"{name} is not JSON the solver reads: {error}") from None


def _instance(source: Any, options: Mapping[str, Any] | None = None) -> Instance:
    if isinstance(source, Instance):
        return source
    document, name = _document(source, "instance")
    if options and isinstance(document, dict):
        own = document.get("options")
        document = {**document, "options": {**(own if isinstance(own, dict) else {}), **options}}
    try:
        return read_instance(document)
    except (ShapeError, InvalidInstance, UnknownReference) as error:
        raise Unreadable(f"{name}: the solver refuses this instance ({error})") from None


def _number(value: Any) -> bool:
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def foreign_routes(node_ids: list[Any], agent_ids: list[Any], routes: list[Any]) -> list[str]:
    """Why `routes` (a result's "routes") cannot belong to an instance whose
    nodes have `node_ids` and whose agents `agent_ids`, in document order:
    another number of routes, routes of agents it does not have, positions
    beyond its nodes, or node ids (the command line's "node_ids") that are
    not its ids at those positions. Empty when they may belong to it."""
    problems = []
    if len(routes) != len(agent_ids):
        problems.append(f"the result has {len(routes)} routes, but the instance has {len(agent_ids)} agents")
    known = set(agent_ids)
    for k, route in enumerate(routes):
        if not isinstance(route, dict):
            continue
        agent_id = _agent_id(route.get("agent_id"))
        index = route.get("agent_index", k)
        if agent_id not in known:
            problems.append(f"routes[{k}] is for agent {route.get('agent_id')!r}, which the instance does not have "
                            f"(its agents: {_listed(agent_ids)})")
        elif k < len(agent_ids) and agent_id != agent_ids[k]:
            problems.append(f"routes[{k}] is for agent {agent_id}, but the instance's agents[{k}] is agent "
                            f"{agent_ids[k]}")
        if index != k:
            problems.append(f"routes[{k}] gives \"agent_index\" {index!r}, not {k}")
        path = route.get("path")
        if not isinstance(path, list):
            continue
        outside = [p for p in path if not (isinstance(p, int) and not isinstance(p, bool)
                                           and 0 <= p < len(node_ids))]
        if outside:
            problems.append(f"routes[{k}] visits positions {_listed(outside)}, but the instance has "
                            f"{len(node_ids)} nodes (\"path\" holds positions 0..{len(node_ids) - 1} in "
                            "\"nodes\", not node ids)")
            continue
        ids = route.get("node_ids")
        if isinstance(ids, list):
            wrong = [(p, given) for p, given in zip(path, ids) if _agent_id(given) != node_ids[p]]
            if wrong or len(ids) != len(path):
                p, given = wrong[0] if wrong else (None, None)
                detail = (f"node id {given!r} at position {p}, where the instance has node {node_ids[p]}"
                          if wrong else f"{len(ids)} node ids for {len(path)} positions")
                problems.append(f"routes[{k}] names {detail}")
    return problems


def _agent_id(value: Any) -> int | None:
    try:
        return as_u64(value) if _number(value) else None
    except (TypeError, ValueError):
        return None


def _listed(values: list[Any], most: int = 8) -> str:
    shown = ", ".join(str(value) for value in values[:most])
    return shown if len(values) <= most else f"{shown} and {len(values) - most} more"


def _route_shape(k: int, route: Any) -> str | None:
    if not isinstance(route, dict):
        return f"routes[{k}] is no object"
    if not isinstance(route.get("path"), list):
        return f"routes[{k}] has no \"path\" list"
    if not _number(route.get("cost")):
        return f"routes[{k}] has no numeric \"cost\""
    return None


def check(instance: Any, result: Any, options: Mapping[str, Any] | None = None) -> Verdict:
    """Checks `result` against `instance` on its own and names every fault.

    `instance`: a path, a JSON text or a dict of the instance document.
    `result`: a path, a JSON text, a dict or a SolveResult: the module's
    result document, the command line's --output (with "node_ids" and
    "agent_index" in each route) or a batch result file (with its "batch"
    record); keys the checker does not know are left alone. `options`
    replace the document's options of the same names (those the solve ran
    with, when it set them itself, as `kvr_mtsp.solve` does). Raises
    `Unreadable` (a ValueError) when either cannot be read, the instance is
    one the solver refuses, or the result has no "routes" list."""
    inst = _instance(instance, options)
    document, name = _document(result, "result")
    routes = document.get("routes") if isinstance(document, dict) else None
    if not isinstance(routes, list):
        raise Unreadable(f'{name}: no "routes" list; give the result of a solve')
    status = document.get("status")
    verdict = Verdict(status if isinstance(status, str) else None, inst.objective_kind, [], [])
    found = verdict.violations

    def stop_with(kind: str, messages: list[str]) -> Verdict:
        found.extend(Violation(kind, message) for message in messages)
        return verdict

    if status not in ("success", "failed") or not isinstance(document.get("timeout", False), bool):
        found.append(Violation("result", f"status {status!r}, timeout {document.get('timeout')!r}"))
    shapes = [problem for k, route in enumerate(routes) if (problem := _route_shape(k, route))]
    if shapes:
        return stop_with("result", shapes)
    foreign = foreign_routes(inst.node_ids, [agent.id for agent in inst.agents], routes)
    if foreign:
        return stop_with("foreign", foreign)

    anytime = document.get("anytime", [])
    if not (isinstance(anytime, list)
            and all(isinstance(p, dict) and _number(p.get("max_cost")) and _number(p.get("sum_cost"))
                    for p in anytime)):
        found.append(Violation("result", "\"anytime\" is not a list of improvements with numeric costs"))
        anytime = []
    stats = document.get("statistics")
    if status == "failed":
        found.extend(_failed_errors(inst, routes, anytime))
        verdict.route_costs = [0.0] * len(routes)
        return verdict

    served: list[int] = []
    pair_errors, release = _pair_errors(inst, [route["path"] for route in routes], 0.0)
    found.extend(pair_errors)
    for k, route in enumerate(routes):
        errors, cost = _check_path(inst, k, route["path"], route["cost"], release=release)
        found.extend(errors)
        found.extend(_schedule_errors(inst, k, route, release))
        verdict.route_costs.append(cost)
        served += route["path"][1:-1]
    found.extend(_service_errors(inst, served))
    costs = [route["cost"] for route in routes]
    if isinstance(stats, dict) and _number(stats.get("max_cost")) and _number(stats.get("sum_cost")):
        found.extend(_totals_errors(inst, stats, costs))
    elif stats is not None:
        found.append(Violation("result", "\"statistics\" has no numeric \"max_cost\" and \"sum_cost\""))
    found.extend(_anytime_errors(inst, status, anytime, stats))
    found.extend(_batch_errors(inst, document.get("batch"), verdict.objective))
    found.sort(key=lambda violation: KINDS.index(violation.kind))
    return verdict


def _batch_errors(inst: Instance, record: Any, objective: float) -> list[Violation]:
    """A batch result file's record: its objective kind and value against the routes."""
    if not isinstance(record, dict):
        return []
    errors = []
    if record.get("objective_type", inst.objective_kind) != inst.objective_kind:
        errors.append(Violation("objective", f"the batch record's objective type {record['objective_type']!r} "
                                             f"is not the instance's {inst.objective_kind!r}"))
    value = record.get("objective")
    if _number(value) and not _close(value, objective):
        errors.append(Violation("objective", f"the batch record's objective {value!r}, recomputed {objective!r}"))
    return errors


# The command `kvr-mtsp check`.

EXIT_CLEAN, EXIT_VIOLATIONS = 0, 1


def register(commands: Any) -> None:
    """Adds the "check" subcommand to the command line's subparsers."""
    command = commands.add_parser(
        "check", help="check a result against its instance on its own, naming every violation")
    command.add_argument("instance", metavar="INSTANCE.json", help="instance document")
    command.add_argument("result", metavar="RESULT.json",
                         help="result document (solve --output, a batch result file, or the module's result)")
    command.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    """Prints the verdict; exit status 0 without violations, 1 with some, 2 when a file cannot be checked."""
    try:
        verdict = check(args.instance, args.result)
    except Unreadable as error:
        print(f"{PROG}: error: {error}", file=sys.stderr)
        return EXIT_BAD_INPUT
    objective = f"{verdict.objective_kind} objective {verdict.objective:.10g} recomputed from the matrices"
    if verdict.ok:
        what = "a failed solve, no routes" if verdict.status == "failed" else objective
        print(f"{args.result}: no violations ({what})")
        return EXIT_CLEAN
    count = len(verdict.violations)
    print(f"{args.result}: {count} violation{'s' if count > 1 else ''} of {args.instance} "
          f"({', '.join(verdict.kinds())})")
    for violation in verdict.violations:
        print(f"  [{violation.kind}] {violation.message}")
    return EXIT_VIOLATIONS
