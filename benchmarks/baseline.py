"""Release builds of the _kvr_core module for before/after measurements.

Usage: python -m benchmarks.baseline [--ref REF] [--current]

The "before" module is built from a git commit (default BASELINE_REF): the
commit's files are exported with `git archive` into build/commit-src/<commit>/
(outside the work tree's sources, so nothing in the checkout changes) and
compiled into build/commit-release/<commit>/. The "after" module is built
from the current work tree into build/current-release/ with the same CMake
flags, so the two differ in their sources only; or from another commit
(--after-ref of the tools), or it is the installed one (--installed). A
build directory that is already configured is reused; ninja then recompiles
only what changed.

Each module is used from a child process whose PYTHONPATH starts with the
module's build directory (see `child_env`), so two modules never meet in one
interpreter.
"""
from __future__ import annotations

import argparse
import glob
import hashlib
import io
import json
import os
import subprocess
import sys
import tarfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build"
BASELINE_REF = "539f24c"
CURRENT_BUILD = BUILD / "current-release"
WORKER = Path(__file__).resolve().with_name("module_worker.py")
JOBS = 2


class BuildError(RuntimeError):
    pass


def _git(*args: str, **kwargs) -> subprocess.CompletedProcess:
    return subprocess.run(["git", *args], cwd=ROOT, check=True, capture_output=True, **kwargs)


def resolve(ref: str) -> str:
    """Full commit hash of `ref`."""
    try:
        return _git("rev-parse", "--verify", f"{ref}^{{commit}}", text=True).stdout.strip()
    except subprocess.CalledProcessError as error:
        raise BuildError(f"unknown git ref {ref!r}: {error.stderr.strip()}") from None


def export_commit(commit: str) -> Path:
    """The files of `commit` under build/commit-src/<commit>/, exported once.

    A marker file written last tells a complete export from an interrupted one.
    """
    dest = BUILD / "commit-src" / commit
    marker = dest / ".exported"
    if marker.exists():
        return dest
    dest.mkdir(parents=True, exist_ok=True)
    archive = _git("archive", "--format=tar", commit).stdout
    with tarfile.open(fileobj=io.BytesIO(archive)) as tar:
        tar.extractall(dest, filter="data")
    marker.write_text(commit + "\n")
    return dest


def _pybind11_dir() -> str:
    import pybind11

    return pybind11.get_cmake_dir()


def _run(cmd: list[str], log: Path) -> None:
    with open(log, "a", encoding="utf-8") as out:
        out.write("$ " + " ".join(cmd) + "\n")
        out.flush()
        proc = subprocess.run(cmd, stdout=out, stderr=subprocess.STDOUT)
    if proc.returncode != 0:
        tail = log.read_text(errors="replace").splitlines()[-25:]
        raise BuildError(f"{' '.join(cmd[:3])} ... failed (exit {proc.returncode}); end of {log}:\n" + "\n".join(tail))


def module_file(build_dir: Path) -> Path | None:
    found = sorted(glob.glob(str(build_dir / "_kvr_core*.so")))
    return Path(found[0]) if found else None


def build_module(source: Path, build_dir: Path, quiet: bool = False) -> Path:
    """Configures (once) and builds the `_kvr_core` target of `source` into
    `build_dir` as a Release build; returns `build_dir`."""
    build_dir.mkdir(parents=True, exist_ok=True)
    log = build_dir / "build.log"
    log.write_text("")
    if not (build_dir / "CMakeCache.txt").exists() or not (build_dir / "build.ninja").exists():
        _run([
            "cmake", "-S", str(source), "-B", str(build_dir), "-G", "Ninja",
            "-DCMAKE_BUILD_TYPE=Release", "-DKVR_BUILD_PYTHON=ON", "-DKVR_BUILD_TESTS=OFF",
            f"-Dpybind11_DIR={_pybind11_dir()}", f"-DPython_EXECUTABLE={sys.executable}",
        ], log)
    if not quiet:
        print(f"building _kvr_core from {source} in {build_dir}", file=sys.stderr)
    _run(["cmake", "--build", str(build_dir), "--target", "_kvr_core", "-j", str(JOBS)], log)
    if module_file(build_dir) is None:
        raise BuildError(f"no _kvr_core module in {build_dir} after the build")
    return build_dir


def commit_module(ref: str = BASELINE_REF, quiet: bool = False) -> Path:
    """Build directory holding the module built from commit `ref`."""
    commit = resolve(ref)
    source = export_commit(commit)
    return build_module(source, BUILD / "commit-release" / commit, quiet)


def current_module(quiet: bool = False) -> Path:
    """Build directory holding the module built from the work tree as it is now."""
    return build_module(ROOT, CURRENT_BUILD, quiet)


def child_env(module_dir: Path | None) -> dict[str, str]:
    """Environment for a child process that imports `_kvr_core` from
    `module_dir` ahead of anything else, or, for None, from wherever the
    interpreter finds it (the installed package)."""
    env = dict(os.environ)
    rest = [p for p in env.get("PYTHONPATH", "").split(os.pathsep) if p]
    env["PYTHONPATH"] = os.pathsep.join(([str(module_dir)] if module_dir else []) + rest)
    return env


def run_tasks(module_dir: Path | None, tasks: list[dict], work: Path, name: str) -> dict[str, dict]:
    """Solves `tasks` (see benchmarks/module_worker.py) in child processes that
    import the module of `module_dir`; returns their records by task key.

    The tasks run in one child, in order. When a child ends early (a crash, or
    a time-out of three times the remaining time limits plus a minute), the
    task it was on gets a record with "crash" instead of a result, and the
    tasks after it go to a new child.
    """
    work.mkdir(parents=True, exist_ok=True)
    records: dict[str, dict] = {}
    pending = list(tasks)
    round_ = 0
    while pending:
        tasks_file, out_file = work / f"{name}-{round_}.tasks.jsonl", work / f"{name}-{round_}.out.jsonl"
        log_file = work / f"{name}-{round_}.log"
        tasks_file.write_text("".join(json.dumps(t) + "\n" for t in pending), encoding="utf-8")
        out_file.write_text("")
        timeout = 60 + 3 * sum(float(t["time_limit"]) for t in pending)
        cmd = [sys.executable, str(WORKER), str(tasks_file), str(out_file)]
        try:
            with open(log_file, "w", encoding="utf-8") as log:
                proc = subprocess.run(cmd, cwd=work, env=child_env(module_dir), stdout=log,
                                      stderr=subprocess.STDOUT, timeout=timeout)
            ending = f"process ended with exit status {proc.returncode}"
        except subprocess.TimeoutExpired:
            ending = f"process killed after {timeout:.0f} s"
        lines = [json.loads(line) for line in out_file.read_text(encoding="utf-8").splitlines() if line.strip()]
        for record in lines:
            _check_module(record, module_dir)
            records[record["key"]] = record
        if len(lines) == len(pending):
            break
        if not lines and round_ == 0 and ending.endswith("status 1"):
            tail = log_file.read_text(errors="replace").strip().splitlines()[-5:]
            raise BuildError(f"worker failed before its first task ({log_file}):\n" + "\n".join(tail))
        crashed = pending[len(lines)]
        records[crashed["key"]] = {"key": crashed["key"], "crash": ending}
        pending = pending[len(lines) + 1:]
        round_ += 1
    return records


def _check_module(record: dict, module_dir: Path | None) -> None:
    """Fails when a child imported another module than the one asked for."""
    if module_dir is None or "module" not in record:
        return
    if Path(record["module"]).resolve().parent != module_dir.resolve():
        raise BuildError(f"child imported {record['module']}, expected the module in {module_dir}")


def add_module_arguments(parser: argparse.ArgumentParser) -> None:
    """--ref, --after-ref and --installed, shared by the tools that compare two modules."""
    parser.add_argument("--ref", default=BASELINE_REF,
                        help=f"git ref the 'before' module is built from (default {BASELINE_REF})")
    after = parser.add_mutually_exclusive_group()
    after.add_argument("--after-ref", metavar="REF",
                       help="build the 'after' module from this git ref instead of the work tree")
    after.add_argument("--installed", action="store_true",
                       help="use the installed _kvr_core as 'after' instead of building the work tree")


def modules_from_args(args) -> dict[str, Path | None]:
    """{"before": build dir, "after": build dir or None for the installed module}."""
    before = commit_module(args.ref)
    if args.installed:
        after = None
    elif args.after_ref:
        after = commit_module(args.after_ref)
    else:
        after = current_module()
    return {"before": before, "after": after}


def after_label(args) -> str:
    """How the 'after' module was chosen, for the printed header."""
    if args.installed:
        return "installed"
    return f"ref {args.after_ref}" if args.after_ref else "work tree"


def describe(module_dir: Path | None) -> str:
    """The module file and the start of its SHA-256, which ties figures to a build."""
    if module_dir is None:
        return "installed _kvr_core"
    path = module_file(module_dir)
    if path is None:
        return str(module_dir)
    return f"{path} (sha256 {hashlib.sha256(path.read_bytes()).hexdigest()[:12]})"


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m benchmarks.baseline", description=__doc__.splitlines()[0])
    parser.add_argument("--ref", default=BASELINE_REF, help=f"git ref to build (default {BASELINE_REF})")
    parser.add_argument("--current", action="store_true", help="also build the current work tree")
    args = parser.parse_args(argv)
    try:
        print(describe(commit_module(args.ref)))
        if args.current:
            print(describe(current_module()))
    except BuildError as error:
        print(error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
