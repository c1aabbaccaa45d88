"""KVR MTSP Solver — C++ core bindings"""

from collections.abc import Callable, Sequence
from typing import Any, ClassVar

# Ids and counts are unsigned 64-bit integers (negative values raise
# TypeError); float parameters also accept int.

class ObjectiveType:
    MinMax: ClassVar[ObjectiveType]
    MinSum: ClassVar[ObjectiveType]
    __members__: ClassVar[dict[str, ObjectiveType]]
    def __init__(self, value: int) -> None: ...
    def __int__(self) -> int: ...
    def __index__(self) -> int: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

class NodeType:
    DEPOT: ClassVar[NodeType]
    TARGET: ClassVar[NodeType]
    __members__: ClassVar[dict[str, NodeType]]
    def __init__(self, value: int) -> None: ...
    def __int__(self) -> int: ...
    def __index__(self) -> int: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

class Position:
    x: float
    y: float
    z: float
    def __init__(self) -> None: ...

class Node:
    id: int
    # Reading gives a view into the node; assigning copies the position in.
    position: Position
    type: NodeType
    demand: float
    def __init__(self) -> None: ...

class Agent:
    id: int
    type: str
    start_node: int
    end_node: int
    capacity_limit: float
    time_limit: float
    def __init__(self) -> None: ...

class Options:
    return_to_end: bool
    objective: ObjectiveType
    # Processor seconds of search, of every thread of the process together.
    time_limit: float
    # Wall-clock seconds of search; 0 or less: none (the solve ends at the first limit reached).
    wall_time_limit: float
    memory_limit_mb: float
    improve: bool
    seed: int
    max_iterations: int
    # The engine ends after this many iterations without a better solution; 0: no limit.
    max_no_improvement: int
    # Threads of the improvement engine, one island each (default 1: the calling thread alone).
    threads: int
    # The demands on an agent's route add up to at most its capacity (0 or less: none).
    enforce_capacity: bool
    # Arc costs at or above this value are no connection (default 9999.0).
    missing_cost: float
    # Precedence pairs are honoured (default False: carried without effect).
    enforce_precedence: bool
    # Routes carry their schedule: per stop the arrival, start, departure and load.
    schedule: bool
    def __init__(self) -> None: ...

class AssignmentConstraint:
    def __init__(self) -> None: ...
    def set_assignment(self, node: int, types: Sequence[str]) -> None: ...

class TimeWindowConstraint:
    def __init__(self) -> None: ...
    def set_timewindow(self, node: int, start: float, end: float) -> None: ...

class Problem:
    def __init__(self) -> None: ...
    def add_node(self, node: Node) -> None: ...
    def add_agent(self, agent: Agent, id: int) -> None: ...
    def set_cost_matrix(self, agent_type: str, matrix: Sequence[Sequence[float]]) -> None: ...
    def set_assignment_constraint(self, constraint: AssignmentConstraint) -> None: ...
    def set_timewindow_constraint(self, constraint: TimeWindowConstraint) -> None: ...
    # The three accessors return objects that write through to the problem;
    # re-fetch the lists after add_node/add_agent.
    def options(self) -> Options: ...
    def nodes(self) -> list[Node]: ...
    def agents_ordered(self) -> list[Agent]: ...

class Result:
    # Built only by Solver; calling Result() raises TypeError.
    @property
    def n_generated(self) -> int: ...
    @property
    def n_expanded(self) -> int: ...
    @property
    def timeout(self) -> bool: ...
    @property
    def last_update_time(self) -> float: ...
    @property
    def paths(self) -> dict[int, list[int]]: ...
    @property
    def times(self) -> dict[int, float]: ...
    # Demand of the targets on each route, keyed as paths.
    @property
    def loads(self) -> dict[int, float]: ...
    # (node, arrival, start, departure, load) per stop, keyed as paths; only
    # with the option "schedule".
    @property
    def stops(self) -> dict[int, list[tuple[int, float, float, float, float]]]: ...

class ProgressRecord:
    # Made only by a running solve and handed to its on_progress callable;
    # calling ProgressRecord() raises TypeError. Costs are those of the best
    # solution so far, None before the first one.
    @property
    def cpu_time(self) -> float: ...
    @property
    def wall_time(self) -> float: ...
    @property
    def objective(self) -> float | None: ...
    @property
    def max_cost(self) -> float | None: ...
    @property
    def sum_cost(self) -> float | None: ...
    # "search" (the focal search and its post-optimisers) or "engine".
    @property
    def phase(self) -> str: ...
    # True for a new best solution, False for a periodic report.
    @property
    def improving(self) -> bool: ...

class ConsoleRecord:
    # One line of the solver's console, made only by the solver and handed to
    # an on_console callable; calling ConsoleRecord() raises TypeError.
    # "stdout" or "stderr": where the line goes without an on_console callable.
    @property
    def stream(self) -> str: ...
    # "warning" (about the input), "stop" (the solve ends early), "error" (a
    # fault inside the solver), "info", "progress" or "debug".
    @property
    def kind(self) -> str: ...
    # A stable name where a caller may react ("memory_stop", "no_assignment",
    # "blocked_pairs", ...), None for other lines.
    @property
    def code(self) -> str | None: ...
    # The values behind the text (such as {"node": 7}), a new dict on each read.
    @property
    def fields(self) -> dict[str, object]: ...
    # The exact text, without the line break.
    @property
    def text(self) -> str: ...

# The most nodes the focal search takes; an instance with more needs the
# option "improve" (the improvement engine alone solves it).
MAX_SEARCH_NODES: int

class Solver:
    def __init__(self, problem: Problem, options: Options) -> None: ...
    def solve(self, *, on_progress: Callable[[ProgressRecord], object] | None = None) -> int:
        """Run the KVR solver. Returns 1 on success, 0 on failure.
        on_progress: None, or a callable taking one ProgressRecord, called on this thread on every improving solution and, between them, at most once per second of processor time. When it raises, the solve stops as Ctrl-C stops it, the Solver keeps the best solution found so far (get_result()), and the exception propagates with that Result as its attribute 'result'; a KeyboardInterrupt raised in it acts exactly as Ctrl-C does.
        Ctrl-C stops a running solve within a fraction of a second: a solution found so far is kept (the result's timeout is True); before any solution the KeyboardInterrupt propagates. The Solver can solve again afterwards.
        The solve runs without the interpreter lock, so other Python threads run meanwhile. A Solver is used by one thread at a time: solve() while it solves raises RuntimeError, and so do get_result() and get_result_process() on another thread while it solves. Different Solver objects solve in different threads at the same time."""
    def get_result(self) -> Result:
        """The best solution of the last solve. On another thread while the Solver solves: RuntimeError."""
    def get_result_process(self) -> list[tuple[float, Result]]:
        """The anytime log of the last solve: (processor seconds, Result) per solution found. On another thread while the Solver solves: RuntimeError."""

def solve_json_file(
    input_path: str, time_limit: float = -1, *, on_progress: Callable[[ProgressRecord], object] | None = None
) -> dict[str, Any]:
    """Solve the instance document in the file input_path (UTF-8 JSON).

    time_limit: processor seconds of search; a positive value replaces the document's own
    limit ("options" "time_limit", default 60), any other keeps it.
    on_progress: None, or a callable taking one ProgressRecord, called on this thread on
    every improving solution (the entries of "anytime", in order; record.improving True)
    and, between them, at most once per second of processor time. When it raises, the
    solve stops as Ctrl-C stops it, and the exception propagates with the result dict of
    the best solution found so far (status "failed" when there is none) as its attribute
    'result'; a KeyboardInterrupt raised in it acts exactly as Ctrl-C does.

    Returns the result document as a dict: "status" ("success" or "failed"), "timeout"
    (the time limit, the memory budget or an interrupt ended the search), "routes" (one
    per agent in the order of "agents": "agent_id", "path" as positions in "nodes",
    "cost", "load", the demand it carries, when "enforce_capacity" is on, and
    "stops" when "schedule" is on: per node of "path" its "position", "arrival",
    "start" of service after waiting, "departure" and, beside "load", the "load" after it),
    "statistics" ("solve_time", "max_cost", "sum_cost", "n_generated",
    "n_expanded", "last_update_time") and "anytime" (the improving solutions: "time",
    "max_cost", "sum_cost").

    Raises RuntimeError for a text that is no JSON or a document of the wrong shape (for the
    latter with the attribute 'detail' naming the element and key, e.g. "agents[0] (agent 7)
    has no key 'end_node'"),
    IndexError naming the agent or type for an unknown node id or cost type, ValueError
    for repeated ids, a negative cost, a negative or non-finite demand with
    "enforce_capacity" on, a "seed", "max_iterations" or "max_no_improvement"
    outside the signed 64-bit range, tables and engine beyond "memory_limit_mb", or more
    than 256 nodes.
    Ctrl-C stops a running solve within a fraction of a second: the best solution found
    so far is returned with timeout True; before any solution the KeyboardInterrupt
    propagates.
    Reading and solving run without the interpreter lock, so other Python threads run
    meanwhile, and solves in different threads run at the same time.
    A file that cannot be read raises RuntimeError "Cannot open file: " + input_path."""

def solve_json_str(
    json_str: str, time_limit: float = -1, *, on_progress: Callable[[ProgressRecord], object] | None = None
) -> dict[str, Any]:
    """Solve the instance document held by the JSON text json_str.

    time_limit: processor seconds of search; a positive value replaces the document's own
    limit ("options" "time_limit", default 60), any other keeps it.
    on_progress: None, or a callable taking one ProgressRecord, called on this thread on
    every improving solution (the entries of "anytime", in order; record.improving True)
    and, between them, at most once per second of processor time. When it raises, the
    solve stops as Ctrl-C stops it, and the exception propagates with the result dict of
    the best solution found so far (status "failed" when there is none) as its attribute
    'result'; a KeyboardInterrupt raised in it acts exactly as Ctrl-C does.

    Returns the result document as a dict: "status" ("success" or "failed"), "timeout"
    (the time limit, the memory budget or an interrupt ended the search), "routes" (one
    per agent in the order of "agents": "agent_id", "path" as positions in "nodes",
    "cost", "load", the demand it carries, when "enforce_capacity" is on, and
    "stops" when "schedule" is on: per node of "path" its "position", "arrival",
    "start" of service after waiting, "departure" and, beside "load", the "load" after it),
    "statistics" ("solve_time", "max_cost", "sum_cost", "n_generated",
    "n_expanded", "last_update_time") and "anytime" (the improving solutions: "time",
    "max_cost", "sum_cost").

    Raises RuntimeError for a text that is no JSON or a document of the wrong shape (for the
    latter with the attribute 'detail' naming the element and key, e.g. "agents[0] (agent 7)
    has no key 'end_node'"),
    IndexError naming the agent or type for an unknown node id or cost type, ValueError
    for repeated ids, a negative cost, a negative or non-finite demand with
    "enforce_capacity" on, a "seed", "max_iterations" or "max_no_improvement"
    outside the signed 64-bit range, tables and engine beyond "memory_limit_mb", or more
    than 256 nodes.
    Ctrl-C stops a running solve within a fraction of a second: the best solution found
    so far is returned with timeout True; before any solution the KeyboardInterrupt
    propagates.
    Reading and solving run without the interpreter lock, so other Python threads run
    meanwhile, and solves in different threads run at the same time."""

def read_document(json_str: str, *, on_console: Callable[[ConsoleRecord], object] | None = None) -> Problem:
    """Read the instance document held by the JSON text json_str into a new Problem, its
    "options" in options(). Raises what solve_json_str raises for the document.
    on_console: None (warnings about the document go to standard error), or a callable
    taking one ConsoleRecord, called on this thread for each of them instead; an exception
    it raises propagates once the document is read."""

def read_document_file(
    input_path: str, *, on_console: Callable[[ConsoleRecord], object] | None = None
) -> Problem:
    """Read the instance document in the file input_path (UTF-8 JSON) into a new Problem, its
    "options" in options(). Raises what solve_json_file raises for the document.
    on_console: None (warnings about the document go to standard error), or a callable
    taking one ConsoleRecord, called on this thread for each of them instead; an exception
    it raises propagates once the document is read."""

def solve_problem(
    problem: Problem,
    time_limit: float = -1,
    *,
    consume_costs: bool = False,
    on_progress: Callable[[ProgressRecord], object] | None = None,
    on_console: Callable[[ConsoleRecord], object] | None = None,
    wall_times: bool = False,
) -> dict[str, Any]:
    """Solve problem under its options() and return the result document, as solve_json_str
    does for the document the problem was read from.
    consume_costs: True moves the problem's cost matrices into the solve instead of
    copying them (the problem is left without them).
    on_console: None (the solver's lines go to standard output and error), or a callable
    taking one ConsoleRecord, called on this thread for each line instead. When it
    raises, the solve stops and the exception propagates as one raised by on_progress
    does (raised while the solver is built: before the search, without 'result').
    wall_times: True gives every "anytime" entry its "wall_time" (wall-clock seconds
    since the start), as a positive "wall_time_limit" does.

    time_limit: processor seconds of search; a positive value replaces the document's own
    limit ("options" "time_limit", default 60), any other keeps it.
    on_progress: None, or a callable taking one ProgressRecord, called on this thread on
    every improving solution (the entries of "anytime", in order; record.improving True)
    and, between them, at most once per second of processor time. When it raises, the
    solve stops as Ctrl-C stops it, and the exception propagates with the result dict of
    the best solution found so far (status "failed" when there is none) as its attribute
    'result'; a KeyboardInterrupt raised in it acts exactly as Ctrl-C does.

    Returns the result document as a dict: "status" ("success" or "failed"), "timeout"
    (the time limit, the memory budget or an interrupt ended the search), "routes" (one
    per agent in the order of "agents": "agent_id", "path" as positions in "nodes",
    "cost", "load", the demand it carries, when "enforce_capacity" is on, and
    "stops" when "schedule" is on: per node of "path" its "position", "arrival",
    "start" of service after waiting, "departure" and, beside "load", the "load" after it),
    "statistics" ("solve_time", "max_cost", "sum_cost", "n_generated",
    "n_expanded", "last_update_time") and "anytime" (the improving solutions: "time",
    "max_cost", "sum_cost").

    Raises RuntimeError for a text that is no JSON or a document of the wrong shape (for the
    latter with the attribute 'detail' naming the element and key, e.g. "agents[0] (agent 7)
    has no key 'end_node'"),
    IndexError naming the agent or type for an unknown node id or cost type, ValueError
    for repeated ids, a negative cost, a negative or non-finite demand with
    "enforce_capacity" on, a "seed", "max_iterations" or "max_no_improvement"
    outside the signed 64-bit range, tables and engine beyond "memory_limit_mb", or more
    than 256 nodes.
    Ctrl-C stops a running solve within a fraction of a second: the best solution found
    so far is returned with timeout True; before any solution the KeyboardInterrupt
    propagates.
    Reading and solving run without the interpreter lock, so other Python threads run
    meanwhile, and solves in different threads run at the same time."""
