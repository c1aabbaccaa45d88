"""Checks that the search of the current module is the search of a baseline commit.

Usage: python -m benchmarks.compare_baseline [--ref REF] [--after-ref REF | --installed] [--quick]
            [--count N] [--seed S] [--time-limit S] [--doc-time-limit S] [--out DIR]
            [--improve [--max-iterations N]]

Two kinds of runs, each document solved by the "before" module (built from
REF, default 539f24c) and the "after" module (built from the work tree, from
--after-ref, or the installed one with --installed), in separate child processes:

1. Searches that end before their time limit: every document of examples/ and
   --count random small documents from a seeded generator. Their result
   documents must be identical apart from the time values (see TIME_FIELDS),
   and so must the error of a document that is rejected and what the solver
   prints while solving. With --improve, every document is solved with the
   improvement engine on ("improve" true, "seed" the generator seed and
   "max_iterations" from --max-iterations), so that the engine's runs end by
   their iteration count and must be identical as well.
2. Searches that the time limit (--time-limit, the same for both modules)
   stops: the benchmark instances of benchmarks.throughput, each solved twice
   per module, once with solve_json_str and once through the Solver class for
   its whole solution log (every solution with the label counters of that
   moment). The faster module may get further, so here the improving
   solutions ("anytime" without its times) of one run, and the logged
   solutions without times, must be a prefix of the other's.

Prints a summary and the first differences in detail, writes each differing
document and both results to the output directory (default
build/compare-baseline/), and exits with status 1 on any difference.
"""
from __future__ import annotations

import argparse
import json
import math
import random
import shutil
import sys
from dataclasses import dataclass, field
from pathlib import Path

from benchmarks import baseline
from benchmarks.throughput import INSTANCES, QUICK_INSTANCES, instance_path

ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = ROOT / "examples"
NO_CONNECTION = 9999.0
DOC_TIME_LIMIT = 30.0  # processor seconds for the documents that end by themselves
DEFAULT_COUNT = 300
QUICK_COUNT = 60
DEFAULT_TIME_LIMIT = 10.0
QUICK_TIME_LIMIT = 3.0
SHOWN_DIFFERENCES = 5
DEFAULT_MAX_ITERATIONS = 300

# Values in a result that are times, which differ from run to run: the
# wall-clock duration of the solve and the processor time of the last
# improvement under "statistics", and the processor time of each "anytime"
# entry. Nothing else is left out of the comparison.
TIME_FIELDS = {"statistics": ("solve_time", "last_update_time"), "anytime": ("time",)}


def normalise(result: dict) -> dict:
    """A copy of a solve_json_str result without its time values."""
    out = {key: value for key, value in result.items() if key not in ("statistics", "anytime")}
    if "statistics" in result:
        out["statistics"] = {k: v for k, v in result["statistics"].items() if k not in TIME_FIELDS["statistics"]}
    if "anytime" in result:
        out["anytime"] = [{k: v for k, v in entry.items() if k not in TIME_FIELDS["anytime"]}
                          for entry in result["anytime"]]
    return out


def canonical(value) -> str:
    """JSON text that tells apart every two values that differ (floats by
    their shortest round-trip form, so 0.0 and -0.0 differ and NaN equals NaN)."""
    return json.dumps(value, sort_keys=True, allow_nan=True)


def differences(before, after, path: str = "", limit: int = 8) -> list[tuple[str, object, object]]:
    """(path, before, after) for the first `limit` places where two JSON values differ."""
    found: list[tuple[str, object, object]] = []

    def walk(a, b, where):
        if len(found) >= limit:
            return
        if isinstance(a, dict) and isinstance(b, dict):
            for key in list(a) + [k for k in b if k not in a]:
                if key not in b:
                    found.append((f"{where}.{key}", a[key], "<missing>"))
                elif key not in a:
                    found.append((f"{where}.{key}", "<missing>", b[key]))
                else:
                    walk(a[key], b[key], f"{where}.{key}")
        elif isinstance(a, list) and isinstance(b, list):
            for i, (x, y) in enumerate(zip(a, b)):
                walk(x, y, f"{where}[{i}]")
            if len(a) != len(b):
                found.append((f"{where} length", len(a), len(b)))
        elif canonical(a) != canonical(b):
            found.append((where or "(document)", a, b))

    walk(before, after, path)
    return found


# ---------------------------------------------------------------------------
# Random small documents


def random_document(seed: int, index: int) -> dict:
    """Small instance document number `index` of generator `seed`: 5 to 12
    nodes (10 with 3 agents), 1 to 3 agents of 1 or 2 types, random cost matrices, and in some
    documents assignment constraints, time windows, route-length limits,
    missing connections, separate depots or end nodes, open routes; min-max
    or min-sum. The same (seed, index) always gives the same document.

    Costs are generic reals (no ties), and the sizes keep the search short."""
    rng = random.Random(f"kvr-compare-{seed}-{index}")
    m = rng.randint(1, 3)
    # Three agents over eleven or more nodes can search for minutes.
    n = rng.randint(5, 12 if m < 3 else 10)
    # Every type has an agent: a type without one is not a valid document.
    types = ["truck", "drone"][: min(m, rng.choice((1, 1, 2)))]
    id_of = list(range(n)) if rng.random() < 0.6 else [7 * i + 3 for i in range(n)]
    coords = [(rng.uniform(0, 50), rng.uniform(0, 50)) for _ in range(n)]

    nodes = []
    for i, (x, y) in enumerate(coords):
        node = {"id": id_of[i], "x": round(x, 3), "y": round(y, 3), "z": 0.0}
        if rng.random() < 0.5:
            node["type"] = "TARGET"
        if rng.random() < 0.1:
            node["demand"] = rng.randint(0, 5)
        nodes.append(node)

    layout = rng.choice(["shared", "shared", "own", "start_end"])
    if layout == "start_end" and n < 2 * m + 1:
        layout = "own"
    agents = []
    for k in range(m):
        if layout == "shared":
            start = end = 0
        elif layout == "own":
            start = end = k
        else:  # own start, and an end node of its own after the starts
            start, end = k, m + k
        agent = {"id": k + 1, "type": types[k % len(types)] if k < len(types) else rng.choice(types),
                 "start_node": id_of[start], "end_node": id_of[end]}
        if rng.random() < 0.1:
            agent["capacity"] = rng.randint(1, 30)
        agents.append(agent)
    depots = {a["start_node"] for a in agents} | {a["end_node"] for a in agents}
    for node in nodes:
        if node["id"] in depots and "type" in node:
            node["type"] = "DEPOT"

    costs = {}
    style = rng.choice(["euclidean", "perturbed", "uniform"])
    for t, name in enumerate(types):
        factor = 1.0 if t == 0 else rng.uniform(0.4, 0.8)
        matrix = []
        for a in range(n):
            row = []
            for b in range(n):
                if a == b:
                    row.append(0.0)
                    continue
                d = math.dist(coords[a], coords[b])
                if style == "perturbed":
                    d *= rng.uniform(0.9, 1.3)
                elif style == "uniform":
                    d = rng.uniform(1.0, 60.0)
                row.append(d * factor)
            matrix.append(row)
        costs[name] = matrix
    if rng.random() < 0.15:
        for _ in range(rng.randint(1, 3)):
            a, b = rng.sample(range(n), 2)
            costs[rng.choice(types)][a][b] = NO_CONNECTION

    constraints = []
    targets = [i for i in range(n) if id_of[i] not in depots]
    if (len(types) == 2 and rng.random() < 0.6) or rng.random() < 0.15:
        items = []
        for i in range(n):
            allowed = list(types) if id_of[i] in depots or rng.random() < 0.5 else [rng.choice(types)]
            items.append({"node": id_of[i], "types": allowed})
        constraints.append({"kind": "assignment", "items": items})
    if rng.random() < 0.25 and targets:
        items = []
        for i in rng.sample(targets, rng.randint(1, len(targets))):
            start = round(rng.uniform(0, 80), 1)
            items.append({"node": id_of[i], "start": start, "end": round(start + rng.uniform(20, 150), 1)})
        constraints.append({"kind": "timewindow", "items": items})
    if rng.random() < 0.2:
        longest = max(max(row) for matrix in costs.values() for row in matrix if max(row) < NO_CONNECTION)
        for agent in agents:
            if rng.random() < 0.7:
                agent["max_length"] = int(longest * rng.uniform(1.5, 5.0))

    doc = {
        "name": f"random-{seed}-{index}",
        "nodes": nodes,
        "agents": agents,
        "costs": costs,
        "constraints": constraints,
        "options": {
            "return_to_end": rng.random() >= 0.2,
            "objective": rng.choice(["min_max", "min_sum"]),
            "time_limit": 60.0,
        },
    }
    return doc


def random_documents(seed: int, count: int) -> list[dict]:
    return [random_document(seed, i) for i in range(count)]


# ---------------------------------------------------------------------------
# Comparison


@dataclass
class Outcome:
    """The verdict on one document or instance."""

    key: str
    kind: str  # "complete" or "time-limited"
    verdict: str  # "identical", "prefix", "different", "timed out"
    detail: list[tuple[str, object, object]] = field(default_factory=list)
    note: str = ""


def _side(record: dict) -> dict:
    """What of a child's record is compared for a search that ends by itself."""
    if "crash" in record:
        return {"crash": record["crash"]}
    side = {"error": record["error"]} if "error" in record else {"result": normalise(record["result"])}
    if "console" in record:
        side["console"] = record["console"]
    return side


def _failure(before: dict, after: dict) -> list[tuple[str, object, object]]:
    """A difference entry when either run has no result."""
    if "result" in before and "result" in after:
        return []
    describe = lambda rec: rec.get("crash") or rec.get("error") or "result"  # noqa: E731
    return [("(run)", describe(before), describe(after))]


def prefix_differences(before: list, after: list, before_ended: bool, after_ended: bool,
                       what: str) -> list[tuple[str, object, object]]:
    """Where two sequences of solutions break the prefix rule: the shorter must
    be the start of the longer, and a search that ended by itself (rather
    than by its time limit) has found all its solutions, so the other may not
    have more."""
    for i, (x, y) in enumerate(zip(before, after)):
        if canonical(x) != canonical(y):
            return differences(x, y, f"{what}[{i}]")
    for name, ended, mine, theirs in (("before", before_ended, before, after), ("after", after_ended, after, before)):
        if ended and len(theirs) > len(mine):
            return [(f"{what} length", f"{name} ended by itself with {len(mine)}", f"the other has {len(theirs)}")]
    return []


def compare_complete(key: str, before: dict, after: dict) -> Outcome:
    """Outcome for a document whose search should end before its time limit."""
    timed = [name for name, rec in (("before", before), ("after", after))
             if rec.get("result", {}).get("timeout")]
    if timed:
        # A search cut short by the limit: only the prefix rule applies.
        outcome = compare_prefix(key, before, after)
        outcome.kind = "complete"
        if outcome.verdict != "different":
            outcome.verdict = "timed out"
            outcome.note = f"time limit reached by {' and '.join(timed)}"
        return outcome
    diff = differences(_side(before), _side(after))
    return Outcome(key, "complete", "different" if diff else "identical", diff)


def compare_prefix(key: str, before: dict, after: dict) -> Outcome:
    """Outcome for solve_json_str runs that the time limit may have stopped:
    the improving solutions ("anytime" without times) of one run must be the
    first ones of the other's; runs that both ended by themselves with the
    same solutions must agree entirely."""
    failure = _failure(before, after)
    if failure:
        return Outcome(key, "time-limited", "different", failure)
    a, b = normalise(before["result"])["anytime"], normalise(after["result"])["anytime"]
    ended = not before["result"]["timeout"], not after["result"]["timeout"]
    diff = prefix_differences(a, b, *ended, ".anytime")
    if diff:
        return Outcome(key, "time-limited", "different", diff)
    if all(ended):
        outcome = compare_complete(key, before, after)
        outcome.kind = "time-limited"
        return outcome
    note = f"anytime {len(a)} / {len(b)}"
    return Outcome(key, "time-limited", "identical" if len(a) == len(b) else "prefix", note=note)


# Times in the records of "log" runs (benchmarks/module_worker.py).
LOG_TIME_FIELDS = ("time", "last_update_time")


def _without_times(entry: dict) -> dict:
    return {k: v for k, v in entry.items() if k not in LOG_TIME_FIELDS}


def compare_log(key: str, before: dict, after: dict) -> Outcome:
    """Outcome for "log" runs: every solution the solver logged (before and
    after post-optimisation, with its routes, costs and the label counters of
    that moment), without times, by the prefix rule; the final counters too
    when both searches ended by themselves."""
    failure = _failure(before, after)
    if failure:
        return Outcome(key, "time-limited", "different", failure)
    a = [_without_times(e) for e in before["result"]["log"]]
    b = [_without_times(e) for e in after["result"]["log"]]
    ended = not before["result"]["final"]["timeout"], not after["result"]["final"]["timeout"]
    diff = prefix_differences(a, b, *ended, ".log")
    if not diff and all(ended):
        diff = differences(_without_times(before["result"]["final"]), _without_times(after["result"]["final"]),
                           ".final")
    if diff:
        return Outcome(key, "time-limited", "different", diff)
    note = f"solution log {len(a)} / {len(b)}"
    return Outcome(key, "time-limited", "identical" if len(a) == len(b) else "prefix", note=note)


def combine(key: str, parts: list[Outcome]) -> Outcome:
    """One outcome from the outcomes of several runs of one instance."""
    detail = [d for p in parts for d in p.detail]
    if any(p.verdict == "different" for p in parts):
        verdict = "different"
    else:
        verdict = "identical" if all(p.verdict == "identical" for p in parts) else "prefix"
    note = "; ".join(p.note for p in parts if p.note)
    return Outcome(key, "time-limited", verdict, detail, note)


# ---------------------------------------------------------------------------
# Command


def parse_args(argv):
    p = argparse.ArgumentParser(prog="python -m benchmarks.compare_baseline", description=__doc__.splitlines()[0])
    baseline.add_module_arguments(p)
    p.add_argument("--quick", action="store_true",
                   help=f"{QUICK_COUNT} random documents and two instances at {QUICK_TIME_LIMIT:g} s")
    p.add_argument("--count", type=int, help=f"random documents (default {DEFAULT_COUNT})")
    p.add_argument("--seed", type=int, default=1, help="generator seed (default 1)")
    p.add_argument("--time-limit", type=float,
                   help=f"processor seconds per benchmark instance (default {DEFAULT_TIME_LIMIT:g})")
    p.add_argument("--doc-time-limit", type=float, default=DOC_TIME_LIMIT,
                   help=f"processor seconds per small document (default {DOC_TIME_LIMIT:g})")
    p.add_argument("--no-instances", action="store_true", help="skip the time-limited benchmark instances")
    p.add_argument("--improve", action="store_true",
                   help="solve the documents with the improvement engine on, for --max-iterations children")
    p.add_argument("--max-iterations", type=int, default=DEFAULT_MAX_ITERATIONS,
                   help=f"engine iterations per document with --improve (default {DEFAULT_MAX_ITERATIONS})")
    p.add_argument("--out", type=Path, default=baseline.BUILD / "compare-baseline", help="output directory")
    return p.parse_args(argv)


def _short(value, width: int = 160) -> str:
    text = value if isinstance(value, str) else canonical(value)
    return text if len(text) <= width else text[: width - 3] + "..."


def complete_tasks(args) -> tuple[list[dict], dict[str, dict]]:
    """Tasks for the documents that end by themselves, and the documents by key."""
    docs: dict[str, dict] = {}
    for path in sorted(EXAMPLES.glob("*.json")):
        docs[f"examples/{path.name}"] = json.loads(path.read_text())
    for doc in random_documents(args.seed, args.count):
        docs[doc["name"]] = doc
    if args.improve:
        for doc in docs.values():
            doc["options"] = dict(doc.get("options", {}), improve=True, seed=args.seed,
                                  max_iterations=args.max_iterations)
    tasks = [{"key": key, "text": json.dumps(doc), "time_limit": args.doc_time_limit, "console": True}
             for key, doc in docs.items()]
    return tasks, docs


def write_difference(out: Path, outcome: Outcome, doc: dict | None, runs: dict) -> Path:
    """Saves the document (None for a benchmark instance, which is a file) and
    every record of both modules under the outcome's key."""
    stem = outcome.key.removesuffix(".json").replace("/", "_").replace(" ", "_")
    target = out / "differences" / f"{stem}.json"
    target.parent.mkdir(parents=True, exist_ok=True)
    records = {m: {k: r for k, r in runs[m].items() if k == outcome.key or k.startswith(outcome.key + " (")}
               for m in ("before", "after")}
    target.write_text(json.dumps({"key": outcome.key, "document": doc, "detail": outcome.detail, **records},
                                 indent=1, default=str))
    return target


def main(argv=None) -> int:
    try:
        return compare(parse_args(argv))
    except baseline.BuildError as error:  # a module that does not build or import
        print(error, file=sys.stderr)
        return 2


def compare(args) -> int:
    if args.count is None:
        args.count = QUICK_COUNT if args.quick else DEFAULT_COUNT
    if args.time_limit is None:
        args.time_limit = QUICK_TIME_LIMIT if args.quick else DEFAULT_TIME_LIMIT
    out = args.out.resolve()
    shutil.rmtree(out / "differences", ignore_errors=True)  # those of an earlier comparison
    modules = baseline.modules_from_args(args)
    print(f"before: {baseline.describe(modules['before'])} (ref {args.ref})")
    print(f"after:  {baseline.describe(modules['after'])} ({baseline.after_label(args)})")

    tasks, docs = complete_tasks(args)
    print(f"solving {len(tasks)} documents with each module ...", file=sys.stderr, flush=True)
    runs = {name: baseline.run_tasks(d, tasks, out / "runs", f"complete-{name}") for name, d in modules.items()}
    outcomes = [compare_complete(t["key"], runs["before"][t["key"]], runs["after"][t["key"]]) for t in tasks]

    if not args.no_instances:
        names = QUICK_INSTANCES if args.quick else INSTANCES
        for name in names:
            print(f"{name}: 2 x {args.time_limit:g} CPU s per module ...", file=sys.stderr, flush=True)
            path = str(instance_path(name))
            log_key = f"{name} (solution log)"
            tasks = [{"key": name, "path": path, "time_limit": args.time_limit},
                     {"key": log_key, "path": path, "time_limit": args.time_limit, "mode": "log"}]
            for module, module_dir in modules.items():
                runs[module].update(baseline.run_tasks(module_dir, tasks, out / "runs", f"{name}-{module}"))
            before, after = runs["before"], runs["after"]
            outcomes.append(combine(name, [compare_prefix(name, before[name], after[name]),
                                           compare_log(log_key, before[log_key], after[log_key])]))

    return report(outcomes, runs, docs, out, args)


def report(outcomes: list[Outcome], runs: dict, docs: dict, out: Path, args) -> int:
    complete = [o for o in outcomes if o.kind == "complete"]
    limited = [o for o in outcomes if o.kind == "time-limited"]
    count = lambda group, verdict: sum(o.verdict == verdict for o in group)  # noqa: E731
    n_examples = sum(o.key.startswith("examples/") for o in complete)
    results = [runs["before"][o.key].get("result") for o in complete]
    solved = sum(r is not None and r["status"] == "success" for r in results)
    rejected = sum(r is None for r in results)
    print()
    print(f"Searches that end by themselves ({n_examples} examples, {len(complete) - n_examples} random documents "
          f"of seed {args.seed}, limit {args.doc_time_limit:g} CPU s): {len(complete)} compared, "
          f"{count(complete, 'identical')} identical, {count(complete, 'different')} different, "
          f"{count(complete, 'timed out')} reached the limit (prefix rule only)")
    print(f"  before's outcomes: {solved} solved, {len(results) - solved - rejected} without solution, "
          f"{rejected} rejected with an error")
    if limited:
        print(f"Time-limited searches ({args.time_limit:g} CPU s each): {len(limited)} compared, "
              f"{count(limited, 'identical') + count(limited, 'prefix')} agree, {count(limited, 'different')} different")
        for o in limited:
            print(f"  {o.key}: {o.verdict}" + (f" (before / after: {o.note})" if o.note else ""))
    for o in complete:
        if o.verdict == "timed out":
            print(f"  {o.key}: {o.note}")

    bad = [o for o in outcomes if o.verdict == "different"]
    if bad:
        print(f"\nFirst differences ({min(len(bad), SHOWN_DIFFERENCES)} of {len(bad)}; before -> after):")
        for o in bad[:SHOWN_DIFFERENCES]:
            saved = write_difference(out, o, docs.get(o.key), runs)
            print(f"- {o.key} (saved to {saved})")
            for where, a, b in o.detail:
                print(f"    {where}: {_short(a)} -> {_short(b)}")
        for o in bad[SHOWN_DIFFERENCES:]:
            write_difference(out, o, docs.get(o.key), runs)
    summary = {
        "ref": args.ref, "seed": args.seed, "count": args.count, "time_limit": args.time_limit,
        "doc_time_limit": args.doc_time_limit,
        "outcomes": [{"key": o.key, "kind": o.kind, "verdict": o.verdict, "note": o.note,
                      "detail": [[w, a, b] for w, a, b in o.detail]} for o in outcomes],
    }
    out.mkdir(parents=True, exist_ok=True)
    (out / "summary.json").write_text(json.dumps(summary, indent=1, default=str) + "\n")
    print(f"\n{'FAIL' if bad else 'PASS'}: {len(outcomes) - len(bad)} of {len(outcomes)} agree; "
          f"details in {out}")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
