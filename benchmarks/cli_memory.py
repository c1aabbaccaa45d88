"""Peak memory of one solve through the command line, `kvr_mtsp.solve` and the module's own entry.

    python -m benchmarks.cli_memory [--instance NAME] [--iterations N] [--budget S]

The instance is the generated 2,000-node document with two agent types
(`rand2000-het-t10d10-minmax` of `benchmarks.generate`, written to benchmarks/generated/
when missing). Each solve runs in a fresh interpreter, with the engine on,
seed 0 and a fixed number of engine iterations, so that the three do the
same work; the figure is the child's peak resident memory as the kernel
reports it (`wait4`). Printed: the peak of each, and the ratios of the
command line and of `kvr_mtsp.solve` to the module's own.
"""
from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
import tempfile
from pathlib import Path

from benchmarks.generate import ensure
from benchmarks.suites import LARGE

ROOT = Path(__file__).resolve().parent.parent


def peak_mb(command: list[str], cwd: Path) -> float:
    """The peak resident memory of `command` in megabytes; raises when it fails."""
    child = subprocess.Popen(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    stderr = child.stderr.read().decode("utf-8", "replace") if child.stderr else ""
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise RuntimeError(f"{' '.join(command[:4])} ... ended with {child.returncode}: {stderr[-400:]}")
    return usage.ru_maxrss / 1024  # kilobytes on Linux


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--instance", default="rand2000-het-t10d10-minmax", help="a generated instance's name")
    parser.add_argument("--iterations", type=int, default=5, help="engine iterations of each solve")
    parser.add_argument("--budget", type=float, default=30.0, help="processor-second limit of each solve")
    args = parser.parse_args(argv)
    [recipe] = [r for r in LARGE if r.name == args.instance]
    [source] = ensure([recipe])
    with tempfile.TemporaryDirectory() as folder:
        # The document with the command line's settings written in, so that the
        # module's own entry solves exactly what the other two solve.
        doc = json.loads(source.read_text())
        doc["options"].update({"improve": True, "seed": 0, "max_iterations": args.iterations,
                               "time_limit": args.budget})
        path = Path(folder) / "instance.json"
        path.write_text(json.dumps(doc, separators=(",", ":")))
        del doc
        python = sys.executable
        commands = {
            "module (solve_json_file)": [python, "-c", f"import _kvr_core; _kvr_core.solve_json_file({str(path)!r})"],
            "kvr_mtsp.solve": [python, "-c", f"import kvr_mtsp; kvr_mtsp.solve({str(path)!r}, seed=0)"],
            "command line": [python, "-m", "kvr_mtsp", "solve", str(path), "--quiet", "--seed", "0",
                             "--max-iterations", str(args.iterations)],
        }
        size_mb = path.stat().st_size / 2**20
        print(f"{args.instance}: {recipe.n} nodes, document {size_mb:.1f} MB, {args.iterations} engine iterations")
        peaks = {}
        for name, command in commands.items():
            peaks[name] = peak_mb(command, ROOT)
            print(f"  {name:<26} peak {peaks[name]:8.1f} MB", flush=True)
        base = peaks["module (solve_json_file)"]
        for name in ("kvr_mtsp.solve", "command line"):
            print(f"  {name} / module: {peaks[name] / base:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
