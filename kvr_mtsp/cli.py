"""Command line: solve a JSON instance and print a readable summary.

    kvr-mtsp solve INSTANCE.json [--time-limit S] [--wall-time-limit S] [--output RESULT.json] [--verbose] [--quiet]
                   [--missing-cost C] [--memory-limit-mb MB]
                   [--improve | --no-improve] [--seed N] [--max-iterations N]
                   [--max-no-improvement N] [--threads N] [--capacity | --no-capacity]
                   [--precedence | --no-precedence] [--schedule | --no-schedule]
                   [--plot ROUTES.png]
    kvr-mtsp --version

The subcommands plot, convert, validate, check and batch live in their own
modules (kvr_mtsp.plot, kvr_mtsp.convert, kvr_mtsp.validate,
kvr_mtsp.checker, kvr_mtsp.batch_cli).

While the solve runs, standard error shows its progress (kvr_mtsp.progress):
a progress bar on a terminal, one "[progress] ..." line per improving
solution otherwise; --quiet turns it off.

Exit status: 0 when a solution was found; 1 when the search ended without
one ("failed"), or when the result file could not be written after the
solve; 2 for bad input or arguments (an instance that cannot be read or that
the solver rejects, a time limit that is not a positive finite number, a
result file that cannot be written, found before the solve starts); 130
after Ctrl-C and 143 after SIGTERM (the summary of the best solution found
so far is printed and the result file written first). Every error is one
line on standard error naming what to fix (argument errors also show the
usage).

The solve goes through `kvr_mtsp.solve`'s path (kvr_mtsp.api): the solver's
reader reads the file once into a Problem, whose refusals name the element
and key (kvr_mtsp.report words them), and solve_with sets the flags in its
options and solves it. The summary, the result file and the plot are made
from the SolveResult. The command line also reads the document itself,
for validate's checks (`kvr_mtsp.validate.before_solve`: errors stop the
solve in validate's words, warnings are printed and it goes on; the
solver's own lines about the same unknown keys and unenforced fields are
then left out), and, without its cost matrices, for the plot's coordinates
and the console summary.
"""
from __future__ import annotations

import argparse
import contextlib
import json
import math
import os
import signal
import sys
from collections.abc import Sequence
from typing import Any, TextIO

import _kvr_core

from kvr_mtsp import __version__, batch_cli, checker, convert, plot, validate
from kvr_mtsp.console import ConsolePrinter
from kvr_mtsp.api import MAX_NO_IMPROVEMENT, SolveResult, read, solve_with
from kvr_mtsp.instance import InstanceView
from kvr_mtsp.json_text import JsonTextError, loads
from kvr_mtsp.progress import ProgressDisplay, fmt
from kvr_mtsp.references import unservable_node
from kvr_mtsp.report import INPUT_ERRORS, explain, result_document, why_failed
from kvr_mtsp.signals import exit_status, stop_signals_raise
from kvr_mtsp.usage import (
    EXIT_BAD_INPUT,
    PROG,
    BadInput,
    add_solve_switches,
    finite_number,
    positive_seconds,
    positive_whole,
    read_bytes,
    write_atomically,
)

EXIT_SOLVED = 0
EXIT_NO_SOLUTION = 1
EXIT_OUTPUT_FAILED = 1



def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog=PROG, description="Multiple travelling salesman solver.")
    parser.add_argument("--version", action="version", version=f"{PROG} {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    solve = commands.add_parser("solve", help="solve a JSON instance and print a summary")
    solve.add_argument("instance", metavar="INSTANCE.json", help="instance document")
    solve.add_argument(
        "--time-limit",
        type=positive_seconds,
        default=None,
        metavar="S",
        help="processor seconds of search (positive), of every thread together; replaces the instance's "
        "own limit",
    )
    solve.add_argument(
        "--wall-time-limit",
        type=positive_seconds,
        default=None,
        metavar="S",
        help='wall-clock seconds of search (positive; sets the option "wall_time_limit"); the solve ends at '
        "whichever limit comes first",
    )
    solve.add_argument(
        "--output",
        metavar="RESULT.json",
        help="also write the result document as JSON, with node ids and agent indices added to each route",
    )
    solve.add_argument(
        "--verbose",
        action="store_true",
        help="show the solver's console lines as they are, without summarising repeated warnings, "
        "and each route's schedule, one line per stop",
    )
    solve.add_argument(
        "--quiet",
        action="store_true",
        help="no live progress on standard error (by default a progress bar on a terminal, "
        "otherwise one line per improving solution)",
    )
    solve.add_argument(
        "--memory-limit-mb",
        type=finite_number,
        metavar="MB",
        help='megabytes the search may hold (sets the option "memory_limit_mb"; default: a quarter of the '
        "physical memory, at most 8192)",
    )
    add_solve_switches(solve)
    solve.add_argument("--seed", type=int, metavar="N", help="random seed of the improvement engine")
    solve.add_argument(
        "--max-iterations", type=int, metavar="N", help="iterations of the improvement engine (0: no limit)"
    )
    solve.add_argument(
        "--max-no-improvement",
        type=int,
        metavar="N",
        help="end the improvement engine after N iterations without a better solution (0: no limit; "
        f"default: the instance's own option, else {MAX_NO_IMPROVEMENT})",
    )
    solve.add_argument(
        "--threads",
        type=positive_whole("threads"),
        metavar="N",
        help="threads of the improvement engine (sets the option \"threads\"; default: the cores this "
        "process may use); the processor-time limit counts every thread, so N threads use it up about N "
        "times as fast as the wall clock: see --wall-time-limit",
    )
    solve.add_argument(
        "--schedule",
        action=argparse.BooleanOptionalAction,
        default=True,
        help="give each route its schedule: arrival, start of service, departure and load per stop "
        '(sets the option "schedule"; default: on)',
    )
    solve.add_argument(
        "--missing-cost",
        type=finite_number,
        metavar="C",
        help='arc costs at or above C count as no connection (sets the option "missing_cost"; default 9999)',
    )
    solve.add_argument("--plot", metavar="ROUTES.png", help="also draw the routes and the improvements (needs matplotlib)")
    solve.set_defaults(run=solve_command)
    plot.register(commands)
    convert.register(commands)
    validate.register(commands)
    checker.register(commands)
    batch_cli.register(commands)
    return parser


# Bytes the command line holds per byte of the document while the solve
# runs: the view of the document (without its cost matrices) and what the
# solver's reader left behind.
DOCUMENT_MEMORY_FACTOR = 4


def solver_memory_budget(args: argparse.Namespace, problem: _kvr_core.Problem) -> float | None:
    """The "memory_limit_mb" the solver gets: the budget (the flag, else the
    document's option or the solver's default, as read into `problem`) less
    what the document holds during the solve. A budget that is not a
    positive finite number is passed on as it was given (the flag, or None to
    keep the document's own), for the solver to refuse. Raises BadInput when
    the document alone takes the whole budget."""
    flag = args.memory_limit_mb
    budget = flag if flag is not None else problem.options().memory_limit_mb
    if not (0 < budget < math.inf):
        return flag
    try:
        size = os.path.getsize(args.instance)
    except OSError:
        return flag
    document_mb = DOCUMENT_MEMORY_FACTOR * size / (1 << 20)
    if document_mb >= budget:
        raise BadInput(
            f"{args.instance}: the document itself takes about {math.ceil(document_mb)} MB of the memory budget of "
            f'{fmt(budget)} MB while it is solved; raise --memory-limit-mb (the option "memory_limit_mb")'
        )
    return budget - document_mb


def flag_options(args: argparse.Namespace, memory_limit_mb: float | None) -> dict[str, Any]:
    """The options the flags set (None: the document's own)."""
    return {
        "improve": args.improve,
        "wall_time_limit": args.wall_time_limit,
        "missing_cost": args.missing_cost,
        "memory_limit_mb": memory_limit_mb,
        "seed": args.seed,
        "max_iterations": args.max_iterations,
        "max_no_improvement": args.max_no_improvement,
        "threads": args.threads,
        "enforce_capacity": args.capacity,
        "enforce_precedence": args.precedence,
        "schedule": args.schedule,
    }


def status_line(result: SolveResult, stopped_by: str | None = None, memory_stop: bool = False) -> str:
    if stopped_by is not None:
        return f"{result.status} (interrupted by {stopped_by}; best solution found so far)"
    limit = "memory budget" if memory_stop else "time limit"
    if result.solved:
        if result.timeout:
            return f"success ({limit} reached; best solution found so far)"
        return "success (search finished within the time limit)"
    if result.timeout:
        return f"failed ({limit} reached before any solution)"
    return "failed (the search ended without a solution)"


def limit_line(requested: float | None, own: float, own_given: bool) -> str:
    """The time limit of the solve: the flag's, the document's own, or the
    default when the document sets none (`own_given` false)."""
    if requested is not None:
        return f"{fmt(requested)} s processor time (from --time-limit)"
    if own_given:
        return f"{fmt(own)} s processor time (from the instance)"
    return f"{fmt(own)} s processor time (the default; the instance sets none)"


# The summary's words for the part that found the solution (a progress record's phase).
FINDERS = {"search": "the focal search", "engine": "the improvement engine"}


def search_line(stats: Any, found_by: str | None) -> str:
    """Which part found the solution; without one, the focal search's counts."""
    if found_by is None:
        return (f"search       {stats.n_generated} search nodes generated, {stats.n_expanded} expanded "
                "since the last solution")
    return f"found by     {FINDERS.get(found_by, found_by)}"


def id_offset(routes: Any) -> int | None:
    """The constant c when every node id on the routes is its position plus
    c (as in converted TSPLIB documents, whose ids count from 1); else None."""
    pairs = [(p, node_id) for route in routes for p, node_id in zip(route.positions, route.node_ids)]
    if not pairs or any(node_id is None for _, node_id in pairs):
        return None
    offset = pairs[0][1] - pairs[0][0]
    return offset if all(node_id == p + offset for p, node_id in pairs) else None


def route_text(labels: list[str], free_last_leg: bool) -> str:
    if free_last_leg:
        return " -> ".join(labels[:-1]) + f" (-> {labels[-1]} free)"
    return " -> ".join(labels) or "(no route)"


def stop_lines(route: Any, labels: list[str], show_loads: bool) -> list[str]:
    """One line per stop of the route's schedule: the node, when the agent
    arrives, starts service (and how long it waited) and leaves, and, with
    `show_loads`, the load after the stop."""
    lines = []
    for label, stop in zip(labels, route.stops or ()):
        load = f"  load {fmt(stop.load or 0):>8}" if show_loads else ""
        wait = f"  (waited {fmt(stop.wait)})" if stop.wait > 0 else ""
        lines.append(f"  {'':<20} {label:>8}  arrive {fmt(stop.arrival):>10}  start {fmt(stop.start):>10}"
                     f"  leave {fmt(stop.departure):>10}{load}{wait}")
    return lines


def write_summary(
    path: str,
    result: SolveResult,
    limit_text: str,
    out: TextIO,
    stopped_by: str | None = None,
    memory_stop: bool = False,
    found_by: str | None = None,
    schedule: bool = False,
) -> None:
    """The summary of a solve; with `schedule`, each route is followed by its
    schedule (the routes' stops), one line per stop."""
    stats = result.statistics
    objective_text = {
        "min_max": "min_max (minimise the longest route)",
        "min_sum": "min_sum (minimise the total of all routes)",
    }[result.objective_type]
    lines = [
        f"instance     {path}",
        f"status       {status_line(result, stopped_by, memory_stop)}",
        f"objective    {objective_text}",
        f"time limit   {limit_text}",
        f"max cost     {fmt(stats.max_cost)}",
        f"sum cost     {fmt(stats.sum_cost)}",
        "routes (node ids)",
    ]
    any_free = any_positions = False
    # Ids that are the positions plus a constant are said once below, not under every route.
    offset = id_offset(result.routes)
    # Loads are shown where capacities were enforced and some route carries one.
    show_loads = any((route.load or 0) > 0 for route in result.routes)
    for route in result.routes:
        who = f"agent {route.agent_id}" + (f" [{route.agent_type}]" if route.agent_type is not None else "")
        any_free |= route.free_last_leg
        ids = [str(node_id) if node_id is not None else f"#{p}" for p, node_id in zip(route.positions, route.node_ids)]
        idle = "  (serves no target)" if route.positions and not route.serves_targets else ""
        load = f" load {fmt(route.load or 0):>8}" if show_loads else ""
        lines.append(f"  {who:<20} cost {fmt(route.cost):>10}{load}   {route_text(ids, route.free_last_leg)}{idle}")
        if schedule:
            lines += stop_lines(route, ids, show_loads)
        positions = [str(p) for p in route.positions]
        if positions != ids:
            any_positions = True
            if offset is None:
                lines.append(f"  {'':<20} {'positions':>15}   {route_text(positions, route.free_last_leg)}")
    if any_free:
        lines.append("  (-> N free): the route is open; its last leg, into the agent's start or end node,")
        lines.append("               costs nothing and is not in its cost")
    if any_positions:
        here = "" if offset is None else f" (here each node id {'minus' if offset > 0 else 'plus'} {abs(offset)})"
        lines.append(f'  positions: places in the document\'s "nodes" array{here}, which the result document')
        lines.append("             (--output) and Result.paths use for routes")
    lines += [
        f"solve time   {stats.solve_time:.3f} s wall clock (set-up included)",
        search_line(stats, found_by),
        f"last update  {stats.last_update_time:.4f} s processor time",
    ]
    if result.anytime:
        lines.append("improvements (processor time, wall clock: max cost, sum cost)")
        for point in result.anytime:
            wall = "" if point.wall_time is None else f", {point.wall_time:9.4f} s"
            lines.append(f"  {point.time:9.4f} s{wall}: {fmt(point.max_cost)}, {fmt(point.sum_cost)}")
    else:
        lines.append("improvements none")
    out.write("\n".join(lines) + "\n")


def check_output_path(path: str, instance: str) -> None:
    """Raises BadInput when `path` cannot be written or is the instance file
    itself. An existing file is opened for appending and left as it is; a new
    one is created and removed."""
    if os.path.exists(path) and os.path.exists(instance) and os.path.samefile(path, instance):
        raise BadInput(f"cannot write the result to {path}: it is the instance file, which it would replace")
    if os.path.isdir(path):
        raise BadInput(f"cannot write the result to {path}: it is a directory")
    existed = os.path.lexists(path)
    try:
        with open(path, "ab"):
            pass
    except OSError as error:
        raise BadInput(f"cannot write the result to {path}: {error.strerror or error}") from None
    if not existed:
        try:
            os.remove(path)
        except OSError:
            pass


def read_instance(path: str) -> InstanceView:
    """The view of the document in the file; BadInput when the file cannot
    be read or holds JSON the package's reader refuses."""
    raw = read_bytes(path)
    try:
        return InstanceView(loads(raw))
    except JsonTextError as error:
        if error.syntax:
            return InstanceView(None)  # the solver's reader words what is wrong
        raise BadInput(f"{path}: {error}") from None


def without_matrices(view: InstanceView) -> None:
    """Lets go of the cost matrices the view holds (the solver reads its own),
    the largest part of a document; their names stay for the checks."""
    if isinstance(view.raw, dict) and isinstance(view.raw.get("costs"), dict):
        view.raw["costs"] = dict.fromkeys(view.raw["costs"])


def read_problem(path: str, console: ConsolePrinter) -> _kvr_core.Problem:
    """The Problem the solver's reader reads from the file (its warnings to
    `console`); BadInput with the reader's words (the element and key it
    refused) when it refuses it."""
    try:
        return read(path, console)
    except INPUT_ERRORS as error:
        raise BadInput(explain(error, path)) from None


def solve(
    args: argparse.Namespace,
    problem: _kvr_core.Problem,
    options: dict[str, Any],
    on_progress: ProgressDisplay | None,
    console: ConsolePrinter,
) -> SolveResult:
    """Solves the Problem read from the instance file with the flags' options
    (kvr_mtsp.solve's path); its cost matrices move into the solve. The
    solver's lines go to `console`, which prints them (condensed unless
    --verbose) once the solve ends, however it ends."""
    try:
        return solve_with(problem, options, time_limit=args.time_limit, on_progress=on_progress, on_console=console)
    finally:
        console.finish()


def sets_time_limit(view: InstanceView) -> bool:
    """Whether the document's "options" set a "time_limit"."""
    options = view.raw.get("options") if isinstance(view.raw, dict) else None
    return isinstance(options, dict) and "time_limit" in options


def solve_command(args: argparse.Namespace) -> int:
    # The solver's lines, of the reading and of the solve, printed as one
    # condensed listing (unless --verbose) when the solve ends.
    console = ConsolePrinter(verbose=args.verbose, said=validate.SAID_BEFORE_SOLVE)
    try:
        for path in filter(None, (args.output, args.plot)):
            check_output_path(path, args.instance)
        view = read_instance(args.instance)
        # Validate's checks (they need the matrices' shapes), said once the reader has taken the document.
        found = validate.before_solve(view.raw, validate.Settings.of(args))
        # Before the solver's reader runs, so that the two readings' peaks do not add up.
        without_matrices(view)
        problem = read_problem(args.instance, console)
        if args.plot:
            plot.check_plottable(view, args.instance)
        options = flag_options(args, solver_memory_budget(args, problem))
        validate.refuse_or_warn(args.instance, found)
    except BadInput as error:
        console.finish()
        print(f"{PROG}: error: {error}", file=sys.stderr)
        return EXIT_BAD_INPUT
    own_limit = problem.options().time_limit
    received: list[int] = []
    budget = args.time_limit if args.time_limit is not None else own_limit
    own_wall = problem.options().wall_time_limit
    wall_budget = args.wall_time_limit if args.wall_time_limit is not None else own_wall if own_wall > 0 else None
    display = None if args.quiet else ProgressDisplay(budget, wall_budget=wall_budget)
    try:
        with stop_signals_raise(received), display or contextlib.nullcontext():
            result = solve(args, problem, options, display, console)
    except INPUT_ERRORS as error:
        print(f"{PROG}: error: {explain(error, args.instance)}", file=sys.stderr)
        return EXIT_BAD_INPUT
    except KeyboardInterrupt:
        # The solver stops at once and keeps nothing when it had no solution yet.
        signum = received[0] if received else signal.SIGINT
        print(f"{PROG}: interrupted by {signal.Signals(signum).name} before any solution was found",
              file=sys.stderr)
        return exit_status(signum)
    stopped_by = signal.Signals(received[0]).name if received else None
    limit_text = limit_line(args.time_limit, own_limit, sets_time_limit(view))
    if args.wall_time_limit is not None:
        limit_text += f", {fmt(args.wall_time_limit)} s wall clock (from --wall-time-limit)"
    elif own_wall > 0:
        limit_text += f", {fmt(own_wall)} s wall clock (from the instance)"
    write_summary(args.instance, result, limit_text, sys.stdout, stopped_by, console.memory_stop, result.found_by,
                  schedule=args.verbose)
    if args.output:
        try:
            write_atomically(args.output, json.dumps(result_document(result), indent=2) + "\n")
        except OSError as error:
            print(f"{PROG}: error: cannot write {args.output}: {error.strerror or error}", file=sys.stderr)
            return EXIT_OUTPUT_FAILED
        print(f"result written to {args.output}")
    if args.plot:
        try:
            plot.draw(view.raw, result_document(result), args.plot, args.instance)
        except OSError as error:
            print(f"{PROG}: error: cannot write {args.plot}: {error.strerror or error}", file=sys.stderr)
            return EXIT_OUTPUT_FAILED
        print(f"routes drawn in {args.plot}")
    if received:
        return exit_status(received[0])
    if not result.solved:
        sys.stdout.flush()
        limit = args.time_limit if args.time_limit is not None else own_limit
        print(f"{PROG}: {why_failed(result, limit, unservable_node(view), console.memory_stop)}", file=sys.stderr)
        return EXIT_NO_SOLUTION
    return EXIT_SOLVED


def main(argv: Sequence[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    return args.run(args)
