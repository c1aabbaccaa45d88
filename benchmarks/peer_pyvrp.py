"""The second peer: PyVRP (iterated local search) on the min-sum documents.

PyVRP minimises a sum of route costs, so only min-sum documents are posed;
min-max ones are refused with a reason. The model:

- every node that is some agent's start or end node is a depot, every other
  node a client;
- one vehicle type per agent (one vehicle each) with its own start and end
  depot, so that routes map back to agents one to one;
- one routing profile per agent type, holding that type's cost matrix;
- costs multiplied by a power of ten and rounded up to integers (as for
  OR-Tools), window starts rounded up and window ends down, so a schedule
  PyVRP accepts also holds with the real costs; the reported figures are
  recomputed from the real costs by kvr_mtsp.checker;
- time windows as client windows with every route leaving at time 0
  (start_late=0) and the route duration (travel plus waiting) as its cost,
  which is how our cost counts waiting;
- route-length limits as maximum distance (shift duration with windows);
- with "enforce_capacity": client delivery amounts and vehicle capacities,
  made integral as for OR-Tools (demands up, capacities down);
- assignment constraints through the profiles: an arc into a node the type
  may not serve gets a prohibitive length, and every vehicle of a type with
  such arcs gets a length cap below it, so that using one is a violation
  PyVRP must repair, not just a cost.

Stopped after `budget` seconds of processor time by a stopping criterion of
our own, which also records PyVRP's best cost over time (its integer cost
divided by the integer scale: a little above the real cost).
"""
from __future__ import annotations

import math
import time

from benchmarks import peer_ortools
from kvr_mtsp.checker import constraint_items, objective_kind

SCALE_TARGET = 1e6  # the largest cost becomes about this many integer units


def unsupported_reason(doc: dict) -> str | None:
    """Why this model cannot pose the instance as given, or None: what the
    OR-Tools model cannot pose either, and a min-max objective and windows on
    start or end nodes."""
    if objective_kind(doc) != "min_sum":
        return "min-max objective: PyVRP minimises the sum of route costs"
    reason = peer_ortools.unsupported_reason(doc)
    if reason is not None:
        return reason
    if peer_ortools.precedence_pairs(doc):
        return "precedence pairs not modelled"
    depots = {a["start_node"] for a in doc["agents"]} | {a["end_node"] for a in doc["agents"]}
    if any(w["node"] in depots for w in constraint_items(doc, "timewindow")):
        return "time window on a start or end node not modelled"
    return None


def _integer_scale(doc: dict) -> int:
    largest = max(max(max(row) for row in m) for m in doc["costs"].values())
    return 10 ** max(0, math.floor(math.log10(SCALE_TARGET / max(largest, 1e-9))))


class _CpuBudget:
    """Stopping criterion on processor time that logs the best cost."""

    def __init__(self, budget: float, t0: float, scale: int):
        self.budget, self.t0, self.scale = budget, t0, scale
        self.best = math.inf
        self.anytime: list[dict] = []

    def __call__(self, best_cost: float) -> bool:
        elapsed = time.process_time() - self.t0
        if math.isfinite(best_cost) and best_cost < self.best:
            self.best = best_cost
            value = best_cost / self.scale
            self.anytime.append({"time": elapsed, "max_cost": None, "sum_cost": value})
        return elapsed > self.budget


def solve(doc: dict, budget: float, seed: int = 0) -> dict:
    """Runs PyVRP for `budget` seconds of processor time; returns one path
    of node positions per agent (empty for an idle agent) and an anytime log."""
    from pyvrp import Model

    t0 = time.process_time()
    nodes, agents = doc["nodes"], doc["agents"]
    n = len(nodes)
    position = {node["id"]: i for i, node in enumerate(nodes)}
    scale = _integer_scale(doc)
    windows = {position[w["node"]]: (w["start"], w["end"]) for w in constraint_items(doc, "timewindow")}
    allowed = {position[item["node"]]: set(item["types"]) for item in constraint_items(doc, "assignment")}

    model = Model()
    locations = [model.add_location(x=float(node.get("x", 0.0)), y=float(node.get("y", 0.0))) for node in nodes]
    depot_positions = sorted({position[a["start_node"]] for a in agents} | {position[a["end_node"]] for a in agents})
    depots = {p: model.add_depot(locations[p]) for p in depot_positions}
    client_positions = [p for p in range(n) if p not in depots]
    loads = peer_ortools.integral_loads(doc)
    for p in client_positions:
        early, late = windows.get(p, (None, None))
        kwargs = {}
        if early is not None:
            kwargs = {"tw_early": max(0, math.ceil(early * scale)), "tw_late": math.floor(late * scale)}
        if loads is not None:
            kwargs["delivery"] = [loads[0][p]]
        model.add_client(locations[p], **kwargs)

    # A forbidden arc is longer than any route of allowed arcs can be.
    integral = {name: [[0 if i == j else math.ceil(c * scale) for j, c in enumerate(row[:n])]
                       for i, row in enumerate(matrix[:n])] for name, matrix in doc["costs"].items()}
    prohibitive = 2 * sum(sum(row) for m in integral.values() for row in m) + 2
    restricted = set()
    profiles = {}
    for name, matrix in integral.items():
        profiles[name] = model.add_profile(name=str(name))
        for i in range(n):
            for j in range(n):
                if i == j:
                    continue
                cost = matrix[i][j]
                if j in allowed and name not in allowed[j] and j not in depots:
                    cost = prohibitive
                    restricted.add(name)
                model.add_edge(locations[i], locations[j], distance=cost, duration=cost, profile=profiles[name])

    for k, agent in enumerate(agents):
        limit = int(agent.get("max_length", 0))
        cap = math.floor(limit * scale) if limit > 0 else None
        if agent["type"] in restricted:
            cap = prohibitive - 1 if cap is None else min(cap, prohibitive - 1)
        kwargs = {}
        if windows:
            kwargs.update(unit_distance_cost=0, unit_duration_cost=1, start_late=0)
            if cap is not None:
                kwargs["shift_duration"] = cap
        elif cap is not None:
            kwargs["max_distance"] = cap
        if loads is not None:
            kwargs["capacity"] = [loads[1][k]]
        model.add_vehicle_type(num_available=1, start_depot=depots[position[agent["start_node"]]],
                               end_depot=depots[position[agent["end_node"]]], profile=profiles[agent["type"]],
                               name=str(agent["id"]), **kwargs)

    stop = _CpuBudget(budget, t0, scale)
    result = model.solve(stop=stop, seed=seed, display=False)
    best = result.best
    feasible = best.is_feasible() and best.is_complete()
    paths: list[list[int]] = [[] for _ in agents]
    if feasible:
        for route in best.routes():
            k = route.vehicle_type()
            path = [depot_positions[a.idx] if a.is_depot() else client_positions[a.idx] for a in route]
            paths[k] = path
    return {
        "status": "success" if feasible else "failed",
        "routes": paths,
        "internal_objective": result.cost() if feasible else None,
        "integer_scale": scale,
        "iterations": result.num_iterations,
        "anytime": stop.anytime,
    }
