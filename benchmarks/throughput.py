"""Search throughput and memory per label: a baseline commit against the work tree.

Usage: python -m benchmarks.throughput [--ref REF] [--after-ref REF | --installed] [--quick]
            [--time-limit S] [--repeat N] [--json OUT]

Solves each instance of INSTANCES with the "before" module (built from REF,
default 539f24c) and the "after" module (built from the work tree, from
--after-ref, or the installed one with --installed), each solve alone in a fresh child process,
with the same processor-time limit (default 10 s), and prints per instance
and module the figures described in HEADER plus the after/before ratios.
With --repeat N every instance is solved N times per module, alternating the
order of the modules, and the run with the median labels per CPU second is
shown (--json keeps them all).
"""
from __future__ import annotations

import argparse
import datetime
import json
import os
import platform
import sys
from pathlib import Path

from benchmarks import baseline

HERE = Path(__file__).resolve().parent
INSTANCES = (
    "eil76-m5-minmax",
    "rat99-m7-minmax",
    "kroA100-m3-minmax",
    "eil51-het-t2d2-minmax",
    "berlin52-tw-m3-minmax",
)
QUICK_INSTANCES = ("eil76-m5-minmax", "rat99-m7-minmax")
DEFAULT_TIME_LIMIT = 10.0
QUICK_TIME_LIMIT = 3.0
MIN_WINDOW = 0.05  # CPU seconds after the last solution below which no rate is given

HEADER = """\
Each solve runs alone in a fresh child process with the same processor-time limit.
  labels        statistics.n_generated: labels generated (each one stored) since the last
                solution; the counter restarts at every solution
  expanded      statistics.n_expanded, counted the same way
  CPU s         processor time of the solve_json_str call
  search s      processor time of the search: the time limit when the search reached it
                (the solver's clock starts with the search and stops it past the limit),
                else CPU s
  other s       CPU s - search s: parsing, set-up, building the result and freeing the
                search's memory
  last sol. s   statistics.last_update_time: processor time of the last solution
  labels/CPU s  labels / (search s - last sol. s): search throughput after the last solution
  B/label       (peak RSS of the child after the solve (ru_maxrss) - RSS just before the
                call, the document already read) / labels: memory per stored label,
                open and focal lists, frontiers and allocator slack included; labels
                stored before the last solution add to the memory but not to the count
  growth MB     that RSS difference; peak MB is ru_maxrss with the interpreter
  after/before  ratio of the after figure to the before figure (labels/CPU s above 1 and
                B/label below 1 mean the after module is better)"""


def instance_path(name: str) -> Path:
    """A benchmark instance's document: of the default set (written when
    missing) or of a suite already written to benchmarks/generated/."""
    path = HERE / "instances" / f"{name}.json"
    generated = HERE / "generated" / f"{name}.json"
    if not path.exists() and generated.exists():
        return generated
    if not path.exists():
        from benchmarks import make_instances  # needs vrplib

        make_instances.main(["--only", name])
    return path


def figures(record: dict, time_limit: float) -> dict:
    """The measured figures of one child record of a solve with `time_limit` (see HEADER)."""
    if "result" not in record:
        return {"error": record.get("crash") or record.get("error")}
    result = record["result"]
    stats = result["statistics"]
    labels = stats["n_generated"]
    cpu = record["cpu_time"]
    search = time_limit if result["timeout"] else cpu
    last = stats["last_update_time"]
    window = search - last
    growth_kb = None
    if record.get("rss_before_kb") is not None:
        growth_kb = record["peak_rss_kb"] - record["rss_before_kb"]
    return {
        "status": result["status"],
        "timeout": result["timeout"],
        "labels": labels,
        "expanded": stats["n_expanded"],
        "cpu_s": cpu,
        "search_s": search,
        "other_s": cpu - search,
        "wall_s": record["wall_time"],
        "last_solution_s": last,
        "labels_per_cpu_s": labels / window if window >= MIN_WINDOW else None,
        "bytes_per_label": growth_kb * 1024 / labels if growth_kb is not None and labels else None,
        "growth_mb": growth_kb / 1024 if growth_kb is not None else None,
        "peak_mb": record["peak_rss_kb"] / 1024,
        "solutions": len(result["anytime"]),
    }


def median_run(runs: list[dict]) -> dict:
    """The run with the median labels per CPU second (the lower middle one)."""
    good = [r for r in runs if r.get("labels_per_cpu_s") is not None]
    if not good:
        return runs[0]
    good.sort(key=lambda r: r["labels_per_cpu_s"])
    return good[(len(good) - 1) // 2]


RATIO_KEYS = ("labels", "expanded", "cpu_s", "other_s", "labels_per_cpu_s", "bytes_per_label", "growth_mb", "peak_mb")


def ratios(before: dict, after: dict) -> dict:
    out = {}
    for key in RATIO_KEYS:
        a, b = before.get(key), after.get(key)
        out[key] = b / a if isinstance(a, (int, float)) and isinstance(b, (int, float)) and a else None
    return out


COLUMNS = (  # (title, key, format)
    ("labels", "labels", "{:,.0f}"),
    ("expanded", "expanded", "{:,.0f}"),
    ("CPU s", "cpu_s", "{:.2f}"),
    ("search s", "search_s", "{:.2f}"),
    ("other s", "other_s", "{:.3f}"),
    ("last sol. s", "last_solution_s", "{:.3f}"),
    ("labels/CPU s", "labels_per_cpu_s", "{:,.0f}"),
    ("B/label", "bytes_per_label", "{:,.1f}"),
    ("growth MB", "growth_mb", "{:,.1f}"),
    ("peak MB", "peak_mb", "{:,.1f}"),
)


def _cell(value, fmt: str) -> str:
    return "-" if value is None else fmt.format(value)


def table(rows: list[dict]) -> str:
    head = ["instance", "module", *(c[0] for c in COLUMNS)]
    body = []
    for row in rows:
        for name in ("before", "after"):
            side = row[name]
            if "error" in side:
                body.append([row["instance"], name, side["error"][:60]] + [""] * (len(COLUMNS) - 1))
                continue
            body.append([row["instance"] if name == "before" else "", name]
                        + [_cell(side.get(key), fmt) for _, key, fmt in COLUMNS])
        body.append(["", "after/before"] + [_cell(row["ratio"].get(key), "x{:.3f}") for _, key, _ in COLUMNS])
    widths = [max(len(str(r[i])) for r in [head] + body) for i in range(len(head))]
    lines = ["  ".join(str(c).ljust(w) if i < 2 else str(c).rjust(w) for i, (c, w) in enumerate(zip(r, widths)))
             for r in [head] + body]
    lines.insert(1, "-" * len(lines[0]))
    return "\n".join(lines)


def parse_args(argv):
    p = argparse.ArgumentParser(prog="python -m benchmarks.throughput", description=__doc__.splitlines()[0])
    baseline.add_module_arguments(p)
    p.add_argument("--quick", action="store_true",
                   help=f"{len(QUICK_INSTANCES)} instances at {QUICK_TIME_LIMIT:g} CPU s")
    p.add_argument("--time-limit", type=float,
                   help=f"processor seconds per solve (default {DEFAULT_TIME_LIMIT:g}, quick {QUICK_TIME_LIMIT:g})")
    p.add_argument("--repeat", type=int, default=1, help="solves per instance and module (median shown)")
    p.add_argument("--instances", nargs="+", metavar="NAME", help="benchmark instances instead of the default set")
    p.add_argument("--json", type=Path, metavar="OUT", help="write every figure to this JSON file")
    p.add_argument("--work", type=Path, default=baseline.BUILD / "throughput", help="directory for the child runs")
    return p.parse_args(argv)


def main(argv=None) -> int:
    try:
        return measure(parse_args(argv))
    except baseline.BuildError as error:  # a module that does not build or import
        print(error, file=sys.stderr)
        return 2


def measure(args) -> int:
    limit = args.time_limit or (QUICK_TIME_LIMIT if args.quick else DEFAULT_TIME_LIMIT)
    names = args.instances or (QUICK_INSTANCES if args.quick else INSTANCES)
    modules = baseline.modules_from_args(args)
    work = args.work.resolve()

    rows = []
    for name in names:
        path = instance_path(name)
        runs: dict[str, list[dict]] = {"before": [], "after": []}
        for r in range(args.repeat):
            order = ("before", "after") if r % 2 == 0 else ("after", "before")
            for module in order:
                print(f"{name}: {module} run {r + 1}/{args.repeat}, {limit:g} CPU s ...", file=sys.stderr, flush=True)
                task = [{"key": name, "path": str(path), "time_limit": limit}]
                record = baseline.run_tasks(modules[module], task, work, f"{name}-{module}-{r}")[name]
                runs[module].append(figures(record, limit))
        before, after = median_run(runs["before"]), median_run(runs["after"])
        rows.append({"instance": name, "before": before, "after": after, "ratio": ratios(before, after), "runs": runs})

    print(f"\nThroughput: before = {baseline.describe(modules['before'])} (ref {args.ref})")
    print(f"            after  = {baseline.describe(modules['after'])} ({baseline.after_label(args)})")
    print(f"processor-time limit {limit:g} s per solve, {args.repeat} run(s) per instance and module, "
          f"{os.cpu_count()} cores\n")
    print(HEADER + "\n")
    print(table(rows))
    for row in rows:
        for module in ("before", "after"):
            side = row[module]
            if "error" not in side and not side["timeout"]:
                print(f"note: {row['instance']} {module}: the search ended before the time limit")
    if args.json:
        args.json.parent.mkdir(parents=True, exist_ok=True)
        args.json.write_text(json.dumps({
            "date": datetime.datetime.now().isoformat(timespec="seconds"), "ref": args.ref,
            "before": baseline.describe(modules["before"]), "after": baseline.describe(modules["after"]),
            "after_from": baseline.after_label(args),
            "time_limit": limit, "repeat": args.repeat, "nproc": os.cpu_count(), "machine": platform.machine(),
            "python": platform.python_version(), "definitions": HEADER, "instances": rows,
        }, indent=1) + "\n")
        print(f"\nwrote {args.json}")
    return 1 if any("error" in row[m] for row in rows for m in ("before", "after")) else 0


if __name__ == "__main__":
    sys.exit(main())
