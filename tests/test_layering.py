"""The source folders form layers: every include points to the own folder or a lower layer."""
from __future__ import annotations

import importlib.util
import re
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
_location = importlib.util.spec_from_file_location("include_graph", ROOT / "scripts" / "include_graph.py")
include_graph = importlib.util.module_from_spec(_location)
_location.loader.exec_module(include_graph)


def test_source_tree_has_no_include_running_up():
    edges = include_graph.folder_includes(ROOT / "src")
    assert edges, "the graph found no include between folders"
    assert include_graph.violations(edges) == []


def test_every_source_folder_has_a_layer_and_a_readme():
    for folder in (ROOT / "src").iterdir():
        if folder.is_dir():
            assert folder.name in include_graph.LAYERS, folder.name
            assert (folder / "README.md").is_file(), f"src/{folder.name} has no README"


def test_includes_running_up_or_sideways_are_reported(tmp_path):
    for folder, text in {
        "common": '#include "common/a.h"\n',
        "plugins": '#include "search/solver.h"\n#include "common/a.h"\n',
        "model": '#include "graph/planner_graph.h"\n',
        "extra": '#include "common/a.h"\n',
    }.items():
        (tmp_path / folder).mkdir()
        (tmp_path / folder / "x.cpp").write_text(text)
    found = include_graph.violations(include_graph.folder_includes(tmp_path))
    assert found == [
        "extra -> common: folder 'extra' has no layer (extra/x.cpp)",
        "model -> graph runs sideways (model/x.cpp)",
        "plugins -> search runs up (plugins/x.cpp)",
    ]
    assert include_graph.main(["include_graph", str(tmp_path)]) == 1


_location = importlib.util.spec_from_file_location("import_graph", ROOT / "scripts" / "import_graph.py")
import_graph = importlib.util.module_from_spec(_location)
_location.loader.exec_module(import_graph)


def test_python_package_has_no_import_circle():
    graph = import_graph.module_imports(ROOT / "kvr_mtsp")
    assert graph["cli"] and graph["batch"], "the graph found no import between modules"
    assert import_graph.circles(graph) == []


def test_one_module_tells_the_instance_forms_apart_and_none_restates_the_reader():
    # A path, a JSON text and a dict are told apart in kvr_mtsp.sources alone
    # (its `source`, which api, batch and the checker call); the reader's own
    # messages say where a document is wrong, so no module words them from a
    # table of its fields.
    sources = {path.name: path.read_text(encoding="utf-8") for path in (ROOT / "kvr_mtsp").glob("*.py")}
    triage = sorted(name for name, text in sources.items()
                    if re.search(r"isinstance\([^)]*PathLike", text) or "def looks_like_json" in text)
    assert triage == ["sources.py"]
    restating = sorted(name for name, text in sources.items()
                       if any(word in text for word in ("cannot use at()", "type must be {", "NODE_FIELDS")))
    assert restating == []


def test_import_circles_are_reported_also_through_deferred_imports(tmp_path):
    package = tmp_path / "pkg"
    package.mkdir()
    for name, text in {
        "low": "import json\n",
        "a": "from pkg import b\nfrom pkg.low import x\n",
        "b": "def f():\n    from pkg.c import y\n",
        "c": "import pkg.a\n",
        "d": "from pkg.low import x\n",
    }.items():
        (package / f"{name}.py").write_text(text)
    graph = import_graph.module_imports(package)
    assert graph == {"a": {"b", "low"}, "b": {"c"}, "c": {"a"}, "d": {"low"}, "low": set()}
    assert import_graph.circles(graph) == [["a", "b", "c", "a"]]
    assert import_graph.main(["import_graph", str(package)]) == 1
