"""Child process of the before/after tools: solves documents with whichever
_kvr_core its sys.path finds first and writes one JSON line per document.

Usage: python benchmarks/module_worker.py TASKS OUT

TASKS holds one JSON object per line: "key", the document as "text" or as a
file "path", "time_limit" (processor seconds), optionally "console": true to
capture what the solver prints, and optionally "mode": "log". The default
mode solves with solve_json_str; "log" builds the same instance through the
Problem and Solver classes and reports the solver's whole solution log
(get_result_process: every solution before and after post-optimisation with
the label counters of that moment), which the JSON entry reduces to the
improving costs. Every line of OUT carries the task's "key", the module file,
"cpu_time" and "wall_time" of the solve call, "rss_before_kb" (resident size
just before the call, after the document was read) and "peak_rss_kb"
(ru_maxrss after the call), and either "result" (the returned dict, or for
"log" the log and the final counters) or "error" (exception type and
message). Peak memory describes a solve only when it is the first of its
process.

The script uses the standard library only and is started by path, not with
-m, so that the directory in front of sys.path is the one the parent put in
PYTHONPATH and no copy of the module in the current directory interferes.
Lines are flushed one by one: after a crash the parent knows which task was
running (the first one without a line).
"""
from __future__ import annotations

import ctypes
import json
import os
import resource
import sys
import tempfile
import time

_LIBC = ctypes.CDLL(None)


def rss_kb() -> int | None:
    """Current resident set size, from /proc (Linux)."""
    try:
        with open("/proc/self/statm", encoding="ascii") as f:
            pages = int(f.read().split()[1])
    except (OSError, ValueError, IndexError):
        return None
    return pages * os.sysconf("SC_PAGE_SIZE") // 1024


def _captured(call):
    """Runs call() with file descriptors 1 and 2 sent to temporary files;
    returns (value or exception, stdout text, stderr text)."""
    sys.stdout.flush()
    sys.stderr.flush()
    _LIBC.fflush(None)
    saved = os.dup(1), os.dup(2)
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        os.dup2(out.fileno(), 1)
        os.dup2(err.fileno(), 2)
        try:
            value = call()
        except Exception as error:  # reported to the parent, not raised here
            value = error
        finally:
            _LIBC.fflush(None)
            os.dup2(saved[0], 1)
            os.dup2(saved[1], 2)
            os.close(saved[0])
            os.close(saved[1])
        out.seek(0)
        err.seek(0)
        return value, out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace")


def _plain(value):
    """The result with every mapping and sequence as plain dict and list."""
    if isinstance(value, dict):
        return {str(k): _plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [_plain(v) for v in value]
    return value


def problem_from_document(core, doc: dict, time_limit: float):
    """(Problem, Options) built through the classes from the parts of a
    document the benchmark instances use: nodes, agents with route-length
    limits, cost matrices by type name, assignment and time-window items."""
    problem = core.Problem()
    for item in doc["nodes"]:
        node = core.Node()
        node.id = item["id"]
        node.position.x, node.position.y, node.position.z = item["x"], item["y"], item["z"]
        node.type = core.NodeType.DEPOT if item.get("type") == "DEPOT" else core.NodeType.TARGET
        node.demand = item.get("demand", 0.0)
        problem.add_node(node)
    for item in doc["agents"]:
        agent = core.Agent()
        agent.id, agent.type = item["id"], item["type"]
        agent.start_node, agent.end_node = item["start_node"], item["end_node"]
        agent.time_limit = item.get("max_length", 0)
        agent.capacity_limit = item.get("capacity", 0)
        problem.add_agent(agent, item["id"])
    for name, matrix in doc["costs"].items():
        problem.set_cost_matrix(name, matrix)
    assignment, windows = core.AssignmentConstraint(), core.TimeWindowConstraint()
    for constraint in doc.get("constraints", []):
        for item in constraint.get("items", []):
            if constraint["kind"] == "assignment":
                assignment.set_assignment(item["node"], item["types"])
            elif constraint["kind"] == "timewindow":
                windows.set_timewindow(item["node"], item["start"], item["end"])
    problem.set_assignment_constraint(assignment)
    problem.set_timewindow_constraint(windows)
    options = core.Options()
    doc_options = doc.get("options", {})
    options.return_to_end = doc_options.get("return_to_end", True)
    min_max = doc_options.get("objective", "min_sum") in ("min_max", "MIN_MAX")
    options.objective = core.ObjectiveType.MinMax if min_max else core.ObjectiveType.MinSum
    options.time_limit = time_limit
    return problem, options


def _result_fields(result) -> dict:
    return {
        "n_generated": result.n_generated,
        "n_expanded": result.n_expanded,
        "timeout": result.timeout,
        "last_update_time": result.last_update_time,
        "paths": {str(k): list(v) for k, v in sorted(result.paths.items())},
        "times": {str(k): v for k, v in sorted(result.times.items())},
    }


def solve_with_log(core, text: str, time_limit: float) -> dict:
    problem, options = problem_from_document(core, json.loads(text), time_limit)
    solver = core.Solver(problem, options)
    found = solver.solve()
    log = [dict(_result_fields(result), time=t) for t, result in solver.get_result_process()]
    return {"found": found, "final": _result_fields(solver.get_result()), "log": log}


def solve_task(core, task: dict) -> dict:
    if task.get("text") is not None:
        text = task["text"]
    else:
        with open(task["path"], encoding="utf-8") as f:
            text = f.read()
    limit = float(task["time_limit"])
    record: dict = {"key": task["key"], "module": core.__file__}
    rss_before = rss_kb()
    cpu0, wall0 = time.process_time(), time.perf_counter()
    if task.get("mode") == "log":
        call = lambda: solve_with_log(core, text, limit)  # noqa: E731
    else:
        call = lambda: dict(core.solve_json_str(text, limit))  # noqa: E731
    if task.get("console"):
        value, out, err = _captured(call)
        record["console"] = {"stdout": out, "stderr": err}
    else:
        try:
            value = call()
        except Exception as error:  # reported to the parent, not raised here
            value = error
    record["cpu_time"] = time.process_time() - cpu0
    record["wall_time"] = time.perf_counter() - wall0
    record["rss_before_kb"] = rss_before
    record["peak_rss_kb"] = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    if isinstance(value, Exception):
        record["error"] = f"{type(value).__name__}: {value}"
    else:
        record["result"] = _plain(value)
    return record


def main(argv: list[str]) -> int:
    tasks_path, out_path = argv
    import _kvr_core as core

    with open(tasks_path, encoding="utf-8") as tasks, open(out_path, "a", encoding="utf-8") as out:
        for line in tasks:
            if line.strip():
                out.write(json.dumps(solve_task(core, json.loads(line))) + "\n")
                out.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
