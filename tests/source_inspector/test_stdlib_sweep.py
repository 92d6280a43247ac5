"""Every .py file of the running interpreter's standard library, analysed by the native
module and by the oracle written on the ast module's own functions: the answers must be
the same JSON text, key order included."""

from __future__ import annotations

import ast
import json
import os
import sysconfig
from pathlib import Path

import pytest

import reference
from nebrix.workers import source_inspector as inspector

STDLIB = Path(sysconfig.get_paths()["stdlib"])
ALL_FILES = sorted(path for path in STDLIB.rglob("*.py") if "site-packages" not in path.parts)
# NEBRIX_SWEEP_SAMPLE=n sweeps every n-th file: `make test` sweeps all of it on each runtime
# and a quarter on the clang++ and sanitizer builds, which run the same runtime again.
FILES = ALL_FILES[::int(os.environ.get("NEBRIX_SWEEP_SAMPLE", "1"))]
CHUNKS = 16


@pytest.fixture
def memoized_line_split(monkeypatch):
    """ast.get_source_segment splits the whole source at every call; keep its own split
    of the last source so the oracle runs in linear time."""
    original = ast._splitlines_no_ff
    memo = {}

    def split(source, maxlines=None):
        if memo.get("source") is not source:
            memo.update(source=source, lines=original(source))
        lines = memo["lines"]
        return lines if maxlines is None else lines[:max(maxlines, 0)]

    monkeypatch.setattr(ast, "_splitlines_no_ff", split)


def native_analyses(tree, source, path):
    return {
        "summary": inspector.summarize_file(path, tree, source),
        "functions": inspector.find_functions(tree, source),
        "classes": inspector.find_classes(tree, source),
        "imports": inspector.find_imports(tree),
        "todos": inspector.find_todos(source),
        "complexity": inspector.calculate_complexity(tree),
        "symbols": inspector.extract_symbols(tree),
        "call_graph": inspector.build_call_graph(tree),
    }


def test_the_sweep_covers_the_standard_library():
    assert len(ALL_FILES) > 1000


@pytest.mark.filterwarnings("ignore::DeprecationWarning", "ignore::SyntaxWarning")
@pytest.mark.parametrize("chunk", range(CHUNKS))
def test_answers_match_the_ast_module(chunk, memoized_line_split):
    mismatches = []
    for number, path in enumerate(FILES[chunk::CHUNKS]):
        tree, source, error = inspector.parse_file(str(path))
        if error is not None:
            with pytest.raises((SyntaxError, ValueError)):
                ast.parse(reference.read_source(path))
            continue
        if source != reference.read_source(path):
            mismatches.append(f"{path}: source text")
            continue
        ours = native_analyses(tree, source, str(path))
        theirs = reference.analyses(tree, source, str(path))
        mismatches += [f"{path}: {key}" for key in ours if json.dumps(ours[key]) != json.dumps(theirs[key])]
        # The full analysis shares one walk between its members; it must answer the same.
        if number % 8 == 0 and json.dumps(inspector.full_analysis(str(path))) != json.dumps(
                {"success": True, "result": theirs}):
            mismatches.append(f"{path}: full_analysis")
        # The tree text is written only as far as it is cut (ast.dump itself is slow).
        if number % 20 == 0 and inspector.handle_command({"action": "parse_ast", "path": str(path)}) != {
                "success": True, "result": {"ast": ast.dump(tree, indent=2)[:5000]}}:
            mismatches.append(f"{path}: parse_ast")
    assert mismatches == []
