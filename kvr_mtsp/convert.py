"""TSPLIB and VRPLIB files as instance documents.

    kvr-mtsp convert FILE --agents M [--objective min_max|min_sum] [--depot ID] [--time-limit S] -o INSTANCE.json

The file is read by the `vrplib` package (the extra "convert"). Nodes keep
the file's numbering (1, 2, ..., n) as their ids, so their positions in the
document are the ids minus one. Costs:

- EUC_2D and EUC_3D: the Euclidean distances as real numbers, unrounded;
- EXPLICIT: the file's EDGE_WEIGHT_SECTION as it is (vrplib expands the
  triangular formats to the full matrix).

TSPLIB and VRPLIB know no missing arcs: every cost is a real distance. The
solver reads costs at or above the option "missing_cost" (default 9999) as
no connection, so a document whose largest cost reaches 9999 gets a
"missing_cost" above it (99999, 999999, ...), which keeps every arc usable
and every cost in the file's own units.

The depot is the file's DEPOT_SECTION (VRPLIB), else the first node, or the
node given with --depot. Every agent starts and ends at a depot; with
several depots the agents are dealt to them in turn. Demands and the
vehicle capacity of a VRPLIB file are carried into the document ("demand",
"capacity"), which the solver holds routes to with the option
"enforce_capacity" (on in `kvr_mtsp.solve` and the command line).
"""
from __future__ import annotations

import argparse
import json
import math
from dataclasses import dataclass
from typing import Any

from kvr_mtsp.usage import BadInput, MissingExtra, positive_seconds, positive_whole, report

NO_CONNECTION = 9999.0  # the solver's default "missing_cost"
AGENT_TYPE = "truck"
EUCLIDEAN = {"EUC_2D": 2, "EUC_3D": 3}


@dataclass
class LibraryInstance:
    """What a TSPLIB or VRPLIB file gives, by node position (0 = the file's node 1)."""

    name: str
    coordinates: list[tuple[float, ...]] | None  # None when the file gives none
    costs: list[list[float]]
    depots: list[int]  # positions; empty when the file names none
    demands: list[float] | None
    capacity: float | None


def read_file(path: str) -> dict[str, Any]:
    """The sections of a TSPLIB or VRPLIB file as vrplib reads them (lower-case keys)."""
    try:
        import vrplib
    except ImportError:
        raise MissingExtra("converting TSPLIB and VRPLIB files", "vrplib", "convert") from None
    try:
        return vrplib.read_instance(path, compute_edge_weights=False)
    except OSError as error:
        raise BadInput(f"cannot read {path}: {error.strerror or error}") from None
    except Exception as error:  # vrplib raises RuntimeError, ValueError, IndexError, ... on malformed files
        raise BadInput(f"{path} is no TSPLIB or VRPLIB file vrplib can read: {error}") from None


def load_coordinates(path: str) -> tuple[str, list[tuple[float, float]]]:
    """Name and node coordinates of a TSPLIB EUC_2D file."""
    data = read_file(path)
    if data.get("edge_weight_type") != "EUC_2D":
        raise BadInput(f"{path}: only EUC_2D instances are supported")
    return str(data["name"]), [(float(x), float(y)) for x, y in data["node_coord"]]


def euclidean_matrix(coordinates: list[tuple[float, ...]], factor: float = 1.0) -> list[list[float]]:
    """Unrounded Euclidean distances between all pairs of points, times `factor`."""
    if all(len(point) == 2 for point in coordinates):  # hypot: the benchmark instances' exact values
        return [[math.hypot(ax - bx, ay - by) * factor for bx, by in coordinates] for ax, ay in coordinates]
    return [[math.dist(a, b) * factor for b in coordinates] for a in coordinates]


def read_instance(path: str) -> LibraryInstance:
    data = read_file(path)
    kind = str(data.get("edge_weight_type", ""))
    coordinates = data.get("node_coord")
    if coordinates is None:
        coordinates = data.get("display_data")  # EXPLICIT files may carry coordinates for display only
    points = [tuple(float(c) for c in point) for point in coordinates] if coordinates is not None else None
    if kind in EUCLIDEAN:
        if points is None or any(len(point) != EUCLIDEAN[kind] for point in points):
            raise BadInput(f"{path}: {kind} needs a NODE_COORD_SECTION with {EUCLIDEAN[kind]} coordinates per node")
        costs = euclidean_matrix(points)
    elif kind == "EXPLICIT":
        if data.get("edge_weight") is None:
            raise BadInput(f"{path}: EXPLICIT edge weights need an EDGE_WEIGHT_SECTION")
        costs = data["edge_weight"].tolist()
    else:
        raise BadInput(
            f"{path}: EDGE_WEIGHT_TYPE {kind or '(none)'} is not supported (supported: EUC_2D, EUC_3D, EXPLICIT)"
        )
    check_costs(path, costs)
    demands = data.get("demand")
    capacity = data.get("capacity")
    return LibraryInstance(
        name=str(data.get("name", "")),
        coordinates=points,
        costs=costs,
        depots=[int(d) for d in data.get("depot", [])],
        demands=[float(d) for d in demands] if demands is not None else None,
        capacity=float(capacity) if capacity is not None else None,
    )


def check_costs(path: str, costs: list[list[float]]) -> None:
    """The solver refuses negative and non-finite costs; say so here, naming the file's nodes."""
    for row_index, row in enumerate(costs):
        for column, cost in enumerate(row):
            if not (math.isfinite(cost) and cost >= 0):
                raise BadInput(
                    f"{path}: the cost from node {row_index + 1} to node {column + 1} is {cost}; "
                    "the solver takes only finite, non-negative costs"
                )


def missing_cost_above(largest: float) -> float | None:
    """None when every cost stays below the solver's default threshold, else
    the smallest of 99999, 999999, ... above the largest cost."""
    if largest < NO_CONNECTION:
        return None
    threshold = 99999.0
    while threshold <= largest:
        threshold = threshold * 10 + 9
    return threshold


def to_document(
    instance: LibraryInstance,
    agents: int,
    objective: str = "min_sum",
    depot: int | None = None,
    time_limit: float | None = None,
) -> dict[str, Any]:
    """The instance document of `instance` with `agents` agents; `depot` is a
    node id of the file (1-based), replacing the file's own depots."""
    n = len(instance.costs)
    if depot is not None:
        if not 1 <= depot <= n:
            raise BadInput(f"--depot {depot} names no node; the nodes are numbered 1 to {n}")
        depots = [depot - 1]
    else:
        depots = instance.depots or [0]
    if agents < len(depots):
        raise BadInput(f"the instance has {len(depots)} depots, but only {agents} agents to start at them")
    points = instance.coordinates or [(0.0, 0.0)] * n
    nodes = []
    for position, point in enumerate(points):
        x, y, z = (tuple(point) + (0.0, 0.0))[:3]
        node = {"id": position + 1, "x": x, "y": y, "z": z, "type": "DEPOT" if position in depots else "TARGET"}
        if instance.demands is not None:
            node["demand"] = instance.demands[position]
        nodes.append(node)
    agent_records = []
    for k in range(agents):
        home = depots[k % len(depots)] + 1
        agent = {"id": k + 1, "type": AGENT_TYPE, "start_node": home, "end_node": home}
        if instance.capacity is not None:
            agent["capacity"] = whole(instance.capacity)
        agent_records.append(agent)
    options: dict[str, Any] = {"return_to_end": True, "objective": objective}
    if time_limit is not None:
        options["time_limit"] = time_limit
    threshold = missing_cost_above(max((max(row) for row in instance.costs if row), default=0.0))
    if threshold is not None:
        options["missing_cost"] = threshold
    document: dict[str, Any] = {"name": instance.name} if instance.name else {}
    document.update(
        nodes=nodes,
        agents=agent_records,
        costs={AGENT_TYPE: instance.costs},
        constraints=[{"kind": "assignment", "items": [{"node": node["id"], "types": [AGENT_TYPE]} for node in nodes]}],
        options=options,
    )
    return document


def whole(value: float) -> int | float:
    """An integral number as an int, so that the document shows it as one."""
    return int(value) if float(value).is_integer() else value


def register(commands: Any) -> None:
    """Adds the "convert" subcommand to the command line's subparsers."""
    convert = commands.add_parser("convert", help="write a TSPLIB or VRPLIB file as an instance document")
    convert.add_argument("file", metavar="FILE", help="TSPLIB (.tsp) or VRPLIB (.vrp) file")
    convert.add_argument("--agents", type=positive_whole("agents"), required=True, metavar="M", help="number of agents")
    convert.add_argument(
        "--objective", choices=("min_max", "min_sum"), default="min_sum", help="objective (default: min_sum)"
    )
    convert.add_argument(
        "--depot", type=int, metavar="ID", help="the depot's node number in the file (default: the file's depot, "
        "else node 1)"
    )
    convert.add_argument(
        "--time-limit", type=positive_seconds, metavar="S", help="processor seconds of search (default: 60)"
    )
    convert.add_argument("-o", "--output", required=True, metavar="INSTANCE.json", help="document to write")
    convert.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    try:
        document = to_document(read_instance(args.file), args.agents, args.objective, args.depot, args.time_limit)
    except BadInput as error:
        return report(error)
    try:
        with open(args.output, "w", encoding="utf-8") as stream:
            json.dump(document, stream, indent=1)
            stream.write("\n")
    except OSError as error:
        return report(BadInput(f"cannot write {args.output}: {error.strerror or error}"))
    depots = sorted({agent["start_node"] for agent in document["agents"]})
    note = f", missing_cost {document['options']['missing_cost']:g}" if "missing_cost" in document["options"] else ""
    print(
        f"{args.output}: {len(document['nodes'])} nodes, {args.agents} agents at depot "
        f"{', '.join(map(str, depots))}, {args.objective}{note}"
    )
    return 0
