"""The hand-written type stub describes the live module: names, members and signatures."""
from __future__ import annotations

import ast
import re
from pathlib import Path

import pytest

import _kvr_core as core

STUB_SOURCE = Path(__file__).resolve().parent.parent / "src" / "python" / "_kvr_core.pyi"


def installed_stub() -> Path:
    """The stub installed next to the module, or the source copy when running from a build tree."""
    beside = Path(core.__file__).with_name("_kvr_core.pyi")
    return beside if beside.exists() else STUB_SOURCE


@pytest.fixture(scope="module")
def stub() -> ast.Module:
    return ast.parse(installed_stub().read_text(encoding="utf-8"))


def public(names) -> set[str]:
    return {name for name in names if not name.startswith("_")}


def stub_members(node: ast.ClassDef | ast.Module) -> dict[str, ast.AST]:
    members = {}
    for item in node.body:
        if isinstance(item, (ast.FunctionDef, ast.ClassDef)):
            members[item.name] = item
        elif isinstance(item, ast.AnnAssign) and isinstance(item.target, ast.Name):
            members[item.target.id] = item
    return members


# pybind11's rendering of parameter types, mapped to the plain names the stub uses.
RENDERING = [
    (r"typing\.SupportsFloat \| typing\.SupportsIndex", "float"),
    (r"typing\.SupportsInt \| typing\.SupportsIndex", "int"),
    (r"collections\.abc\.", ""),
    (r"typing\.", ""),
    (r"_kvr_core\.", ""),
]


def normalise(annotation: str) -> str:
    for pattern, replacement in RENDERING:
        annotation = re.sub(pattern, replacement, annotation)
    return annotation.replace(" ", "")


def split_top_level(text: str) -> list[str]:
    parts, depth, current = [], 0, ""
    for char in text:
        if char == "," and depth == 0:
            parts.append(current.strip())
            current = ""
            continue
        depth += char in "[("
        depth -= char in "])"
        current += char
    if current.strip():
        parts.append(current.strip())
    return parts


def runtime_signature(function) -> tuple[list[tuple[str, str, str | None]], str]:
    """(name, annotation, default) per parameter and the return type, from pybind11's docstring."""
    first_line = function.__doc__.splitlines()[0]
    match = re.fullmatch(r"\w+\((.*)\) -> (.+)", first_line)
    assert match, f"unexpected signature line {first_line!r}"
    params = []
    for part in split_top_level(match.group(1)):
        name, _, rest = part.partition(": ")
        annotation, _, default = rest.partition(" = ")
        params.append((name, normalise(annotation), default or None))
    return params, normalise(match.group(2))


def stub_signature(function: ast.FunctionDef) -> tuple[list[tuple[str, str, str | None]], str]:
    args = function.args.args
    defaults = [None] * (len(args) - len(function.args.defaults)) + [ast.unparse(d) for d in function.args.defaults]
    keyword_defaults = [None if d is None else ast.unparse(d) for d in function.args.kw_defaults]

    def param(arg: ast.arg, default: str | None) -> tuple[str, str, str | None]:
        return arg.arg, normalise(ast.unparse(arg.annotation)) if arg.annotation else "", default

    params = [param(arg, default) for arg, default in zip(args, defaults)]
    if function.args.kwonlyargs:  # pybind11 writes the keyword-only marker as a bare "*"
        params.append(("*", "", None))
        params += [param(arg, default) for arg, default in zip(function.args.kwonlyargs, keyword_defaults)]
    return params, normalise(ast.unparse(function.returns))


def compare(function, stub_function: ast.FunctionDef, owner: str | None) -> None:
    runtime_params, runtime_return = runtime_signature(function)
    stub_params, stub_return = stub_signature(stub_function)
    if owner is not None:  # pybind11 annotates self with the class
        assert runtime_params[0] == ("self", owner, None)
        assert stub_params[0][0] == "self"
        runtime_params, stub_params = runtime_params[1:], stub_params[1:]
    assert stub_params == runtime_params
    # pybind11 renders a py::dict result as a bare "dict"; the stub may parametrise it.
    if "[" not in runtime_return:
        stub_return = stub_return.split("[", 1)[0]
    assert stub_return == runtime_return


def test_stub_is_installed_next_to_an_installed_module():
    if "site-packages" not in Path(core.__file__).parts:
        pytest.skip("module loaded from a build tree")
    site = Path(core.__file__).parent
    for installed in (site / "_kvr_core.pyi", site / "_kvr_core-stubs" / "__init__.pyi"):
        assert installed.read_text(encoding="utf-8") == STUB_SOURCE.read_text(encoding="utf-8")


def test_module_names_match(stub):
    members = stub_members(stub)
    assert public(members) == public(vars(core))
    assert ast.get_docstring(stub) == core.__doc__


@pytest.mark.parametrize("name", sorted(n for n, v in vars(core).items() if isinstance(v, type)))
def test_class_members_match(stub, name):
    cls = getattr(core, name)
    members = stub_members(stub_members(stub)[name])
    assert public(members) == public(dir(cls))
    assert ("__init__" in members) == (name not in ("Result", "ProgressRecord", "ConsoleRecord"))
    for member, node in members.items():
        runtime = getattr(cls, member, None)
        if isinstance(runtime, property):
            readonly = runtime.fset is None
            assert isinstance(node, ast.FunctionDef) == readonly, f"{name}.{member}: read-only iff a stub property"
            annotation = node.returns if isinstance(node, ast.FunctionDef) else node.annotation
            rendered = runtime.fget.__doc__.strip().split(" -> ", 1)[1]
            assert normalise(ast.unparse(annotation)) == normalise(rendered)
        elif callable(runtime) and runtime.__doc__ and not runtime.__doc__.startswith("Overloaded"):
            if member.startswith("__") and member != "__init__":
                continue
            compare(runtime, node, name)


@pytest.mark.parametrize("name", ["solve_json_file", "solve_json_str", "read_document", "read_document_file", "solve_problem"])
def test_module_function_signatures(stub, name):
    node = stub_members(stub)[name]
    compare(getattr(core, name), node, None)
    assert getattr(core, name).__doc__.endswith("\n\n" + ast.get_docstring(node) + "\n")


def test_only_the_documented_callables_carry_text():
    documented = set()
    for cls_name, cls in vars(core).items():
        if not isinstance(cls, type) or cls_name in ("ObjectiveType", "NodeType"):
            continue
        for member, value in vars(cls).items():
            if member.startswith("_") or isinstance(value, property):
                continue
            if "\n\n" in (value.__doc__ or "").strip():
                documented.add(f"{cls_name}.{member}")
    for name in ("solve_json_file", "solve_json_str"):
        if "\n\n" in getattr(core, name).__doc__.strip():
            documented.add(name)
    assert documented == {"Solver.solve", "Solver.get_result", "Solver.get_result_process",
                          "solve_json_file", "solve_json_str"}
    assert "\n\nRun the KVR solver. Returns 1 on success, 0 on failure.\n" in core.Solver.solve.__doc__
