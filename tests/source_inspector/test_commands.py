"""Reading files and answering commands in-process: parse_file, full_analysis and
handle_command, with every failure turned into a response."""

from __future__ import annotations

import ast
import io
import json
import sys
from pathlib import Path

import pytest

import reference
from nebrix.workers import source_inspector as inspector

SAMPLE = '''"""Sample module."""
import os
from . import sibling


class Store(dict):
    LIMIT = 3

    def save(self, path: str) -> None:
        # TODO: atomic write
        if path and self:
            os.replace(path, path)


def helper(x):
    return [i for i in x]
'''


@pytest.fixture
def sample(tmp_path):
    path = tmp_path / "sample.py"
    path.write_text(SAMPLE)
    return path


def test_parse_file_reads_and_parses(sample):
    tree, source, error = inspector.parse_file(str(sample))
    assert (source, error) == (SAMPLE, None)
    assert ast.dump(tree) == ast.dump(ast.parse(SAMPLE))


def test_parse_file_failures(tmp_path, monkeypatch):
    assert inspector.parse_file("no/such file.py") == (None, "", "File not found: no/such file.py")
    (tmp_path / "bad.py").write_text("a = 1\nb = 2\nc = (\n")
    tree, source, error = inspector.parse_file(str(tmp_path / "bad.py"))
    assert (tree, source) == (None, "") and error.startswith("Syntax error at line 3: ")
    monkeypatch.chdir(tmp_path)
    assert inspector.parse_file("") == (None, "", f"[Errno 21] Is a directory: '{tmp_path.resolve()}'")
    (tmp_path / "nul.py").write_bytes(b"x = 1\0\n")
    assert inspector.parse_file("nul.py")[2].endswith("source code string cannot contain null bytes")
    with pytest.raises(TypeError, match=r"Argument 'path' has incorrect type \(expected str, got PosixPath\)"):
        inspector.parse_file(tmp_path)


def test_parser_errors_of_any_kind_are_returned(tmp_path, monkeypatch):
    (tmp_path / "deep.py").write_text("x = " + "+".join(["a"] * 100_000) + "\n")
    error = inspector.parse_file(str(tmp_path / "deep.py"))[2]
    assert "recursion" in error
    monkeypatch.setattr(ast, "parse", lambda *args, **kwargs: (_ for _ in ()).throw(MemoryError()))
    assert inspector.parse_file(str(tmp_path / "deep.py")) == (None, "", "MemoryError")


def test_unreadable_file(sample, monkeypatch):
    def refuse(path, *args, **kwargs):
        raise PermissionError(13, "Permission denied", str(path))

    monkeypatch.setattr(io, "open", refuse)
    assert inspector.parse_file(str(sample))[2] == f"[Errno 13] Permission denied: '{sample}'"


def test_text_decoding_and_line_ends(tmp_path):
    path = tmp_path / "mixed.py"
    path.write_bytes(b"\xef\xbb\xbfa = '\xff\xfe'  # todo: one\r\nb = 2\r# fixme: two\n")
    tree, source, error = inspector.parse_file(str(path))
    assert error is None
    assert source == "a = '\ufffd\ufffd'  # todo: one\nb = 2\n# fixme: two\n"
    assert [(r["line"], r["text"]) for r in inspector.find_todos(source)] == [(1, "one"), (3, "two")]


def test_home_directory_is_expanded(tmp_path, monkeypatch):
    monkeypatch.setenv("HOME", str(tmp_path))
    (tmp_path / "home.py").write_text("def f(): pass\n")
    assert inspector.full_analysis("~/home.py")["result"]["summary"]["path"] == "~/home.py"


def test_full_analysis(sample):
    tree = ast.parse(SAMPLE)
    assert json.dumps(inspector.full_analysis(str(sample))) == json.dumps(
        {"success": True, "result": reference.analyses(tree, SAMPLE, str(sample))})
    assert inspector.full_analysis("missing.py") == {"success": False, "error": "File not found: missing.py"}


ACTIONS = {
    "find_functions": lambda tree, path: reference.find_functions(tree, SAMPLE),
    "find_classes": lambda tree, path: reference.find_classes(tree, SAMPLE),
    "find_imports": lambda tree, path: reference.find_imports(tree),
    "find_todos": lambda tree, path: reference.find_todos(SAMPLE),
    "complexity": lambda tree, path: reference.calculate_complexity(tree),
    "symbols": lambda tree, path: reference.extract_symbols(tree),
    "call_graph": lambda tree, path: reference.build_call_graph(tree),
    "summarize": lambda tree, path: reference.summarize_file(path, tree, SAMPLE),
    "parse_ast": lambda tree, path: {"ast": ast.dump(tree, indent=2)[:5000]},
}


@pytest.mark.parametrize("action", ACTIONS)
def test_each_action_answers_with_its_analysis(action, sample):
    response = inspector.handle_command({"action": action, "path": str(sample), "extra": 1})
    assert response == {"success": True, "result": ACTIONS[action](ast.parse(SAMPLE), str(sample))}
    assert list(response) == ["success", "result"]


def test_parse_ast_is_cut_to_5000_characters():
    path = ast.__file__
    response = inspector.handle_command({"action": "parse_ast", "path": path})
    assert response["result"]["ast"] == ast.dump(ast.parse(Path(path).read_text()), indent=2)[:5000]
    assert len(response["result"]["ast"]) == 5000


@pytest.mark.parametrize("source", [
    "",
    "def f(a, /, b=1, *c, d, **e) -> None: pass",
    "match x:\n case None: pass\n case [1, *rest]: pass\n case {'k': v, **kw}: pass\n case C(1, a=2) | D(): pass",
    "global a, b\nx: int = 1\nf'{a!r:>{w}}' + b'\\xff' + 1j + ... + None",
    "async def f():\n  async with a as b: await c\n  yield\n'\u00e9\U0001f600\\ud800'",
    "class C[T: int, *Ts, **P]: pass\ntype X = list[T]" if sys.version_info >= (3, 12) else "lambda: 1",
])
def test_parse_ast_writes_what_ast_dump_writes(source, tmp_path):
    (tmp_path / "small.py").write_text(source, encoding="utf-8")
    response = inspector.handle_command({"action": "parse_ast", "path": str(tmp_path / "small.py")})
    assert response == {"success": True, "result": {"ast": ast.dump(ast.parse(source), indent=2)[:5000]}}


def test_parse_ast_of_a_tree_too_deep_for_ast_dump(tmp_path):
    source = "x = " + "+".join(["a"] * 900)
    (tmp_path / "deep.py").write_text(source)
    response = inspector.handle_command({"action": "parse_ast", "path": str(tmp_path / "deep.py")})
    limit = sys.getrecursionlimit()
    sys.setrecursionlimit(20_000)  # ast.dump needs it here; the worker does not
    try:
        expected = ast.dump(ast.parse(source), indent=2)[:5000]
    finally:
        sys.setrecursionlimit(limit)
    assert response["result"]["ast"] == expected


def test_command_failures(sample):
    handle = inspector.handle_command
    assert handle({"action": "quit", "path": 5}) == {"success": True, "result": "goodbye"}
    assert handle({"path": str(sample)}) == {"success": False, "error": "Unknown action: "}
    assert handle({"action": "Find_Functions", "path": str(sample)}) == {
        "success": False, "error": "Unknown action: Find_Functions"}
    assert handle({"action": ["find_todos"], "path": str(sample)}) == {
        "success": False, "error": "Unknown action: ['find_todos']"}
    assert handle({"action": "nonsense"}) == {"success": False, "error": handle({"action": "find_todos"})["error"]}
    assert handle({"action": "nonsense", "path": "gone.py"}) == {"success": False, "error": "File not found: gone.py"}
    for action in ("find_todos", "analyze"):
        assert handle({"action": action, "path": None}) == {
            "success": False, "error": "Argument 'path' has incorrect type (expected str, got NoneType)"}
    with pytest.raises(TypeError, match=r"Argument 'cmd' has incorrect type \(expected dict, got list\)"):
        handle([])


@pytest.mark.filterwarnings("ignore::DeprecationWarning")  # the node built without its fields
def test_errors_raised_by_an_analysis_become_responses(sample, monkeypatch):
    broken = ast.Module(body=[ast.FunctionDef(name="f")], type_ignores=[])  # no position, no args
    monkeypatch.setattr(ast, "parse", lambda *args, **kwargs: broken)
    for action in ("analyze", "find_functions"):
        response = inspector.handle_command({"action": action, "path": str(sample)})
        assert response == {"success": False, "error": "'FunctionDef' object has no attribute 'lineno'"}
