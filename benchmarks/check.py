"""Independent feasibility checker for solutions of JSON instance documents.

It reads only the instance document and the routes (node positions, one list
per agent in the document's agent order) and recomputes everything itself:
start and end nodes, every target served exactly once, allowed agent types,
arcs that exist, route costs from the agent type's matrix with waiting for
time windows, window ends and route-length limits. A route cost that differs
from the reported one is an error too.
"""
from __future__ import annotations

from dataclasses import dataclass, field

NO_CONNECTION = 9999.0
TOLERANCE = 1e-9  # slack on window ends and length limits, relative to magnitude
COST_TOLERANCE = 1e-6  # relative difference tolerated between reported and recomputed cost


@dataclass
class CheckReport:
    feasible: bool = True
    errors: list[str] = field(default_factory=list)
    route_costs: list[float] = field(default_factory=list)
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


def objective_kind(doc: dict) -> str:
    objective = doc.get("options", {}).get("objective", "min_sum")
    return "min_max" if objective in ("min_max", "MIN_MAX") else "min_sum"


def _constraint_items(doc: dict, kind: str) -> list[dict]:
    return [item for c in doc.get("constraints", []) if c.get("kind") == kind for item in c.get("items", [])]


def _within(value: float, bound: float) -> bool:
    return value <= bound + TOLERANCE * max(1.0, abs(bound))


def check_solution(doc: dict, routes: list[list[int]], reported_costs: list[float] | None = None) -> CheckReport:
    """Checks `routes` (agent k's route is routes[k]) against instance `doc`."""
    report = CheckReport(objective_kind=objective_kind(doc))
    nodes, agents = doc["nodes"], doc["agents"]
    position = {node["id"]: i for i, node in enumerate(nodes)}
    return_to_end = doc.get("options", {}).get("return_to_end", True)
    allowed = {item["node"]: set(item["types"]) for item in _constraint_items(doc, "assignment")}
    windows = {position[item["node"]]: (item["start"], item["end"]) for item in _constraint_items(doc, "timewindow")}

    if len(routes) != len(agents):
        report.fail(f"{len(routes)} routes for {len(agents)} agents")
        return report
    starts = [position[a["start_node"]] for a in agents]
    ends = [position[a["end_node"]] for a in agents]
    depots = set(starts) | set(ends)
    visits = {i: 0 for i in range(len(nodes)) if i not in depots}

    for k, (agent, route) in enumerate(zip(agents, routes)):
        cost = _check_route(report, k, agent, route, starts[k], ends[k], depots, visits,
                            doc["costs"].get(agent["type"]), allowed, nodes, windows, return_to_end)
        report.route_costs.append(cost)
        if reported_costs is not None and k < len(reported_costs):
            got = reported_costs[k]
            if abs(got - cost) > COST_TOLERANCE * max(1.0, abs(cost)):
                report.fail(f"agent {agent['id']}: reported cost {got!r}, recomputed {cost!r}")

    missing = sorted(i for i, n in visits.items() if n == 0)
    repeated = sorted(i for i, n in visits.items() if n > 1)
    if missing:
        report.fail(f"{len(missing)} targets not served, e.g. {missing[:5]}")
    if repeated:
        report.fail(f"targets served more than once: {repeated[:5]}")
    return report


def _check_route(report, k, agent, route, start, end, depots, visits, matrix, allowed, nodes, windows,
                 return_to_end) -> float:
    """Validates one route and returns its recomputed cost (arrival time at its last node)."""
    label = f"agent {agent['id']}"
    if not route:
        return 0.0  # the agent has no route at all: it stays idle
    if route[0] != start:
        report.fail(f"{label}: starts at {route[0]}, not at its start node {start}")
    if len(route) == 1:
        if return_to_end and start != end:
            report.fail(f"{label}: never reaches its end node {end}")
        return 0.0
    if return_to_end and route[-1] != end:
        report.fail(f"{label}: ends at {route[-1]}, not at its end node {end}")
    if matrix is None:
        report.fail(f"{label}: no cost matrix for type {agent['type']!r}")
        return 0.0
    cost = 0.0
    for i, (a, b) in enumerate(zip(route, route[1:]), start=1):
        if not 0 <= b < len(nodes):
            report.fail(f"{label}: node position {b} does not exist")
            return cost
        last = i == len(route) - 1
        if b in depots:
            if b not in (start, end) or not last:
                report.fail(f"{label}: visits depot {b} inside its route")
        else:
            visits[b] += 1
        types = allowed.get(nodes[b]["id"])
        if types is not None and agent["type"] not in types:
            report.fail(f"{label}: type {agent['type']!r} may not serve node {b}")
        if a != b and not (not return_to_end and b in (start, end)):
            try:
                step = matrix[a][b]
            except IndexError:
                step = NO_CONNECTION
            if step >= NO_CONNECTION:
                report.fail(f"{label}: no connection from {a} to {b}")
            cost += step
        if b in windows:
            open_, close = windows[b]
            if not _within(cost, close):
                report.fail(f"{label}: reaches node {b} at {cost:.6g}, after its window end {close}")
            cost = max(cost, open_)
    limit = agent.get("max_length", 0)
    if limit > 0 and not _within(cost, float(int(limit))):
        report.fail(f"{label}: route length {cost:.6g} exceeds its limit {int(limit)}")
    return cost
