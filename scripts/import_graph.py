"""Module-level import graph of the Python package, and a check that it has no circle.

Every `import kvr_mtsp.x` and `from kvr_mtsp(.x) import ...` counts, also
inside functions: a deferred import still ties the two modules together.
Prints each circle found and exits with status 1 when there is one.

    python scripts/import_graph.py [PACKAGE_DIR]
"""
from __future__ import annotations

import ast
import sys
from pathlib import Path


def module_imports(package: Path) -> dict[str, set[str]]:
    """module -> the package's modules it imports (names without the package prefix)."""
    name = package.name
    modules = {path.stem for path in package.glob("*.py")}
    graph: dict[str, set[str]] = {}
    for path in sorted(package.glob("*.py")):
        targets: set[str] = set()
        for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"), str(path))):
            if isinstance(node, ast.Import):
                names = [alias.name for alias in node.names]
            elif isinstance(node, ast.ImportFrom) and node.module is not None and node.level == 0:
                # `from kvr_mtsp import x` names a module x; `from kvr_mtsp.x import y` the module x.
                names = [f"{node.module}.{alias.name}" for alias in node.names] if node.module == name else [node.module]
            else:
                continue
            for full in names:
                parts = full.split(".")
                if parts[0] == name and len(parts) > 1 and parts[1] in modules and parts[1] != path.stem:
                    targets.add(parts[1])
        graph[path.stem] = targets
    return graph


def circles(graph: dict[str, set[str]]) -> list[list[str]]:
    """One circle per group of modules that import each other, as a path
    a -> ... -> a, in sorted order."""
    found: list[list[str]] = []
    state: dict[str, int] = {}  # 1: on the current path, 2: done
    path: list[str] = []

    def visit(module: str) -> None:
        state[module] = 1
        path.append(module)
        for target in sorted(graph.get(module, ())):
            if state.get(target) == 1:
                found.append(path[path.index(target):] + [target])
            elif target not in state:
                visit(target)
        path.pop()
        state[module] = 2

    for module in sorted(graph):
        if module not in state:
            visit(module)
    return found


def main(argv: list[str]) -> int:
    package = Path(argv[1]) if len(argv) > 1 else Path(__file__).resolve().parent.parent / "kvr_mtsp"
    graph = module_imports(package)
    for module, targets in sorted(graph.items()):
        print(f"{module} -> {', '.join(sorted(targets)) or '-'}")
    found = circles(graph)
    for circle in found:
        print(f"import circle: {' -> '.join(circle)}", file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
