"""Pictures of a solution: the routes over the nodes' coordinates, and the
objective over processor time.

    kvr-mtsp plot INSTANCE.json RESULT.json -o ROUTES.png
    kvr-mtsp solve INSTANCE.json --plot ROUTES.png

The result is either the command line's result document (`solve --output`)
or the module's own result dictionary saved as JSON: both hold every route's
"path" as node positions (places in the instance's "nodes"), one route per
agent in the order of "agents". Node coordinates only place the drawing; the
costs shown are the result's. An open route ("return_to_end" false) is drawn
without its free last leg into the agent's own start or end node.

When the instance has time windows and the result carries its routes'
schedules ("stops", the option "schedule"), a time axis per route is drawn
under the map: travel as a thin line, waiting as a hatched bar, service
starts as dots and each visited node's window as a light band.

matplotlib (the extra "plot") draws without a display (the Agg canvas).
"""
from __future__ import annotations

import argparse
import os
from dataclasses import dataclass
from typing import Any

from kvr_mtsp.checker import foreign_routes
from kvr_mtsp.instance import InstanceView
from kvr_mtsp.usage import BadInput, MissingExtra, read_json, report

FIGURE_INCHES = (13.0, 5.5)
DPI = 100  # the picture is FIGURE_INCHES * DPI pixels
# The schedule strip adds this much height, plus a little per route.
SCHEDULE_INCHES = 1.2
SCHEDULE_INCHES_PER_ROUTE = 0.35
LABELLED_NODES = 40  # node ids are written next to the nodes of instances up to this size


@dataclass
class DrawnStop:
    position: int
    arrival: float
    start: float
    departure: float


@dataclass
class DrawnRoute:
    agent_id: int | None
    agent_type: str | None
    cost: float
    positions: list[int]  # the nodes drawn, in order; an open route's free leg left out
    free_leg: bool
    idle: bool  # the route serves no target: it only leaves and reaches its depots
    stops: list[DrawnStop] | None = None  # its schedule, when the result carries one

    @property
    def label(self) -> str:
        who = f"agent {self.agent_id}" if self.agent_id is not None else "agent ?"
        kind = f" [{self.agent_type}]" if self.agent_type is not None else ""
        idle = " (no target)" if self.idle else ""
        return f"{who}{kind}: {self.cost:.6g}{idle}"


def require_matplotlib() -> Any:
    """matplotlib's Figure class, or MissingExtra when matplotlib is not installed."""
    try:
        from matplotlib.figure import Figure
    except ImportError:
        raise MissingExtra("plotting", "matplotlib", "plot") from None
    return Figure


def is_number(value: Any) -> bool:
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def coordinates(document: Any, path: str) -> list[tuple[float, float]]:
    """Every node's (x, y); BadInput when a node has none or all nodes share one point."""
    nodes = document.get("nodes") if isinstance(document, dict) else None
    if not isinstance(nodes, list) or not nodes:
        raise BadInput(f'{path}: the document has no "nodes" to draw')
    points = []
    for index, node in enumerate(nodes):
        if not (isinstance(node, dict) and is_number(node.get("x")) and is_number(node.get("y"))):
            raise BadInput(f'{path}: nodes[{index}] has no numeric "x" and "y"; the plot places every node at them')
        points.append((float(node["x"]), float(node["y"])))
    if len(points) > 1 and len(set(points)) == 1:
        x, y = points[0]
        raise BadInput(
            f"{path}: every node is at ({x:g}, {y:g}), so the document carries no coordinates to plot "
            "(its costs come from a matrix alone)"
        )
    return points


def check_plottable(view: InstanceView, path: str) -> None:
    """Raises BadInput unless the solve of `view`'s document, one the solver's
    reader accepted, can be drawn: matplotlib and node coordinates."""
    require_matplotlib()
    coordinates(view.raw, path)


def drawn_routes(view: InstanceView, result: Any, result_path: str) -> list[DrawnRoute]:
    """The result's routes with their agents; BadInput naming what does not
    belong when the result is not one of this instance (other agents, nodes
    it does not have, node ids that differ, routes that leave from
    elsewhere than their agents' start nodes)."""
    routes = result.get("routes") if isinstance(result, dict) else None
    if not isinstance(routes, list):
        raise BadInput(f'{result_path}: no "routes" list; give the result document of a solve')
    for index, route in enumerate(routes):
        if not (isinstance(route, dict) and isinstance(route.get("path"), list) and is_number(route.get("cost"))):
            raise BadInput(f'{result_path}: routes[{index}] needs a "path" list and a numeric "cost"')
    problems = foreign_routes(view.node_ids, [agent.id for agent in view.agents], routes)
    if not problems:
        problems = [f"routes[{index}] starts at node {view.label(route['path'][0])}, but {agent.name} starts at "
                    f"node {agent.start}" for index, (route, agent) in enumerate(zip(routes, view.agents))
                    if route["path"] and view.position_of.get(agent.start) != route["path"][0]]
    if problems:
        raise BadInput(f"{result_path} is not a result of this instance: {'; '.join(problems[:3])}"
                       + (f" (and {len(problems) - 3} more)" if len(problems) > 3 else ""))
    drawn = []
    for index, (route, agent) in enumerate(zip(routes, view.agents)):
        positions = route["path"]
        free = view.free_last_leg(index, positions)
        drawn.append(DrawnRoute(agent.id, agent.type, float(route["cost"]), positions[:-1] if free else positions,
                                free, idle=len(positions) <= 2, stops=drawn_stops(route)))
    return drawn


def drawn_stops(route: dict[str, Any]) -> list[DrawnStop] | None:
    """The route's schedule, or None when it carries none (or one without
    numeric times at the nodes of its path)."""
    stops = route.get("stops")
    if not isinstance(stops, list) or len(stops) != len(route["path"]):
        return None
    keys = ("arrival", "start", "departure")
    if not all(isinstance(stop, dict) and all(is_number(stop.get(key)) for key in keys) for stop in stops):
        return None
    return [DrawnStop(position, *(float(stop[key]) for key in keys)) for position, stop in zip(route["path"], stops)]


def draw_schedule(axes: Any, routes: list[DrawnRoute], windows: dict[int, tuple[float, float]],
                  colour: Any, view: InstanceView) -> None:
    """One row per route on a time axis: travel between stops as a thin line
    in the route's colour, waiting as a hatched grey bar, the start of each
    service as a dot, and the window of each node it visits as a light band."""
    labelled = set()

    def once(name: str) -> str | None:
        # Each kind of element gets one legend entry.
        if name in labelled:
            return None
        labelled.add(name)
        return name

    for k, route in enumerate(routes):
        row = len(routes) - 1 - k  # the first route on top
        stops = route.stops or []
        for stop in stops:
            window = windows.get(stop.position)
            if window is not None:
                axes.broken_barh([(window[0], window[1] - window[0])], (row - 0.3, 0.6), color=colour(k),
                                 alpha=0.15, label=once("time window"))
        for before, after in zip(stops, stops[1:]):
            axes.hlines(row, before.departure, after.arrival, color=colour(k), linewidth=1.2,
                        label=once("travel"))
        waits = [(stop.arrival, stop.start - stop.arrival) for stop in stops if stop.start > stop.arrival]
        if waits:
            axes.broken_barh(waits, (row - 0.15, 0.3), facecolor="0.8", edgecolor="0.4", hatch="///",
                             label=once("waiting"))
        inner = stops[1:-1] if len(stops) > 2 else []
        if inner:
            axes.scatter([stop.start for stop in inner], [row] * len(inner), s=16, color=colour(k), zorder=3,
                         label=once("service starts"))
            if len(inner) <= LABELLED_NODES:
                for stop in inner:
                    axes.annotate(view.label(stop.position), (stop.start, row), textcoords="offset points",
                                  xytext=(0, 5), fontsize=6, ha="center")
    axes.set_yticks(range(len(routes)), [route.label.split(":")[0] for route in reversed(routes)], fontsize="small")
    axes.set_ylim(-0.6, len(routes) - 0.4)
    axes.set_xlabel("time (route cost)")
    axes.set_title("schedule", fontsize="medium")
    axes.grid(True, axis="x", alpha=0.3)
    axes.legend(fontsize="x-small", loc="upper left", bbox_to_anchor=(1.01, 1.0))


def objective_curve(result: dict[str, Any], objective: str) -> tuple[list[float], list[float]]:
    """Processor times and objective values of the improving solutions."""
    key = "max_cost" if objective == "min_max" else "sum_cost"
    points = [
        p for p in result.get("anytime") or []
        if isinstance(p, dict) and is_number(p.get(key)) and is_number(p.get("time"))
    ]
    return [float(p["time"]) for p in points], [float(p[key]) for p in points]


def depot_positions(view: InstanceView, document: dict[str, Any]) -> set[int]:
    """Nodes where some agent starts or ends, and nodes of type "DEPOT"."""
    depots = {view.position_of[n] for a in view.agents for n in (a.start, a.end) if n in view.position_of}
    depots |= {i for i, node in enumerate(document["nodes"]) if node.get("type") == "DEPOT"}
    return depots


def picture_title(document: dict[str, Any], instance_path: str | None) -> str:
    """The document's "name", else the instance file's name, else "routes" (a document given as a dict)."""
    if isinstance(document.get("name"), str):
        return document["name"]
    return os.path.basename(instance_path) if instance_path else "routes"


def draw(document: Any, result: Any, out_path: str, instance_path: str | None = None,
         result_path: str = "the result") -> None:
    """Writes the picture of `result` over `document` to `out_path` as PNG.
    `instance_path` names the instance in messages and in the title."""
    figure_of(document, result, instance_path, result_path).savefig(out_path, format="png")


def figure_of(document: Any, result: Any, instance_path: str | None = None, result_path: str = "the result") -> Any:
    """The matplotlib Figure `draw` writes: the map, the improvements and,
    with windows and schedules, the schedule strip (its axes titled
    "schedule")."""
    figure_class = require_matplotlib()
    points = coordinates(document, instance_path or "the instance")
    view = InstanceView(document)
    routes = drawn_routes(view, result, result_path)
    from matplotlib import colormaps
    from matplotlib.ticker import MaxNLocator

    windows = view.windows()
    scheduled = bool(windows) and any(route.stops for route in routes)
    if scheduled:
        strip = SCHEDULE_INCHES + SCHEDULE_INCHES_PER_ROUTE * len(routes)
        figure = figure_class(figsize=(FIGURE_INCHES[0], FIGURE_INCHES[1] + strip), dpi=DPI, layout="constrained")
        axes = figure.subplot_mosaic([["map", "curve"], ["schedule", "schedule"]], width_ratios=(3, 2),
                                     height_ratios=(FIGURE_INCHES[1], strip))
        map_axes, curve_axes = axes["map"], axes["curve"]
    else:
        figure = figure_class(figsize=FIGURE_INCHES, dpi=DPI, layout="constrained")
        map_axes, curve_axes = figure.subplots(1, 2, width_ratios=(3, 2))
    depots = depot_positions(view, document)
    targets = [p for i, p in enumerate(points) if i not in depots]
    map_axes.scatter([x for x, _ in targets], [y for _, y in targets], s=14, color="0.55", zorder=3)
    colours = colormaps["tab10" if len(routes) <= 10 else "tab20"]
    for k, route in enumerate(routes):
        xs = [points[p][0] for p in route.positions]
        ys = [points[p][1] for p in route.positions]
        map_axes.plot(xs, ys, "-", color=colours(k % colours.N), linewidth=1.6, label=route.label, zorder=2)
    map_axes.scatter([points[i][0] for i in sorted(depots)], [points[i][1] for i in sorted(depots)], marker="s",
                     s=70, color="black", label="depot", zorder=4)
    if len(points) <= LABELLED_NODES:
        for i, (x, y) in enumerate(points):
            map_axes.annotate(view.label(i), (x, y), textcoords="offset points", xytext=(4, 4), fontsize=7)
    map_axes.set_aspect("equal", adjustable="datalim")
    map_axes.legend(fontsize="small", loc="upper left", bbox_to_anchor=(1.01, 1.0), title="agent [type]: cost",
                    title_fontsize="small")
    stats = result.get("statistics", {}) if isinstance(result, dict) else {}
    title = picture_title(document, instance_path)
    status = result.get("status", "?") if isinstance(result, dict) else "?"
    summary = f"{title}: {status}"
    if is_number(stats.get("max_cost")) and is_number(stats.get("sum_cost")):
        summary += f", longest {stats['max_cost']:.6g}, total {stats['sum_cost']:.6g}"
    if any(route.free_leg for route in routes):
        summary += " (open routes: free last legs not drawn)"
    map_axes.set_title(summary, fontsize="medium")

    times, values = objective_curve(result, view.objective)
    curve_axes.set_title("improving solutions", fontsize="medium")
    curve_axes.set_xlabel("processor time (s)")
    curve_axes.set_ylabel("longest route (min_max)" if view.objective == "min_max" else "total cost (min_sum)")
    if times:
        curve_axes.step(times, values, where="post", marker="o", markersize=3)
        if min(times) > 0 and max(times) > 100 * min(times):
            curve_axes.set_xscale("log")  # improvements spread over several orders of magnitude
        else:
            curve_axes.set_xlim(0, max(times) * 1.1)
            curve_axes.xaxis.set_major_locator(MaxNLocator(5))
    else:
        curve_axes.text(0.5, 0.5, "no improving solutions", ha="center", va="center",
                        transform=curve_axes.transAxes)
    curve_axes.grid(True, alpha=0.3)
    if scheduled:
        draw_schedule(axes["schedule"], routes, windows, lambda k: colours(k % colours.N), view)
    return figure


def register(commands: Any) -> None:
    """Adds the "plot" subcommand to the command line's subparsers."""
    plot = commands.add_parser("plot", help="draw the routes of a result over the instance's nodes (needs matplotlib)")
    plot.add_argument("instance", metavar="INSTANCE.json", help="instance document")
    plot.add_argument("result", metavar="RESULT.json", help="result document (solve --output, or the module's result)")
    plot.add_argument("-o", "--output", required=True, metavar="ROUTES.png", help="picture to write (PNG)")
    plot.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    try:
        require_matplotlib()
        document = read_json(args.instance)
        draw(document, read_json(args.result), args.output, args.instance, args.result)
    except BadInput as error:
        return report(error)
    except OSError as error:
        return report(BadInput(f"cannot write {args.output}: {error.strerror or error}"))
    print(f"routes drawn in {args.output}")
    return 0
