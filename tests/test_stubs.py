"""Each module's hand-written stub names exactly the public names the module has."""

import ast
import dataclasses
import importlib
import inspect
from pathlib import Path

import pytest

PACKAGE_ROOT = Path(__file__).resolve().parent.parent / "python"
MODULES = {
    "nebrix.pc.desktop_access": "nebrix/pc/desktop_access.pyi",
    "nebrix.core.scheduler": "nebrix/core/scheduler.pyi",
    "nebrix.pc.screen_operator": "nebrix/pc/screen_operator.pyi",
    "nebrix.workers.source_inspector": "nebrix/workers/source_inspector/__init__.pyi",
    "nebrix._support_probe": "nebrix/_support_probe.pyi",
}


def public(names):
    return {name for name in names if not name.startswith("_")}


def defined_names(body):
    """Names a stub body defines (imports excluded): defs, classes and assignments."""
    names = {}
    for node in body:
        if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef, ast.ClassDef)):
            names[node.name] = node
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            names[node.target.id] = node
        elif isinstance(node, ast.Assign):
            names.update((target.id, node) for target in node.targets if isinstance(target, ast.Name))
    return names


@pytest.mark.parametrize("module_name", MODULES)
def test_stub_matches_module(module_name):
    module = importlib.import_module(module_name)
    stub = ast.parse((PACKAGE_ROOT / MODULES[module_name]).read_text())
    stub_names = defined_names(stub.body)
    module_names = {name for name, value in vars(module).items() if not inspect.ismodule(value)}
    assert public(stub_names) == public(module_names)

    for name, node in stub_names.items():
        if isinstance(node, ast.ClassDef) and not name.startswith("_"):
            cls = getattr(module, name)
            # Dataclass fields without a plain default have no class attribute.
            fields = {field.name for field in dataclasses.fields(cls)} if dataclasses.is_dataclass(cls) else set()
            assert public(defined_names(node.body)) == public(set(vars(cls)) | fields), f"class {name}"
