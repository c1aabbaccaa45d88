"""Command line: solve a JSON instance and print a readable summary.

    kvr-mtsp solve INSTANCE.json [--time-limit S] [--output RESULT.json] [--missing-cost C]

Bad input (unreadable file, malformed or mis-shaped document, unknown ids,
too many nodes) ends with a one-line message on standard error and exit
status 2; a result file that cannot be written gives exit status 1.
"""
from __future__ import annotations

import argparse
import json
import sys
from collections.abc import Sequence
from typing import Any, TextIO

import _kvr_core

from kvr_mtsp.json_ints import as_u64

PROG = "kvr-mtsp"
EXIT_BAD_INPUT = 2
EXIT_OUTPUT_FAILED = 1

# What the extension raises for bad input: RuntimeError (file, parse and
# shape errors), IndexError (unknown ids), ValueError (too many nodes).
INPUT_ERRORS = (RuntimeError, IndexError, ValueError, OverflowError)


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog=PROG, description="Multiple travelling salesman solver.")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    solve = commands.add_parser("solve", help="solve a JSON instance and print a summary")
    solve.add_argument("instance", metavar="INSTANCE.json", help="instance document")
    solve.add_argument(
        "--time-limit",
        type=float,
        default=-1.0,
        metavar="S",
        help="processor seconds of search; a positive value replaces the instance's own limit",
    )
    solve.add_argument("--output", metavar="RESULT.json", help="also write the result dictionary as JSON")
    solve.add_argument(
        "--missing-cost",
        type=float,
        metavar="C",
        help='arc costs at or above C count as no connection (sets the option "missing_cost"; default 9999)',
    )
    return parser


class InstanceView:
    """What the summary needs from the document: node ids, agent types, objective.

    The solver reports nodes by position in the document's "nodes" array; the
    summary shows their ids instead.
    """

    def __init__(self, document: Any) -> None:
        document = document if isinstance(document, dict) else {}
        nodes = document.get("nodes", [])
        agents = document.get("agents", [])
        options = document.get("options", {})
        self.node_ids = [node_id(node.get("id")) if isinstance(node, dict) else None for node in nodes]
        self.agent_types = [agent.get("type") if isinstance(agent, dict) else None for agent in agents]
        objective = options.get("objective") if isinstance(options, dict) else None
        self.objective = "min_max" if objective in ("min_max", "MIN_MAX") else "min_sum"
        limit = options.get("time_limit", 60.0) if isinstance(options, dict) else 60.0
        self.time_limit = float(limit) if isinstance(limit, (int, float)) else None

    @classmethod
    def read(cls, path: str) -> InstanceView:
        """Reads the document again; an unreadable one gives an empty view."""
        try:
            with open(path, "rb") as stream:
                return cls(json.loads(stream.read().decode("utf-8-sig")))
        except (OSError, ValueError):
            return cls({})

    def label(self, position: int) -> str:
        if 0 <= position < len(self.node_ids) and self.node_ids[position] is not None:
            return str(self.node_ids[position])
        return f"#{position}"

    def agent_type(self, index: int) -> str | None:
        return self.agent_types[index] if index < len(self.agent_types) else None


def node_id(value: Any) -> int | None:
    """A node id as the instance reader stores it (unsigned 64-bit), None for a non-number."""
    try:
        return as_u64(value)
    except (TypeError, OverflowError):
        return None


def fmt(value: float) -> str:
    """A cost with at most 10 significant digits, always with a decimal point."""
    return repr(float(f"{value:.10g}"))


def status_line(result: dict[str, Any]) -> str:
    if result["status"] == "success":
        if result["timeout"]:
            return "success (time limit reached; best solution found so far)"
        return "success (search finished within the time limit)"
    if result["timeout"]:
        return "failed (time limit reached before any solution)"
    return "failed (the search ended without a solution)"


def limit_line(requested: float, view: InstanceView) -> str:
    if requested > 0:
        return f"{fmt(requested)} s processor time (from --time-limit)"
    if view.time_limit is None:
        return "the instance's own"
    return f"{fmt(view.time_limit)} s processor time (from the instance)"


def write_summary(
    path: str, result: dict[str, Any], view: InstanceView, requested_limit: float, out: TextIO
) -> None:
    stats = result["statistics"]
    objective_text = {
        "min_max": "min_max (minimise the longest route)",
        "min_sum": "min_sum (minimise the total of all routes)",
    }[view.objective]
    lines = [
        f"instance     {path}",
        f"status       {status_line(result)}",
        f"objective    {objective_text}",
        f"time limit   {limit_line(requested_limit, view)}",
        f"max cost     {fmt(stats['max_cost'])}",
        f"sum cost     {fmt(stats['sum_cost'])}",
        "routes (node ids)",
    ]
    for index, route in enumerate(result["routes"]):
        agent_type = view.agent_type(index)
        who = f"agent {route['agent_id']}" + (f" [{agent_type}]" if agent_type is not None else "")
        path_text = " -> ".join(view.label(p) for p in route["path"]) or "(no route)"
        idle = "  (serves no target)" if route["path"] and len(route["path"]) <= 2 else ""
        lines.append(f"  {who:<20} cost {fmt(route['cost']):>10}   {path_text}{idle}")
    lines += [
        f"solve time   {stats['solve_time']:.3f} s wall clock (set-up included)",
        f"search       {stats['n_generated']} search nodes generated, {stats['n_expanded']} expanded "
        "since the last solution",
        f"last update  {stats['last_update_time']:.4f} s processor time",
    ]
    if result["anytime"]:
        lines.append("improvements (processor time: max cost, sum cost)")
        for point in result["anytime"]:
            lines.append(f"  {point['time']:9.4f} s: {fmt(point['max_cost'])}, {fmt(point['sum_cost'])}")
    else:
        lines.append("improvements none")
    out.write("\n".join(lines) + "\n")


def one_line(error: BaseException) -> str:
    return " ".join(str(error).split()) or type(error).__name__


def with_option(path: str, key: str, value: Any) -> str | None:
    """The document at `path` as text with options[key] set, or None when it
    cannot be read as a JSON object with an "options" object (the solver then
    reads the file itself and reports what is wrong)."""
    def reject(constant: str):
        raise ValueError(constant)

    try:
        with open(path, "rb") as stream:
            document = json.loads(stream.read().decode("utf-8-sig"), parse_constant=reject)
    except (OSError, ValueError):
        return None
    if not isinstance(document, dict) or not isinstance(document.setdefault("options", {}), dict):
        return None
    document["options"][key] = value
    return json.dumps(document)


def solve_command(args: argparse.Namespace) -> int:
    try:
        text = None if args.missing_cost is None else with_option(args.instance, "missing_cost", args.missing_cost)
        if text is None:
            result = _kvr_core.solve_json_file(args.instance, args.time_limit)
        else:
            result = _kvr_core.solve_json_str(text, args.time_limit)
    except INPUT_ERRORS as error:
        print(f"{PROG}: error: {one_line(error)}", file=sys.stderr)
        return EXIT_BAD_INPUT
    write_summary(args.instance, result, InstanceView.read(args.instance), args.time_limit, sys.stdout)
    if args.output:
        try:
            with open(args.output, "w", encoding="utf-8") as stream:
                json.dump(result, stream, indent=2)
                stream.write("\n")
        except OSError as error:
            print(f"{PROG}: error: cannot write {args.output}: {one_line(error)}", file=sys.stderr)
            return EXIT_OUTPUT_FAILED
        print(f"result written to {args.output}")
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    args = build_parser().parse_args(argv)  # "solve" is the only command
    return solve_command(args)
