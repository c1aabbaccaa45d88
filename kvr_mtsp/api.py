"""`kvr_mtsp.solve`: solve an instance and read the result as typed records.

    import kvr_mtsp
    result = kvr_mtsp.solve("instance.json", time_limit=5)
    for route in result.routes:
        print(route.agent_id, route.cost, route.node_ids)

The instance is a path (str or os.PathLike), a JSON text (a str whose first
character after white space is "{" or "["), or a dict in the shape of the
instance document. `time_limit` (processor seconds; None keeps the
document's own), `improve`, `seed`, `enforce_capacity`, `enforce_precedence`
and `schedule` replace the
document's "options", as the command line's flags do; so do
`max_iterations`, `memory_limit_mb`, `missing_cost` and
`max_no_improvement` when given. Where neither the argument nor the
document sets `max_no_improvement` (or the document sets 0), the package's
default (`MAX_NO_IMPROVEMENT`) ends the improvement engine once it stops
improving. The module's reader reads the instance
once into a `Problem` (`read`: a file or a text as it is, a dict as its
JSON text), the arguments are set in its options, and the module's
`solve_problem` solves it; the module's exceptions reach the caller
unchanged.

The result is a `SolveResult`; `to_dict()` gives the module's result
document, key for key, `check()` checks it against its instance with the
independent checker (`kvr_mtsp.checker`), and `found_by` says which part
found it, the focal search or the improvement engine.

The solver's console lines do not reach standard output or error: its
warnings about the instance are issued as `kvr_mtsp.SolverWarning` through
`warnings.warn`, its other lines are logged to the logger "kvr_mtsp"
(kvr_mtsp.console).
"""
from __future__ import annotations

import json
import math
import os
from collections.abc import Callable, Mapping
from dataclasses import dataclass, field, replace
from typing import Any, Union

import _kvr_core

from kvr_mtsp.console import to_python
from kvr_mtsp.cores import available_cores
from kvr_mtsp.instance import InstanceView
from kvr_mtsp.sources import DICT, PATH, TEXT, source  # noqa: F401 - PATH: for callers of source()

# Improvement-engine iterations in a row without a better solution after
# which the package's solves (`kvr_mtsp.solve`, the command line, batch) end
# the engine; the module's own default is no such limit. Chosen well above
# the longest stretch without improvement on the benchmark suites (see
# benchmarks/README.md), so that it ends converged runs, not improving ones.
MAX_NO_IMPROVEMENT = 10_000

InstanceInput = Union[str, "os.PathLike[str]", Mapping[str, Any]]
ConsoleCallable = Callable[[_kvr_core.ConsoleRecord], object]
# What `solve_with` takes: an instance, or a Problem already read by `read`.
Solvable = Union[InstanceInput, _kvr_core.Problem]
# Keys of a result document that a record does not know, with their values,
# in document order: kept so that to_dict() gives back what was read.
Extra = tuple[tuple[str, Any], ...]


def _extra(record: Mapping[str, Any], known: tuple[str, ...]) -> Extra:
    return tuple((key, value) for key, value in record.items() if key not in known)


@dataclass(frozen=True)
class Stop:
    """One stop of a route's schedule (the option "schedule"): the node (its
    place in the document's "nodes" and its id), when the agent arrives,
    when service starts (after waiting for the node's time window or for a
    precedence partner on another route), when it leaves (service takes no
    time, so it leaves when service starts) and the demand served up to and
    including this stop (None unless capacities were enforced). The last
    stop's departure is the route's cost."""

    position: int
    node_id: int | None
    arrival: float
    start: float
    departure: float
    load: float | None = None
    extra: Extra = ()

    KEYS = ("position", "arrival", "start", "departure", "load")

    @property
    def wait(self) -> float:
        """Time spent waiting before service starts."""
        return self.start - self.arrival

    @classmethod
    def from_dict(cls, stop: Mapping[str, Any], node_ids: list[int | None]) -> Stop:
        position = stop["position"]
        node_id = node_ids[position] if isinstance(position, int) and 0 <= position < len(node_ids) else None
        return cls(position, node_id, stop["arrival"], stop["start"], stop["departure"], stop.get("load"),
                   extra=_extra(stop, cls.KEYS))

    def to_dict(self) -> dict[str, Any]:
        load = {} if self.load is None else {"load": self.load}
        return {"position": self.position, "arrival": self.arrival, "start": self.start,
                "departure": self.departure, **load, **dict(self.extra)}


@dataclass(frozen=True)
class Route:
    """One agent's route. `positions` are places in the document's "nodes"
    array (the result document's "path"); `node_ids` the same nodes by id
    (None where the document gives no usable id)."""

    agent_index: int  # the agent's place in the document's "agents" array
    agent_id: int
    agent_type: str | None
    positions: tuple[int, ...]
    node_ids: tuple[int | None, ...]
    cost: float
    # With open routes, the last leg into the agent's own start or end node
    # costs nothing and is not in `cost`.
    free_last_leg: bool
    extra: Extra = ()
    # Demand of the targets it serves; None unless capacities were enforced.
    load: float | None = None
    # Its schedule, one Stop per node of the path; None unless the option
    # "schedule" was on.
    stops: tuple[Stop, ...] | None = None

    @property
    def serves_targets(self) -> bool:
        """Whether the route visits anything between its start and its end."""
        return len(self.positions) > 2

    def to_dict(self) -> dict[str, Any]:
        load = {} if self.load is None else {"load": self.load}
        stops = {} if self.stops is None else {"stops": [stop.to_dict() for stop in self.stops]}
        return {"agent_id": self.agent_id, "path": list(self.positions), "cost": self.cost, **load, **stops,
                **dict(self.extra)}


@dataclass(frozen=True)
class AnytimePoint:
    """An improving solution: processor seconds since the start (of every
    thread together), its longest and total route cost, and wall-clock
    seconds since the start (the package's solves always give it; None for
    a module result document without it)."""

    time: float
    max_cost: float
    sum_cost: float
    extra: Extra = ()
    wall_time: float | None = None

    KEYS = ("time", "max_cost", "sum_cost")

    @classmethod
    def from_dict(cls, point: Mapping[str, Any]) -> AnytimePoint:
        return cls(*(point[key] for key in cls.KEYS), extra=_extra(point, cls.KEYS + ("wall_time",)),
                   wall_time=point.get("wall_time"))

    def to_dict(self) -> dict[str, Any]:
        wall = {} if self.wall_time is None else {"wall_time": self.wall_time}
        return {"time": self.time, "max_cost": self.max_cost, "sum_cost": self.sum_cost, **wall,
                **dict(self.extra)}


@dataclass(frozen=True)
class Statistics:
    """The result document's "statistics": wall-clock solve time (set-up
    included), longest and total route cost, search counters, and the
    processor time of the last update."""

    solve_time: float
    max_cost: float
    sum_cost: float
    n_generated: int
    n_expanded: int
    last_update_time: float
    extra: Extra = ()

    KEYS = ("solve_time", "max_cost", "sum_cost", "n_generated", "n_expanded", "last_update_time")

    @classmethod
    def from_dict(cls, statistics: Mapping[str, Any]) -> Statistics:
        return cls(*(statistics[key] for key in cls.KEYS), extra=_extra(statistics, cls.KEYS))

    def to_dict(self) -> dict[str, Any]:
        return {**{key: getattr(self, key) for key in self.KEYS}, **dict(self.extra)}


@dataclass(frozen=True)
class SolveResult:
    """What a solve returns. `status` is "success" when a solution was found
    and "failed" otherwise; `timeout` is true when the time limit, the memory
    budget or an interrupt ended the search. `objective_type` is "min_max" or
    "min_sum", and `objective` the value it minimises: `longest` or `total`."""

    status: str
    timeout: bool
    routes: tuple[Route, ...]
    statistics: Statistics
    anytime: tuple[AnytimePoint, ...]
    objective_type: str
    extra: Extra = ()
    # What the solve was given (a path, a JSON text or a dict), for check();
    # None for a result read without its instance.
    instance: Any = field(default=None, repr=False, compare=False)
    # Which part found the solution returned: "search" (the focal search and
    # its post-optimisers) or "engine" (the improvement engine); None when
    # no solution was found or the result was read from a document.
    found_by: str | None = None
    # The options the solve set in the document's place ("enforce_capacity",
    # "enforce_precedence", "improve"), which check() judges by; None for a
    # result read from a document.
    options: Mapping[str, Any] | None = field(default=None, repr=False, compare=False)

    KEYS = ("status", "timeout", "routes", "statistics", "anytime")

    @property
    def solved(self) -> bool:
        return self.status == "success"

    @property
    def longest(self) -> float:
        return self.statistics.max_cost

    @property
    def total(self) -> float:
        return self.statistics.sum_cost

    @property
    def objective(self) -> float:
        return self.longest if self.objective_type == "min_max" else self.total

    def check(self, instance: Any = None) -> Any:
        """Checks this result against `instance` (by default the one it was
        solved from) with the independent checker, `kvr_mtsp.check`, and
        gives its `Verdict`: `ok`, and `violations` naming every fault."""
        from kvr_mtsp.checker import check

        options = self.options if instance is None else None
        instance = self.instance if instance is None else instance
        if instance is None:
            raise ValueError("this result does not know its instance; pass it: result.check(instance)")
        return check(instance, self.to_dict(), options)

    def to_dict(self) -> dict[str, Any]:
        """The module's result document: "status", "timeout", "routes" (node
        positions in "path"), "statistics" and "anytime"."""
        return {
            "status": self.status,
            "timeout": self.timeout,
            "routes": [route.to_dict() for route in self.routes],
            "statistics": self.statistics.to_dict(),
            "anytime": [point.to_dict() for point in self.anytime],
            **dict(self.extra),
        }

    @classmethod
    def from_dict(cls, result: Mapping[str, Any], instance: Any = None) -> SolveResult:
        """The typed form of a module result document; `instance` (the
        instance document it solved, as a dict) supplies node ids, agent
        types and the objective, which the result document does not hold.
        Keys the records do not know (such as the command line's "node_ids"
        and "agent_index" in its routes) are kept in their `extra` and
        written back by to_dict()."""
        view = InstanceView(instance)
        routes = []
        for index, route in enumerate(result["routes"]):
            positions = tuple(route["path"])
            routes.append(
                Route(
                    agent_index=index,
                    agent_id=route["agent_id"],
                    agent_type=view.agent_type(index),
                    positions=positions,
                    node_ids=tuple(view.node_ids[p] if 0 <= p < len(view.node_ids) else None for p in positions),
                    cost=route["cost"],
                    free_last_leg=view.free_last_leg(index, list(positions)),
                    extra=_extra(route, ("agent_id", "path", "cost", "load", "stops")),
                    load=route.get("load"),
                    stops=None if route.get("stops") is None
                    else tuple(Stop.from_dict(stop, view.node_ids) for stop in route["stops"]),
                )
            )
        return cls(
            status=result["status"],
            timeout=result["timeout"],
            routes=tuple(routes),
            statistics=Statistics.from_dict(result["statistics"]),
            anytime=tuple(AnytimePoint.from_dict(point) for point in result["anytime"]),
            objective_type=view.objective,
            extra=_extra(result, cls.KEYS),
            instance=instance,
        )


def read(instance: InstanceInput, on_console: ConsoleCallable = to_python) -> _kvr_core.Problem:
    """The Problem of `instance`, read once by the module's reader (a dict as
    its JSON text). The reader's exceptions propagate unchanged ("Cannot open
    file: " + path for a file that cannot be read; a refused value with its
    place as the RuntimeError's "detail"); its warnings about the document
    go to `on_console`."""
    kind, value = source(instance)
    if kind == DICT:
        return _kvr_core.read_document(dumps(value), on_console=on_console)
    if kind == TEXT:
        return _kvr_core.read_document(value, on_console=on_console)
    return _kvr_core.read_document_file(value, on_console=on_console)


def outline(problem: _kvr_core.Problem) -> dict[str, Any]:
    """What a result view needs of a Problem, in the shape of an instance
    document: node ids, agents (id, type, start and end node) and the
    options "return_to_end" and "objective"."""
    options = problem.options()
    return {
        "nodes": [{"id": node.id} for node in problem.nodes()],
        "agents": [{"id": agent.id, "type": agent.type, "start_node": agent.start_node, "end_node": agent.end_node}
                   for agent in problem.agents_ordered()],
        "options": {"return_to_end": options.return_to_end,
                    "objective": "min_max" if options.objective == _kvr_core.ObjectiveType.MinMax else "min_sum"},
    }


def dumps(document: Mapping[str, Any], **options: Any) -> str:
    """The JSON text of a document given as a dict (`options` go to
    json.dumps); ValueError for one nested too deeply to write."""
    try:
        return json.dumps(document, **options)
    except RecursionError:
        raise ValueError("arrays and objects are nested too deeply to write as JSON "
                         "(an instance document nests them a few levels deep)") from None


def solve(
    instance: InstanceInput,
    *,
    time_limit: float | None = None,
    wall_time_limit: float | None = None,
    improve: bool = True,
    seed: int = 0,
    max_iterations: int | None = None,
    max_no_improvement: int | None = None,
    memory_limit_mb: float | None = None,
    missing_cost: float | None = None,
    enforce_capacity: bool = True,
    enforce_precedence: bool = True,
    schedule: bool = True,
    threads: int | None = None,
    on_progress: Callable[[_kvr_core.ProgressRecord], object] | None = None,
) -> SolveResult:
    """Solves `instance` (a path, a JSON text or a dict) and returns a SolveResult.

    Each argument below replaces the document's option of the same name
    when given (None keeps the document's own), with the meaning the
    option has in the document:

    `time_limit`: processor seconds of search, of every thread together
    (ValueError unless it is a positive finite number). `wall_time_limit`:
    wall-clock seconds of search (ValueError unless positive and finite);
    the solve ends at whichever limit it reaches first. Each entry of
    `anytime` carries both clocks: `time` (processor) and `wall_time`. `improve`: whether the improvement engine
    improves the focal search's first solution. `seed`: the engine's random
    seed. `max_iterations`: engine iterations (0 or less: no limit).
    `max_no_improvement`: engine iterations in a row without a better
    solution after which it ends (0 or less: no limit); when neither this
    argument nor the document sets it, MAX_NO_IMPROVEMENT.
    `memory_limit_mb`: megabytes the search may hold (the solver refuses a
    budget that is not a positive finite number with ValueError).
    `missing_cost`: arc costs at or above it count as no connection
    (positive). `enforce_capacity` (default on): the demands on each route
    add up to at most its agent's capacity; each route's `load` is then
    reported. `enforce_precedence` (default on): the document's precedence
    pairs are honoured (both are off in the module's own entries).
    `schedule` (default on): each route carries its `stops`, the arrival,
    start of service, departure and load at every node (off in the module's
    own entries). `threads`: threads of the improvement engine, one island each (None:
    the cores this process may use, `kvr_mtsp.cores.available_cores()`;
    the module's own default is 1). With a fixed `seed`, `max_iterations`
    and `threads` a solve gives the same result every time. A value
    of the wrong type raises ValueError naming the
    option.

    `on_progress`: passed on to the module's solve functions when
    given: a callable taking one `kvr_mtsp.ProgressRecord`, called on every
    improving solution and at most once per second of processor time
    otherwise. When it raises, the solve stops and the exception propagates
    with the best solution found so far as its attribute `result`, a
    SolveResult (a KeyboardInterrupt acts as Ctrl-C does). The solver's
    warnings about the instance are issued as `SolverWarning`s (when a
    filter turns them into errors, the solve stops in the same way); its
    other lines go to the logger "kvr_mtsp". Exceptions of the
    module (RuntimeError, IndexError, ValueError, KeyboardInterrupt before any
    solution) propagate unchanged. A dict nested too deeply to write as JSON
    raises ValueError saying so.
    """
    return solve_with(
        instance,
        {"improve": improve, "seed": seed, "max_iterations": max_iterations, "wall_time_limit": wall_time_limit,
         "max_no_improvement": max_no_improvement, "memory_limit_mb": memory_limit_mb,
         "missing_cost": missing_cost, "enforce_capacity": enforce_capacity,
         "enforce_precedence": enforce_precedence, "schedule": schedule,
         "threads": available_cores() if threads is None else threads},
        time_limit=time_limit,
        on_progress=on_progress,
    )


class _FinderWatch:
    """Passes progress records on to the caller's `on_progress` (if any) and
    keeps the phase of the last improving one: the part that found the
    solution returned."""

    def __init__(self, on_progress: Callable[[_kvr_core.ProgressRecord], object] | None) -> None:
        self.on_progress = on_progress
        self.found_by: str | None = None

    def __call__(self, record: _kvr_core.ProgressRecord) -> object:
        if record.improving:
            self.found_by = record.phase
        return None if self.on_progress is None else self.on_progress(record)


def check_settings(*, time_limit: Any = None, wall_time_limit: Any = None, threads: Any = None) -> None:
    """Raises ValueError naming the first of the package's solve settings
    that is out of range (None: not given): `time_limit` and
    `wall_time_limit` must be positive finite numbers of seconds, `threads`
    a whole number of at least 1. Checked by every solve of the package
    (`solve`, the command line, `solve_many`) before anything starts."""
    if threads is not None and not (isinstance(threads, int) and not isinstance(threads, bool) and threads >= 1):
        raise ValueError(f"threads must be a whole number of at least 1, not {threads!r}")
    for name, seconds in (("time_limit", time_limit), ("wall_time_limit", wall_time_limit)):
        if seconds is not None and not (isinstance(seconds, (int, float)) and not isinstance(seconds, bool)
                                        and math.isfinite(seconds) and seconds > 0):
            raise ValueError(f"{name} must be a positive finite number of seconds, not {seconds!r}")


def solve_with(
    instance: Solvable,
    options: Mapping[str, Any],
    *,
    time_limit: float | None = None,
    on_progress: Callable[[_kvr_core.ProgressRecord], object] | None = None,
    on_console: ConsoleCallable = to_python,
) -> SolveResult:
    """`solve` with any fields of the module's `Options` replaced: `options`
    maps field names to values, None leaving the document's own. What the
    command line's flags and `solve`'s arguments share. `instance` may be a
    Problem read by `read` (the command line reads before it solves): the
    options are set in it and its cost matrices move into the solve.
    `on_console` takes the solver's console records, of the reading and of
    the solve (by default: warnings and logging, see kvr_mtsp.console)."""
    check_settings(time_limit=time_limit, wall_time_limit=options.get("wall_time_limit"),
                   threads=options.get("threads"))
    problem = instance if isinstance(instance, _kvr_core.Problem) else read(instance, on_console)
    settings = problem.options()
    for key, value in options.items():
        if value is None:
            continue
        try:
            setattr(settings, key, value)
        except TypeError:
            raise ValueError(f"the option \"{key}\" cannot hold {value!r}") from None
    if options.get("max_no_improvement") is None and settings.max_no_improvement == 0:
        settings.max_no_improvement = MAX_NO_IMPROVEMENT
    shape = outline(problem)
    # The rules the solve holds routes to, for check(): the document's own
    # options may not ask for them.
    rules = {key: getattr(settings, key) for key in ("enforce_capacity", "enforce_precedence", "improve")}
    limit = -1.0 if time_limit is None else float(time_limit)  # -1: the document's own limit
    watch = _FinderWatch(on_progress)
    try:
        # The matrices move into the solve: the Problem is not needed after it.
        result = _kvr_core.solve_problem(
            problem, limit, consume_costs=True, on_progress=watch, on_console=on_console, wall_times=True
        )
    except BaseException as error:
        # An exception of on_progress carries the best solution as the result document.
        kept = getattr(error, "result", None)
        if isinstance(kept, dict):
            error.result = _typed(kept, shape, instance, watch, rules)
        raise
    return _typed(result, shape, instance, watch, rules)


def _typed(result: dict[str, Any], shape: dict[str, Any], instance: InstanceInput,
           watch: _FinderWatch, rules: Mapping[str, Any]) -> SolveResult:
    found_by = watch.found_by if result["status"] == "success" else None
    return replace(SolveResult.from_dict(result, shape), instance=instance, found_by=found_by, options=rules)
