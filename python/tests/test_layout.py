"""The layout of the package: its parts import only the parts below them,
no module imports itself back through others, no module runs long without
saying why, and every subpackage is installed."""

from __future__ import annotations

import ast
import re
from pathlib import Path

import pytest

PYTHON = Path(__file__).resolve().parent.parent
PACKAGE = PYTHON / "qmr"

# The parts, lowest first: a module imports its own part and lower ones.
LAYERS = {"units": 0, "deck": 1, "io": 1, "sampling": 1, "runner": 2,
          "plot": 2, "ensembles": 3, "sensitivities": 4, "report": 5,
          "calibration": 6, "cli": 7, "__init__": 8}


def modules(root: Path, top: str) -> dict[str, Path]:
    out = {}
    for p in sorted(root.rglob("*.py")):
        parts = list(p.relative_to(root).with_suffix("").parts)
        if parts[-1] == "__init__":
            parts = parts[:-1]
        out[".".join([top, *parts])] = p
    return out


def imports(name: str, path: Path, known: dict[str, Path]) -> set[str]:
    """The modules of the package that `name` imports anywhere in its code
    (functions too), leaving out imports made only for type checking."""
    tree = ast.parse(path.read_text())
    is_pkg = path.name == "__init__.py"
    here = name.split(".") if is_pkg else name.split(".")[:-1]
    for node in ast.walk(tree):          # drop `if TYPE_CHECKING:` bodies
        if isinstance(node, ast.If) and "TYPE_CHECKING" in ast.unparse(
                node.test):
            node.body = []
    out = set()
    for node in ast.walk(tree):
        if isinstance(node, ast.Import):
            targets = [a.name for a in node.names]
        elif isinstance(node, ast.ImportFrom):
            base = node.module or ""
            if node.level:
                up = here[:len(here) - node.level + 1]
                base = ".".join(up + ([base] if base else []))
            targets = [f"{base}.{a.name}" if f"{base}.{a.name}" in known
                       else base for a in node.names]
        else:
            continue
        out |= {t for t in targets if t in known and t != name}
    return out


def part(name: str) -> str:
    bits = name.split(".")
    return bits[1] if len(bits) > 1 else "__init__"


@pytest.fixture(scope="module")
def graph() -> dict[str, set[str]]:
    known = modules(PACKAGE, "qmr")
    return {n: imports(n, p, known) for n, p in known.items()}


def test_parts_import_only_lower_parts(graph):
    wrong = [f"{a} imports {b}" for a, bs in graph.items() for b in bs
             if part(a) != part(b) and LAYERS[part(b)] >= LAYERS[part(a)]]
    assert wrong == []
    # Decks are read and written without running the program.
    assert not any(part(b) == "runner" for a, bs in graph.items()
                   if part(a) == "deck" for b in bs)


def test_no_import_circles(graph):
    seen: dict[str, int] = {}        # 1: on the path, 2: done

    def visit(n: str, path: list[str]) -> None:
        seen[n] = 1
        for m in sorted(graph[n]):
            # A package's own __init__ importing its modules is no circle
            # when they do not import it back (an edge m -> n then is).
            if seen.get(m) == 1:
                raise AssertionError(" -> ".join(path + [n, m]))
            if m not in seen:
                visit(m, path + [n])
        seen[n] = 2
    for n in sorted(graph):
        if n not in seen:
            visit(n, [])


def test_the_package_never_needs_its_development_tooling():
    for p in PACKAGE.rglob("*.py"):
        assert "qmrdev" not in p.read_text(), p


def test_long_modules_say_why():
    for p in sorted((PACKAGE.rglob("*.py"))):
        lines = p.read_text().count("\n")
        if lines > 520:
            doc = ast.get_docstring(ast.parse(p.read_text())) or ""
            assert "over 500 lines" in doc, f"{p}: {lines} lines"


def test_every_subpackage_is_installed_and_commands_are_entry_points():
    toml = (PYTHON / "pyproject.toml").read_text()
    assert re.search(r'include = \["qmr", "qmr\.\*"\]', toml)
    for d in PACKAGE.rglob("*"):
        if d.is_dir() and any(d.glob("*.py")):
            assert (d / "__init__.py").is_file(), d
    for command in ("qmr-plot", "qmr-ensemble", "qmr-report"):
        m = re.search(rf'^{command} = "([\w.]+):(\w+)"', toml, re.M)
        assert m, command
        module = PYTHON.joinpath(*m[1].split(".")).with_suffix(".py")
        assert f"def {m[2]}(" in module.read_text()
        wrapper = (PYTHON.parent / "tools" / command).read_text()
        assert f"from {m[1]} import {m[2]}" in wrapper
