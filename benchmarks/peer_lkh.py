"""The third peer: LKH-3 (an external executable) on homogeneous documents.

LKH-3 is not part of this project: build it from its public source with
`benchmarks/build_lkh.sh` and pass the executable with `--lkh PATH`.

LKH-3 has one cost matrix, so only documents with one agent type, one depot
shared by every agent as start and end, closed routes, complete matrices and
no constraints, limits or enforced demands are posed; others are refused
with a reason. The model:

- the problem file is an explicit full matrix of the real costs multiplied
  by SCALE and rounded to integers, TYPE TSP when the matrix is symmetric
  and ATSP otherwise; the depot is LKH-3's DEPOT;
- the parameter file starts with SPECIAL (the move and kick settings of
  LKH-3's own mTSP examples; without it a 200-node min-max run spends its
  first trial of 10 s far above the result with it), then sets SALESMEN,
  MTSP_OBJECTIVE (MINMAX or MINSUM), MTSP_MIN_SIZE = 0 (a salesman may stay
  idle, as ours may), RUNS = 1, SEED = our seed + 1 (LKH-3 draws a seed
  from the clock for 0), TIME_LIMIT and TOTAL_TIME_LIMIT = the budget
  (LKH-3 measures its own user time) and a MAX_TRIALS high enough that the
  time limit ends the run;
- the routes are read back from its MTSP_SOLUTION_FILE; the anytime curve
  from its trace ("* trial: Cost = penalty_cost, Time = s sec."), shifted by
  its preprocessing time, divided by SCALE. The final figures, as for every
  solver, are the checker's, recomputed from the real costs.
"""
from __future__ import annotations

import re
import resource
import subprocess
import time
from pathlib import Path

from kvr_mtsp.checker import NO_CONNECTION, objective_kind

SCALE = 1000
MAX_TRIALS = 1_000_000_000


def unsupported_reason(doc: dict) -> str | None:
    """Why LKH-3's mTSP model cannot pose this document, or None."""
    options = doc.get("options", {})
    if not options.get("return_to_end", True):
        return "open routes not modelled"
    agents, n = doc["agents"], len(doc["nodes"])
    if len({a["type"] for a in agents}) != 1 or len(doc["costs"]) != 1:
        return "more than one agent type (LKH-3 takes one matrix)"
    if len({a["start_node"] for a in agents} | {a["end_node"] for a in agents}) != 1:
        return "more than one start or end node"
    if any(a.get("max_length", 0) > 0 for a in agents):
        return "route-length limits not modelled"
    if any(value for c in doc.get("constraints", []) for key, value in c.items() if key != "kind"):
        return "constraints not modelled"
    if options.get("enforce_capacity") and any(node.get("demand", 0) for node in doc["nodes"]):
        return "demands not modelled"
    (matrix,) = doc["costs"].values()
    if len(matrix) < n or any(len(row) < n for row in matrix):
        return "incomplete cost matrix"
    if any(c >= NO_CONNECTION for i, row in enumerate(matrix[:n]) for j, c in enumerate(row[:n]) if i != j):
        return "missing connections"
    return None


def depot_position(doc: dict) -> int:
    depot = doc["agents"][0]["start_node"]
    return next(i for i, node in enumerate(doc["nodes"]) if node["id"] == depot)


def integer_matrix(doc: dict) -> list[list[int]]:
    """The cost matrix in LKH-3's integer units (zero diagonal)."""
    (matrix,) = doc["costs"].values()
    n = len(doc["nodes"])
    return [[0 if i == j else round(c * SCALE) for j, c in enumerate(row[:n])] for i, row in enumerate(matrix[:n])]


def problem_text(doc: dict, name: str = "instance") -> str:
    """The TSPLIB problem file LKH-3 reads: an explicit full matrix."""
    weights = integer_matrix(doc)
    n = len(weights)
    symmetric = all(weights[i][j] == weights[j][i] for i in range(n) for j in range(i + 1, n))
    lines = [
        f"NAME : {name}",
        f"TYPE : {'TSP' if symmetric else 'ATSP'}",
        f"DIMENSION : {n}",
        "EDGE_WEIGHT_TYPE : EXPLICIT",
        "EDGE_WEIGHT_FORMAT : FULL_MATRIX",
        "EDGE_WEIGHT_SECTION",
    ]
    lines += [" ".join(map(str, row)) for row in weights]
    lines.append("EOF")
    return "\n".join(lines) + "\n"


def parameter_text(doc: dict, problem: Path, solution: Path, budget: float, seed: int) -> str:
    """LKH-3's parameter file for one run of `budget` CPU seconds."""
    objective = "MINMAX" if objective_kind(doc) == "min_max" else "MINSUM"
    lines = [
        "SPECIAL",
        f"PROBLEM_FILE = {problem}",
        f"SALESMEN = {len(doc['agents'])}",
        f"DEPOT = {depot_position(doc) + 1}",
        f"MTSP_OBJECTIVE = {objective}",
        "MTSP_MIN_SIZE = 0",
        "RUNS = 1",
        f"SEED = {seed + 1}",
        f"MAX_TRIALS = {MAX_TRIALS}",
        f"TIME_LIMIT = {budget:g}",
        f"TOTAL_TIME_LIMIT = {budget:g}",
        f"MTSP_SOLUTION_FILE = {solution}",
        "TRACE_LEVEL = 1",
    ]
    return "\n".join(lines) + "\n"


_ROUTE_LINE = re.compile(r"^\s*((?:\d+\s+)+)\(#(\d+)\)")


def parse_solution(text: str, doc: dict) -> list[list[int]]:
    """Routes (node positions, depot at both ends) from an MTSP_SOLUTION_FILE:
    after two header lines, one line per salesman, "1 5 9 1 (#2)  Cost: 37",
    node numbers counted from 1. Raises ValueError on anything else."""
    n, depot = len(doc["nodes"]), depot_position(doc)
    routes = []
    for line in text.splitlines()[2:]:
        if not line.strip():
            continue
        match = _ROUTE_LINE.match(line)
        if match is None:
            raise ValueError(f"unexpected line in the LKH-3 solution: {line!r}")
        ids = [int(tok) - 1 for tok in match.group(1).split()]
        if any(not 0 <= v < n for v in ids) or ids[0] != depot or ids[-1] != depot:
            raise ValueError(f"route outside the instance or away from the depot: {line!r}")
        if len(ids) - 2 != int(match.group(2)):
            raise ValueError(f"route length differs from its count: {line!r}")
        routes.append(ids)
    if len(routes) != len(doc["agents"]):
        raise ValueError(f"{len(routes)} routes in the LKH-3 solution for {len(doc['agents'])} salesmen")
    return routes


_PREPROCESSING = re.compile(r"Preprocessing time = ([0-9.]+) sec")
# An improving trial: "* 3: Cost = 28250_60000, Time = 1.25 sec."; LKH-3 may
# print it right after "*** Time limit exceeded" on the same line.
_IMPROVEMENT = re.compile(r"(?:^|exceeded)\* \d+: Cost = (-?\d+)(?:_(-?\d+))?.*Time = ([0-9.]+) sec")


def parse_trace(log: str, min_max: bool) -> list[dict]:
    """LKH-3's improvements as anytime entries {time, value}: the CPU seconds
    since its start (preprocessing included) and the objective in real units
    (for MINMAX the penalty part, the longest route; for MINSUM the cost)."""
    offset, entries = 0.0, []
    for line in log.splitlines():
        pre = _PREPROCESSING.search(line)
        if pre:
            offset = float(pre.group(1))
            continue
        match = _IMPROVEMENT.search(line)
        if match is None:
            continue
        first, second, seconds = match.group(1), match.group(2), float(match.group(3))
        value = int(first) if (min_max and second is not None) else int(second if second is not None else first)
        entries.append({"time": offset + seconds, "value": value / SCALE})
    return entries


def _children_usage() -> tuple[float, int]:
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def solve(doc: dict, budget: float, seed: int, lkh: str, work: Path) -> dict:
    """Runs LKH-3 once on `doc` in `work`; returns the routes, the anytime
    curve and LKH-3's own CPU time and peak memory (the child process's)."""
    from kvr_mtsp.checker import check_solution

    work.mkdir(parents=True, exist_ok=True)
    problem, params, solution = work / "lkh.problem", work / "lkh.par", work / "lkh.solution"
    problem.write_text(problem_text(doc, doc.get("name", "instance")))
    params.write_text(parameter_text(doc, problem, solution, budget, seed))
    solution.unlink(missing_ok=True)
    cpu0, wall0 = _children_usage()[0], time.perf_counter()
    proc = subprocess.run([lkh, str(params)], cwd=work, capture_output=True, text=True,
                          timeout=40 * budget + 300, stdin=subprocess.DEVNULL)
    cpu, peak_kb = _children_usage()
    (work / "lkh.log").write_text(proc.stdout + proc.stderr)
    result = {"status": "failed", "routes": [], "integer_scale": SCALE, "anytime": [],
              "returncode": proc.returncode}
    if proc.returncode == 0 and solution.exists():
        result.update(status="success", routes=parse_solution(solution.read_text(), doc))
        min_max = objective_kind(doc) == "min_max"
        key = "max_cost" if min_max else "sum_cost"
        report = check_solution(doc, result["routes"])
        trace = parse_trace(proc.stdout, min_max)
        # The trace is in LKH-3's rounded units; its last entry is replaced by
        # the real cost of the routes it wrote, so that the curve ends where
        # the checked figure is.
        result["anytime"] = [{"time": e["time"], key: e["value"]} for e in trace]
        if result["anytime"]:
            result["anytime"][-1][key] = report.max_cost if min_max else report.sum_cost
    return {"result": result, "cpu_time": cpu - cpu0, "wall_time": time.perf_counter() - wall0,
            "child_peak_rss_kb": peak_kb, "rss_before_kb": None}


def version(lkh: str) -> str | None:
    """The version line LKH-3 prints first, or None."""
    try:
        proc = subprocess.run([lkh, "/dev/null"], capture_output=True, text=True, timeout=10,
                              stdin=subprocess.DEVNULL)
    except (OSError, subprocess.TimeoutExpired):
        return None
    for line in proc.stdout.splitlines():
        if "LKH" in line and "Version" in line:
            return line.strip(" *")
    return None

