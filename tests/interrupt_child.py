"""Child process of the interrupt tests: solves the document on its standard
input and reports each step as one JSON line on standard output.

    python interrupt_child.py json|solver < document
"""
import json
import signal
import sys
from pathlib import Path

# A parent started in the background may pass SIGINT on as ignored; the
# interpreter then keeps ignoring it. Ctrl-C in a terminal reaches this
# handler, so the tests use it too.
signal.signal(signal.SIGINT, signal.default_int_handler)
HERE = Path(__file__).resolve().parent
sys.path[:0] = [str(HERE), str(HERE.parent)]  # the tests and the benchmarks package

import _kvr_core as core  # noqa: E402
from test_api import problem_from_doc  # noqa: E402


def report(**fields):
    print(json.dumps(fields), flush=True)


def solve_with_solver(solver):
    try:
        found = solver.solve()
    except KeyboardInterrupt:
        report(event="KeyboardInterrupt")
        return
    result = solver.get_result()
    report(event="solved", found=found, timeout=result.timeout, n_generated=result.n_generated,
           paths={str(k): v for k, v in result.paths.items()}, times={str(k): v for k, v in result.times.items()})


doc = json.loads(sys.stdin.readline())
if sys.argv[1] == "json":
    report(event="solving")
    try:
        report(event="result", result=core.solve_json_str(json.dumps(doc)))
    except KeyboardInterrupt:
        report(event="KeyboardInterrupt")
else:
    # One Solver, interrupted, then asked to solve again.
    solver = core.Solver(*problem_from_doc(doc))
    report(event="solving")
    solve_with_solver(solver)
    solve_with_solver(solver)
