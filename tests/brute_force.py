"""Exact optimum of a tiny instance by enumeration, for comparison with the search.

Every agent's every route is judged by the independent checker
(`kvr_mtsp.checker.route_errors`): each ordered choice of the targets its type
may serve, closed at its end node (open routes: at its start or its end
node). A prefix that already breaks (`walk_cost`) a window, a limit or an arc ends that
branch, since waiting and travel only add to a route's cost. The cheapest
route per agent and served set is kept, then every split of the targets
between the agents is tried. Sizes are kept small (at most 6 targets and 3
agents: a few thousand walks per agent).

With enforced precedence pairs a route's cost depends on the other routes
(an agent waits for a partner's service), so every whole solution is
tried instead: each order of the targets cut into one piece per agent,
judged as a whole by `check_solution` (at most 4 targets then).
"""
from __future__ import annotations

import itertools
from dataclasses import dataclass

from kvr_mtsp.checker import Instance, check_solution, route_errors, walk_cost

MAX_TARGETS = 6
MAX_AGENTS = 3
MAX_TARGETS_WITH_PAIRS = 4


@dataclass
class Optimum:
    value: float | None  # None when the instance has no feasible solution
    paths: list[list[int]]  # one route per agent, node positions


def _best_routes(inst: Instance, k: int, targets: list[int]) -> dict[frozenset, tuple[float, list[int]]]:
    """Agent k's cheapest feasible route for every set of targets it can serve."""
    agent = inst.agents[k]
    ends = [agent.goal] if inst.return_to_end else sorted({agent.start, agent.goal})
    own = [t for t in targets if agent.type_index in inst.allowed[t]]
    best: dict[frozenset, tuple[float, list[int]]] = {}

    def extend(path: list[int]) -> None:
        if walk_cost(inst, k, path) is None:
            return
        served = frozenset(path[1:])
        for end in ends:
            errors, cost = route_errors(inst, k, path + [end])
            if not errors and (served not in best or cost < best[served][0]):
                best[served] = (cost, path + [end])
        for t in own:
            if t not in served:
                extend(path + [t])

    extend([agent.start])
    return best


def brute_force(inst: Instance) -> Optimum:
    """The instance's optimum (min_max: longest route first; min_sum: total)."""
    targets = [i for i in range(inst.n) if i not in inst.start_set and i not in inst.goal_set]
    m = len(inst.agents)
    if len(targets) > MAX_TARGETS or not 0 < m <= MAX_AGENTS:
        raise ValueError(f"{len(targets)} targets and {m} agents is beyond the brute force")
    if inst.enforce_precedence and inst.pairs:
        return _whole_solutions(inst, targets)
    routes = [_best_routes(inst, k, targets) for k in range(m)]
    aggregate = max if inst.min_max else sum
    best = Optimum(None, [])
    for owners in itertools.product(range(m), repeat=len(targets)):
        chosen = []
        for k in range(m):
            served = frozenset(t for t, owner in zip(targets, owners) if owner == k)
            if served not in routes[k]:
                break
            chosen.append(routes[k][served])
        else:
            value = aggregate(cost for cost, _ in chosen)
            if best.value is None or value < best.value:
                best = Optimum(value, [path for _, path in chosen])
    if best.value is not None:
        # The enumeration's own answer must pass the checker as a whole.
        report = check_solution(inst, best.paths, slack=0.0)
        assert report.feasible, report.errors
    return best


def _whole_solutions(inst: Instance, targets: list[int]) -> Optimum:
    """The optimum over every solution: each order of the targets cut into
    consecutive pieces, piece k for agent k, closed at each end node the
    agent may finish at."""
    if len(targets) > MAX_TARGETS_WITH_PAIRS:
        raise ValueError(f"{len(targets)} targets with precedence pairs is beyond the brute force")
    m = len(inst.agents)
    ends = [[a.goal] if inst.return_to_end else sorted({a.start, a.goal}) for a in inst.agents]
    best = Optimum(None, [])
    for order in itertools.permutations(targets):
        for cuts in itertools.combinations_with_replacement(range(len(order) + 1), m - 1):
            bounds = (0, *cuts, len(order))
            for closing in itertools.product(*ends):
                paths = [[agent.start, *order[bounds[k]:bounds[k + 1]], closing[k]]
                         for k, agent in enumerate(inst.agents)]
                report = check_solution(inst, paths, slack=0.0)
                if report.feasible and (best.value is None or report.objective < best.value):
                    best = Optimum(report.objective, paths)
    return best
