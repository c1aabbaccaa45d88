"""Reads an instance document the way the loader and the solver construction
do, and checks a result dictionary against it.

`read_instance` applies the reader's conversions (ids as unsigned 64-bit with
wrap-around and truncation, limits as signed 32-bit, booleans as 1/0 where
integers are read, no booleans where doubles are read) and raises
`ShapeError` for a document the loader rejects and `ReferenceError_` for one
the solver construction rejects (unknown start or end node, cost matrix for a
type no agent has). `check_result` then lists every way a result dictionary
disagrees with the instance: start and end nodes, targets served exactly once,
allowed types, depots of other agents, window ends and route-length limits
along the route, and the reported cost recomputed from the matrices.
"""
from __future__ import annotations

import json
import math
from dataclasses import dataclass, field

NO_CONNECTION = 9999.0
TOLERANCE = 1e-9
RESULT_KEYS = ["status", "timeout", "routes", "statistics", "anytime"]
STATISTICS_KEYS = ["solve_time", "max_cost", "sum_cost", "n_generated", "n_expanded", "last_update_time"]


class ShapeError(Exception):
    """The loader must reject the document (RuntimeError in Python)."""


class ReferenceError_(Exception):
    """The solver construction must reject the document (IndexError in Python)."""


def parse_json(text: str | bytes):
    """Strict JSON as the solver's parser reads it: no NaN or Infinity, no
    number that overflows a double, no lone surrogate escapes."""

    def reject_constant(name):
        raise ValueError(f"non-standard constant {name}")

    def finite_float(literal):
        value = float(literal)
        if not math.isfinite(value):
            raise ValueError(f"number overflow {literal}")
        return value

    def check_strings(value):
        if isinstance(value, str):
            value.encode("utf-8")  # lone surrogates fail here
        elif isinstance(value, list):
            for item in value:
                check_strings(item)
        elif isinstance(value, dict):
            for key, item in value.items():
                check_strings(key)
                check_strings(item)

    def float_or_int(literal):
        # Integers beyond the 64-bit ranges are stored as doubles by the parser.
        value = int(literal)
        if -(2**63) <= value < 2**64:
            return value
        return finite_float(literal)

    if isinstance(text, bytes):
        text = text.removeprefix(b"\xef\xbb\xbf").decode("utf-8")  # a byte-order mark is skipped
    doc = json.loads(text, parse_constant=reject_constant, parse_float=finite_float, parse_int=float_or_int)
    check_strings(doc)
    return doc


# Conversions of the reader.

def _is_number(value) -> bool:
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def as_u64(value) -> int:
    if isinstance(value, bool):
        return int(value)
    if isinstance(value, int):
        return value % 2**64
    if isinstance(value, float):
        if not value > 0:
            return 0
        if value >= 2.0**64:
            return 2**64 - 1
        return int(value)
    raise ShapeError(f"number expected, got {value!r}")


def as_i32(value) -> int:
    if isinstance(value, bool):
        return int(value)
    if isinstance(value, int):
        low = value % 2**32
        return low - 2**32 if low >= 2**31 else low
    if isinstance(value, float):
        if value >= 2.0**31:
            return 2**31 - 1
        if value <= -(2.0**31) - 1:
            return -(2**31)
        return int(value)
    raise ShapeError(f"number expected, got {value!r}")


def as_double(value) -> float:
    if not _is_number(value):
        raise ShapeError(f"number expected, got {value!r}")
    return float(value)


def as_str(value) -> str:
    if not isinstance(value, str):
        raise ShapeError(f"string expected, got {value!r}")
    return value


def as_bool(value) -> bool:
    if not isinstance(value, bool):
        raise ShapeError(f"boolean expected, got {value!r}")
    return value


def as_array(value) -> list:
    if not isinstance(value, list):
        raise ShapeError(f"array expected, got {value!r}")
    return value


def required(obj, key):
    if not isinstance(obj, dict):
        raise ShapeError(f"object expected for key {key!r}, got {obj!r}")
    if key not in obj:
        raise ShapeError(f"key {key!r} missing")
    return obj[key]


def as_matrix(value) -> list[list[float]]:
    return [[as_double(x) for x in as_array(row)] for row in as_array(value)]


@dataclass
class Agent:
    id: int
    type_name: str
    start: int  # node index
    goal: int  # node index
    time_limit: float
    type_index: int = -1  # what the solver uses: the type last registered for this id


@dataclass
class Instance:
    node_ids: list[int]
    agents: list[Agent]
    type_names: list[str]
    matrices: dict[int, list[list[float]]]  # type index -> matrix
    allowed: list[set[int]]  # per node index
    windows: dict[int, tuple[float, float]]  # node index -> (start, end)
    return_to_end: bool
    min_max: bool
    time_limit: float
    start_set: set[int] = field(default_factory=set)
    goal_set: set[int] = field(default_factory=set)

    @property
    def n(self) -> int:
        return len(self.node_ids)

    def arc(self, type_index: int, a: int, b: int) -> float:
        matrix = self.matrices.get(type_index, [])
        if a < len(matrix) and b < len(matrix[a]):
            return matrix[a][b]
        return NO_CONNECTION


def read_instance(doc) -> Instance:
    """The instance as the solver sees it; raises ShapeError or ReferenceError_."""
    nodes = []
    for item in as_array(required(doc, "nodes")):
        node_id = as_u64(required(item, "id"))
        for key in ("x", "y", "z"):
            as_double(required(item, key))
        if "type" in item:
            as_str(item["type"])
        if "demand" in item:
            as_double(item["demand"])
        nodes.append(node_id)

    raw_agents = []
    for item in as_array(required(doc, "agents")):
        agent_id = as_u64(required(item, "id"))
        type_name = as_str(required(item, "type"))
        start = as_u64(required(item, "start_node"))
        end = as_u64(required(item, "end_node"))
        if "capacity" in item:
            as_i32(item["capacity"])
        limit = as_i32(item["max_length"]) if "max_length" in item else 0
        raw_agents.append((agent_id, type_name, start, end, float(limit)))

    costs = {}
    if "costs" in doc:
        value = doc["costs"]
        if isinstance(value, dict):
            for name, matrix in value.items():
                costs[name] = as_matrix(matrix)
        else:
            for i, matrix in enumerate(as_array(value)):
                costs[str(i)] = as_matrix(matrix)

    allowed_by_id: dict[int, list[str]] = {}
    windows_by_id: dict[int, tuple[float, float]] = {}
    if "constraints" in doc:
        for constraint in as_array(doc["constraints"]):
            kind = as_str(required(constraint, "kind"))
            if kind == "assignment":
                if "items" not in constraint:
                    continue
                for item in as_array(constraint["items"]):
                    node = as_u64(required(item, "node"))
                    allowed_by_id[node] = [as_str(name) for name in as_array(required(item, "types"))]
            elif kind == "timewindow":
                if "items" not in constraint:
                    continue
                for item in as_array(constraint["items"]):
                    node = as_u64(required(item, "node"))
                    windows_by_id[node] = (as_double(required(item, "start")), as_double(required(item, "end")))
            elif kind == "sequence":
                if "precedence" not in constraint:
                    continue
                for item in as_array(constraint["precedence"]):
                    as_u64(required(item, "before"))
                    as_u64(required(item, "after"))
                    if "type" in item:
                        as_str(item["type"])

    return_to_end, min_max, time_limit = True, False, 60.0
    if "options" in doc:
        options = doc["options"]
        if not isinstance(options, dict):
            raise ShapeError(f"options must be an object, got {options!r}")
        return_to_end = as_bool(options["return_to_end"]) if "return_to_end" in options else True
        objective = as_str(options["objective"]) if "objective" in options else "min_sum"
        min_max = objective in ("min_max", "MIN_MAX")
        time_limit = as_double(options["time_limit"]) if "time_limit" in options else 60.0

    # Solver construction: dense indices, the last node with an id wins.
    node_index = {node_id: i for i, node_id in enumerate(nodes)}
    type_ids: dict[str, int] = {}
    type_of_id: dict[int, int] = {}
    agents = []
    for agent_id, type_name, start, end, limit in raw_agents:
        type_ids.setdefault(type_name, len(type_ids))
        type_of_id[agent_id] = type_ids[type_name]
        if start not in node_index or end not in node_index:
            raise ReferenceError_(f"agent {agent_id}: start {start} or end {end} is no node id")
        agents.append(Agent(agent_id, type_name, node_index[start], node_index[end], limit))
    for agent in agents:
        agent.type_index = type_of_id[agent.id]
    for name in costs:
        if name not in type_ids:
            raise ReferenceError_(f"cost matrix for unknown type {name!r}")

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
    )
    instance.start_set = {a.start for a in agents}
    instance.goal_set = {a.goal for a in agents}
    return instance


def _close(a: float, b: float) -> bool:
    return a == b or abs(a - b) <= TOLERANCE * max(1.0, abs(a), abs(b))


def _walk(inst: Instance, agent: Agent, path: list[int], wait_at_start: bool) -> tuple[list[str], float]:
    """Travels `path`: cost with waiting, window ends and the route-length limit.

    The search leaves the start node at time 0; the post-optimisers also wait
    at the start node when it has a window (`wait_at_start`).
    """
    errors = []
    cost = 0.0
    first = inst.windows.get(path[0])
    if wait_at_start and first is not None:
        if cost > first[1]:
            errors.append(f"start window of node {path[0]} ends at {first[1]} before time 0")
        cost = max(cost, first[0])
    for previous, node in zip(path, path[1:]):
        free = node == previous or (not inst.return_to_end and node in (agent.start, agent.goal))
        if not free:
            cost += inst.arc(agent.type_index, previous, node)
        window = inst.windows.get(node)
        if window is not None:
            if cost > window[1]:
                errors.append(f"reaches node {node} at {cost!r}, after its window end {window[1]!r}")
            cost = max(cost, window[0])
        if agent.time_limit > 0 and cost > agent.time_limit:
            errors.append(f"route length {cost!r} exceeds its limit {agent.time_limit!r} at node {node}")
    return errors, cost


def _post_optimiser_accepts(inst: Instance, agent: Agent, path: list[int]) -> bool:
    """Whether the route rules of the post-optimisers hold for the whole path,
    the start node included (they report cost 0 for a route they reject)."""
    for i, node in enumerate(path):
        if agent.type_index not in inst.allowed[node]:
            return False
        own_depot = node in (agent.start, agent.goal)
        if not own_depot and (node in inst.start_set or node in inst.goal_set):
            return False  # another agent's start or end node
        if 0 < i < len(path) - 1 and node == agent.start:
            return False
    return not _walk(inst, agent, path, wait_at_start=True)[0]


def _check_route(inst: Instance, k: int, route: dict) -> list[str]:
    agent = inst.agents[k]
    path, reported = route["path"], route["cost"]
    name = f"route {k} (agent {agent.id})"
    if len(path) < 2:
        return [f"{name}: {path} is not a complete route"]
    if any(not isinstance(v, int) or not 0 <= v < inst.n for v in path):
        return [f"{name}: {path} holds node positions outside 0..{inst.n - 1}"]
    errors = []
    if path[0] != agent.start:
        errors.append(f"{name}: starts at {path[0]}, not at its start node {agent.start}")
    closing = {agent.goal} if inst.return_to_end else {agent.start, agent.goal}
    if path[-1] not in closing:
        errors.append(f"{name}: ends at {path[-1]}, not in {sorted(closing)}")
    for node in path[1:-1]:
        if node in (agent.start, agent.goal):
            errors.append(f"{name}: passes its own start or end node {node}")
        elif node in inst.goal_set:
            errors.append(f"{name}: visits {node}, the end node of another agent")
        elif node in inst.start_set and not inst.return_to_end:
            errors.append(f"{name}: visits {node}, the start node of another agent")
    for node in path[1:]:
        if agent.type_index not in inst.allowed[node]:
            errors.append(f"{name}: type {agent.type_name!r} may not serve node {node}")
    walk_errors, _ = _walk(inst, agent, path, wait_at_start=False)
    errors += [f"{name}: {e}" for e in walk_errors]
    if errors:
        return errors

    if _post_optimiser_accepts(inst, agent, path):
        expected = _walk(inst, agent, path, wait_at_start=True)[1]
        dissolved = len(path) == 2 and reported == 0.0
        if not _close(reported, expected) and not dissolved:
            errors.append(f"{name}: reported cost {reported!r}, recomputed {expected!r}")
    elif reported != 0.0:
        errors.append(f"{name}: reported cost {reported!r} for a route the post-optimisers reject")
    return errors


def check_result(inst: Instance, result) -> list[str]:
    """Every disagreement of a result dictionary with the instance."""
    if not isinstance(result, dict) or list(result) != RESULT_KEYS:
        return [f"result keys {list(result) if isinstance(result, dict) else type(result)}"]
    errors = []
    status, routes, stats = result["status"], result["routes"], result["statistics"]
    if status not in ("success", "failed") or not isinstance(result["timeout"], bool):
        errors.append(f"status {status!r}, timeout {result['timeout']!r}")
    if len(routes) != len(inst.agents):
        return errors + [f"{len(routes)} routes for {len(inst.agents)} agents"]
    for k, route in enumerate(routes):
        if list(route) != ["agent_id", "path", "cost"] or route["agent_id"] != inst.agents[k].id:
            errors.append(f"route {k}: {route!r} does not belong to agent {inst.agents[k].id}")
    if errors:
        return errors

    costs = [route["cost"] for route in routes]
    if list(stats) != STATISTICS_KEYS:
        errors.append(f"statistics keys {list(stats)}")
    else:
        if not _close(stats["max_cost"], max([0.0] + costs)) or not _close(stats["sum_cost"], math.fsum(costs)):
            errors.append(f"statistics {stats} disagree with route costs {costs}")
        if stats["n_generated"] < 0 or stats["n_expanded"] < 0 or stats["solve_time"] < 0:
            errors.append(f"negative statistics {stats}")
    best = math.inf
    for point in result["anytime"]:
        value = point["max_cost"] if inst.min_max else point["sum_cost"]
        if not value < best - 1e-9:
            errors.append(f"anytime entry {point} does not improve on {best}")
        best = value

    if status == "failed":
        if any(route["path"] or route["cost"] != 0.0 for route in routes):
            errors.append(f"status failed with routes {routes}")
        return errors

    served: list[int] = []
    for k, route in enumerate(routes):
        errors += _check_route(inst, k, route)
        served += route["path"][1:-1]
    repeated = sorted({v for v in served if served.count(v) > 1})
    if repeated:
        errors.append(f"nodes served more than once: {repeated}")
    depots = inst.start_set | inst.goal_set
    missing = sorted(set(range(inst.n)) - depots - set(served))
    if missing:
        errors.append(f"status success but targets {missing} are not served")
    return errors
