"""The peer: OR-Tools' routing solver on the same JSON instance documents.

Costs are made integral by multiplying with a power of ten and rounding up,
so every schedule OR-Tools accepts (window ends, length limits) also holds
for the real costs; reported figures are recomputed from the real costs by
kvr_mtsp.checker, never taken from OR-Tools' own objective.

min-max: arc costs plus a cost dimension with a global span cost coefficient
(the usual way). min-sum: arc costs alone, plus the waiting (slack) cost when
there are time windows. Waiting is modelled as dimension slack, every route's
cumul starts at 0, route-length limits are per-vehicle dimension capacities,
and assignment constraints restrict the vehicles allowed at a node.
With "enforce_capacity": a load dimension of the node demands against the
agents' capacities (loads made integral as the costs are: demands rounded
up, capacities down). With "enforce_precedence": a "same" pair as a pickup
and delivery (one vehicle, the pickup's cumul first); plain and "diff"
pairs as cumul precedence on the cost dimension, which then allows waiting
(slack, counted as cost as for windows), and "diff" pairs on two vehicles.
Guided local search after a first-solution heuristic, one thread (the routing
solver is single-threaded), stopped after `budget` seconds of processor time.
"""
from __future__ import annotations

import math
import time

from kvr_mtsp.checker import NO_CONNECTION, check_solution, constraint_items, objective_kind, read_instance

SPAN_COEFFICIENT = 100
# OR-Tools' own limit is wall-clock time: far above the processor-time budget,
# so that a machine shared with other work (a load of 10 on 2 cores gives a
# child a sixth of a core) does not cut its share short.
WALL_GUARD_FACTOR = 30


def unsupported_reason(doc: dict) -> str | None:
    """Why the peer model cannot pose this instance as given, or None."""
    if not doc.get("options", {}).get("return_to_end", True):
        return "open routes not modelled"
    n = len(doc["nodes"])
    for name, matrix in doc["costs"].items():
        if len(matrix) < n or any(len(row) < n for row in matrix):
            return f"incomplete cost matrix {name!r}"
        if any(c >= NO_CONNECTION for i, row in enumerate(matrix) for j, c in enumerate(row[:n]) if i != j):
            return "missing connections"
    if any(not item["types"] for item in constraint_items(doc, "assignment")):
        return "node that no type may serve"
    return None


def demand_items(doc: dict) -> tuple[list[float], list[float]] | None:
    """Node demands (by position) and agent capacities when the document
    enforces capacities and something can bind, else None."""
    if not doc.get("options", {}).get("enforce_capacity"):
        return None
    demands = [float(node.get("demand", 0.0)) for node in doc["nodes"]]
    capacities = [float(a.get("capacity", 0.0)) for a in doc["agents"]]
    if not any(d > 0 for d in demands) or not any(c > 0 for c in capacities):
        return None
    return demands, capacities


def load_scale(values: list[float]) -> int:
    """1 when every demand and capacity is whole, else 1000."""
    return 1 if all(float(v).is_integer() for v in values) else 1000


def integral_loads(doc: dict) -> tuple[list[int], list[int]] | None:
    """Demands rounded up and capacities rounded down to integers (no limit:
    the total demand), so that loads a peer accepts also hold for the real
    numbers; None when no capacity binds."""
    items = demand_items(doc)
    if items is None:
        return None
    demands, capacities = items
    k = load_scale(demands + capacities)
    starts_ends = {a["start_node"] for a in doc["agents"]} | {a["end_node"] for a in doc["agents"]}
    loads = [0 if doc["nodes"][i]["id"] in starts_ends else math.ceil(d * k) for i, d in enumerate(demands)]
    total = sum(loads)
    return loads, [math.floor(c * k) if c > 0 else total for c in capacities]


def precedence_pairs(doc: dict) -> list[tuple[int, int, str]]:
    """(before, after, kind) by node id when the document enforces them."""
    if not doc.get("options", {}).get("enforce_precedence"):
        return []
    pairs = []
    for c in doc.get("constraints", []):
        if c.get("kind") == "sequence":
            for item in c.get("precedence", []):
                kind = item.get("type")
                pairs.append((item["before"], item["after"], kind if kind in ("same", "diff") else "plain"))
    return pairs


def _integer_scale(doc: dict) -> int:
    largest = max(max(max(row) for row in m) for m in doc["costs"].values())
    return 10 ** max(0, math.floor(math.log10(1e6 / max(largest, 1e-9))))


def solve(doc: dict, budget: float) -> dict:
    """Runs OR-Tools for `budget` seconds of processor time; returns routes
    and an anytime log. On time-window instances the first-solution
    heuristics often find nothing: when one gives up, the next one is tried
    with what is left of the budget."""
    windows = bool(constraint_items(doc, "timewindow"))
    if precedence_pairs(doc):
        # Pairs need the insertion heuristics that place both nodes at once.
        strategies = ("PARALLEL_CHEAPEST_INSERTION", "LOCAL_CHEAPEST_INSERTION", "PATH_CHEAPEST_ARC")
    elif windows:
        strategies = ("LOCAL_CHEAPEST_INSERTION", "SAVINGS", "PATH_CHEAPEST_ARC")
    else:
        strategies = ("PATH_CHEAPEST_ARC",)
    t0 = time.process_time()
    for strategy in strategies:
        result = _solve_once(doc, budget, strategy, t0)
        if result["status"] == "success" or time.process_time() - t0 >= budget:
            break
    return result


def _solve_once(doc: dict, budget: float, strategy: str, t0: float) -> dict:
    from ortools.constraint_solver import pywrapcp, routing_enums_pb2

    nodes, agents = doc["nodes"], doc["agents"]
    n, num_vehicles = len(nodes), len(agents)
    position = {node["id"]: i for i, node in enumerate(nodes)}
    starts = [position[a["start_node"]] for a in agents]
    ends = [position[a["end_node"]] for a in agents]
    scale = _integer_scale(doc)
    min_max = objective_kind(doc) == "min_max"
    windows = {position[w["node"]]: (w["start"], w["end"]) for w in constraint_items(doc, "timewindow")}
    limits = [int(a.get("max_length", 0)) for a in agents]
    pairs = [(position[b], position[a], kind) for b, a, kind in precedence_pairs(doc)]
    waits = bool(windows) or any(kind != "same" for _, _, kind in pairs)

    manager = pywrapcp.RoutingIndexManager(n, num_vehicles, starts, ends)
    routing = pywrapcp.RoutingModel(manager)
    transit = {}
    for name, matrix in doc["costs"].items():
        integral = [[0 if i == j else math.ceil(c * scale) for j, c in enumerate(row[:n])] for i, row in enumerate(matrix[:n])]
        transit[name] = routing.RegisterTransitMatrix(integral)
    vehicle_transit = [transit[a["type"]] for a in agents]
    for v, callback in enumerate(vehicle_transit):
        routing.SetArcCostEvaluatorOfVehicle(callback, v)

    if min_max or windows or any(limits) or pairs:
        horizon = sum(math.ceil(max(row[:n]) * scale) for m in doc["costs"].values() for row in m[:n])
        horizon += math.ceil(max((e for _, e in windows.values()), default=0) * scale) + 1
        capacities = [math.floor(L * scale) if L > 0 else horizon for L in limits]
        slack = horizon if waits else 0
        routing.AddDimensionWithVehicleTransitAndCapacity(vehicle_transit, slack, capacities, True, "Cost")
        dim = routing.GetDimensionOrDie("Cost")
        depots = set(starts) | set(ends)
        for node, (start, end) in windows.items():
            lo, hi = math.ceil(start * scale), math.floor(end * scale)
            if node not in depots:
                dim.CumulVar(manager.NodeToIndex(node)).SetRange(lo, hi)
            for v in range(num_vehicles):
                if ends[v] == node:
                    dim.CumulVar(routing.End(v)).SetRange(lo, hi)
        if min_max:
            dim.SetGlobalSpanCostCoefficient(SPAN_COEFFICIENT)
        elif waits:
            dim.SetSlackCostCoefficientForAllVehicles(1)
        solver = routing.solver()
        for before, after, kind in pairs:
            b, a = manager.NodeToIndex(before), manager.NodeToIndex(after)
            if kind == "same":
                routing.AddPickupAndDelivery(b, a)
                solver.Add(routing.VehicleVar(b) == routing.VehicleVar(a))
            elif kind == "diff":
                solver.Add(routing.VehicleVar(b) != routing.VehicleVar(a))
            solver.Add(dim.CumulVar(b) <= dim.CumulVar(a))

    loads = integral_loads(doc)
    if loads is not None:
        demand, capacity = loads
        demand_callback = routing.RegisterUnaryTransitCallback(lambda index: demand[manager.IndexToNode(index)])
        routing.AddDimensionWithVehicleCapacity(demand_callback, 0, capacity, True, "Load")

    depots = set(starts) | set(ends)
    for item in constraint_items(doc, "assignment"):
        node = position[item["node"]]
        if node not in depots:
            allowed = [v for v, a in enumerate(agents) if a["type"] in item["types"]]
            routing.VehicleVar(manager.NodeToIndex(node)).SetValues(allowed)

    def current_routes(value_of) -> list[list[int]]:
        routes = []
        for v in range(num_vehicles):
            index, route = routing.Start(v), []
            while not routing.IsEnd(index):
                route.append(manager.IndexToNode(index))
                index = value_of(routing.NextVar(index))
            routes.append(route + [manager.IndexToNode(index)])
        return routes

    instance = read_instance(doc)  # read once: every improvement is checked
    anytime: list[dict] = []
    best_internal = [math.inf]

    def on_solution() -> None:
        internal = routing.CostVar().Value()
        if internal < best_internal[0]:
            best_internal[0] = internal
            report = check_solution(instance, current_routes(lambda var: var.Value()))
            anytime.append({"time": time.process_time() - t0, "max_cost": report.max_cost, "sum_cost": report.sum_cost})

    routing.AddAtSolutionCallback(on_solution)
    params = pywrapcp.DefaultRoutingSearchParameters()
    params.first_solution_strategy = getattr(routing_enums_pb2.FirstSolutionStrategy, strategy)
    params.local_search_metaheuristic = routing_enums_pb2.LocalSearchMetaheuristic.GUIDED_LOCAL_SEARCH
    # The budget is processor time, as for our solver, so that a busy machine
    # does not shorten OR-Tools' share; its own time limit (wall clock) only
    # guards against a run that stops checking.
    routing.AddSearchMonitor(routing.solver().CustomLimit(lambda: time.process_time() - t0 > budget))
    params.time_limit.FromMilliseconds(int((WALL_GUARD_FACTOR * budget + 120) * 1000))
    solution = routing.SolveWithParameters(params)
    return {
        "status": "success" if solution is not None else "failed",
        "routes": current_routes(solution.Value) if solution is not None else [],
        "internal_objective": solution.ObjectiveValue() if solution is not None else None,
        "integer_scale": scale,
        "first_solution_strategy": strategy,
        "anytime": anytime,
    }
