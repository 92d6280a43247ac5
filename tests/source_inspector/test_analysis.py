"""The analysis functions on small sources: the cases the records are easiest to get
wrong, compared with the oracle where its answer is the point, spelled out elsewhere."""

from __future__ import annotations

import ast
import json
import textwrap

import pytest

import reference
from nebrix.workers import source_inspector as inspector


def parse(source):
    source = textwrap.dedent(source)
    return ast.parse(source), source


def test_function_records():
    tree, source = parse('''
        import functools

        async def f(a: int, b) -> str:
            """Doc."""

        class C:
            @staticmethod
            @functools.lru_cache(maxsize=2)
            def m(self, *args, k: "K" = 1, **kw):
                def inner(): pass
            if True:
                def conditional(self): pass
        ''')
    records = {record["name"]: record for record in inspector.find_functions(tree, source)}
    assert list(records) == ["f", "m", "inner", "conditional"]  # breadth first, as ast.walk
    assert records["f"] == {
        "name": "f", "type": "async_function", "line": 4, "end_line": 5,
        "args": [{"name": "a", "annotation": "int"}, {"name": "b", "annotation": ""}],
        "return_type": "str", "decorators": [], "docstring": "Doc.", "is_method": False,
    }
    method = records["m"]
    assert (method["line"], method["type"], method["return_type"]) == (10, "function", "")
    assert method["decorators"] == ["staticmethod", "functools.lru_cache(maxsize=2)"]
    assert method["args"] == [{"name": "self", "annotation": ""}]
    assert [records[name]["is_method"] for name in ("m", "inner", "conditional")] == [True, False, False]
    assert list(method) == ["name", "type", "line", "end_line", "args", "return_type", "decorators",
                            "docstring", "is_method"]


@pytest.mark.parametrize("docstring, expected", [
    ("x" * 250, "x" * 200),
    ("\n    first\n      indented\n    last\n\n", "first\n  indented\nlast"),
    ("\tTabbed\n\tsecond", "Tabbed\nsecond"),
    ("\u00e9t\u00e9 \U0001f600 " * 40, ("\u00e9t\u00e9 \U0001f600 " * 40)[:200]),
    ("\u3000wide space\n\u3000\u3000next", None),  # cleaning differs between runtimes
])
def test_docstrings_are_cleaned_as_the_ast_module_cleans_them(docstring, expected):
    tree, source = parse(f"def f():\n    {docstring!r}\n\nclass C:\n    {docstring!r}\n")
    cleaned = ast.get_docstring(tree.body[0])[:200]
    assert expected is None or cleaned == expected
    assert inspector.find_functions(tree, source)[0]["docstring"] == cleaned
    assert inspector.find_classes(tree, source)[0]["docstring"] == cleaned


def test_no_docstring_and_non_string_first_expressions():
    tree, source = parse("def f():\n    1\ndef g():\n    pass\nclass C:\n    f'{x}'\n")
    assert [r["docstring"] for r in inspector.find_functions(tree, source)] == ["", ""]
    assert inspector.find_classes(tree, source)[0]["docstring"] == ""


def test_segments_use_utf8_byte_columns_and_span_lines():
    tree, source = parse('''
        def f(a: "\u00e9\U0001f600", b: dict[
                str, int]) -> "\u00fc": pass
        class K(\u00c4\u00f6, metaclass=M): pass
        ''')
    function = inspector.find_functions(tree, source)[0]
    assert function["args"] == [{"name": "a", "annotation": '"\u00e9\U0001f600"'},
                                {"name": "b", "annotation": "dict[\n        str, int]"}]
    assert function["return_type"] == '"\u00fc"'
    assert inspector.find_classes(tree, source)[0]["bases"] == ["\u00c4\u00f6"]


def test_segments_of_nodes_without_positions_are_empty():
    tree = ast.parse("@d\ndef f(a: int) -> int: pass")
    function = tree.body[0]
    del function.returns.end_lineno
    function.args.args[0].annotation.end_col_offset = None
    record = inspector.find_functions(tree, "@d\ndef f(a: int) -> int: pass")[0]
    assert (record["args"][0]["annotation"], record["return_type"], record["decorators"]) == ("", "", ["d"])


def test_segments_of_a_tree_that_does_not_fit_its_source_fail_alike():
    tree = ast.parse("def f(a: int): pass\n" * 3)
    for source in ("", "def f(a"):
        with pytest.raises(IndexError):
            reference.find_functions(tree, source)
        with pytest.raises(IndexError, match="list index out of range"):
            inspector.find_functions(tree, source)
    # A column inside a multi-byte character: the same UnicodeDecodeError.
    broken = "def f(a: \u00e9nt): pass\n" * 3
    tree = ast.parse(broken)
    tree.body[0].args.args[0].annotation.col_offset += 1
    with pytest.raises(UnicodeDecodeError) as expected:
        reference.find_functions(tree, broken)
    with pytest.raises(UnicodeDecodeError) as got:
        inspector.find_functions(tree, broken)
    assert str(got.value) == str(expected.value)


def test_class_records():
    tree, source = parse('''
        class C(Base, mixins.Mixin, metaclass=M):
            """Class doc."""
            a = b = 1
            x, y = 1, 2
            self.z = 3
            n: int = 4
            c += 1
            def m(self): pass
            async def n(self): pass
            class Inner: pass
        ''')
    records = inspector.find_classes(tree, source)
    assert [r["name"] for r in records] == ["C", "Inner"]
    assert records[0] == {
        "name": "C", "line": 2, "end_line": 11, "bases": ["Base", "mixins.Mixin"], "methods": ["m", "n"],
        "attributes": ["a", "b"], "docstring": "Class doc.", "method_count": 2,
    }


def test_import_records():
    tree, _ = parse('''
        import os.path, sys as system
        from . import x
        from ..pkg.mod import y as z
        from m import *
        def f():
            import json
        ''')
    assert inspector.find_imports(tree) == [
        {"module": "os.path", "alias": None, "line": 2, "type": "import"},
        {"module": "sys", "alias": "system", "line": 2, "type": "import"},
        {"module": "", "name": "x", "alias": None, "line": 3, "type": "from_import"},
        {"module": "pkg.mod", "name": "y", "alias": "z", "line": 4, "type": "from_import"},
        {"module": "m", "name": "*", "alias": None, "line": 5, "type": "from_import"},
        {"module": "json", "alias": None, "line": 7, "type": "import"},
    ]


@pytest.mark.parametrize("line, expected", [
    ("x = 1  # todo: fix this", ("TODO", "fix this")),
    ("#TODO", ("TODO", "")),
    ("# fixme - later", ("FIXME", "- later")),
    ("# TODOS", None),
    ("# NOTEBOOK", None),
    ("# todo_later", None),
    ("#\u3000Hack:\u00a0 \u00fcber \u2003", ("HACK", "\u00fcber")),
    ("# fıxme dotless i", ("FIXME", "dotless i")),
    ("# Fİxme dotted capital I", ("F\u0130XME", "dotted capital I")),
    ("# Hac\u212a Kelvin sign", ("HAC\u212a", "Kelvin sign")),
    ("# todo\u00e9", None),
    ("# todo\u0663", None),
    ("s = '#bug in a string' # NOTE: second", ("BUG", "in a string' # NOTE: second")),
    ("# nothing here # xxx: the second hash", ("XXX", "the second hash")),
    ("# TODO:: ::  colons", ("TODO", "colons")),
])
def test_todo_comments(line, expected):
    records = inspector.find_todos(f"a = 1\n{line}\n")
    assert records == reference.find_todos(f"a = 1\n{line}\n")
    assert records == ([] if expected is None else [{"line": 2, "type": expected[0], "text": expected[1]}])


def test_todo_lines_are_numbered_at_every_line_boundary():
    breaks = ["\n", "\r\n", "\r", "\v", "\f", "\x1c", "\x1d", "\x1e", "\x85", "\u2028", "\u2029"]
    source = "".join(f"# TODO {i}{separator}" for i, separator in enumerate(breaks)) + "# bug last"
    records = inspector.find_todos(source)
    assert [(r["line"], r["text"]) for r in records] == [(i + 1, str(i)) for i in range(len(breaks))] + [
        (len(breaks) + 1, "last")]
    assert inspector.find_todos("# todo\x1f x") == [{"line": 1, "type": "TODO", "text": "x"}]  # \x1f is no break


def test_todo_scan_of_every_code_point_matches_the_regex():
    """Each code point once after a marker, once between '#' and it, once inside it: the
    whitespace, word-boundary and case-folding classes of the re module."""
    characters = [chr(c) for c in range(0x110000) if not 0xD800 <= c < 0xE000]
    source = "\n".join(f"#{c}Todo{c}x #\u00a0hac{c}k" for c in characters)
    assert inspector.find_todos(source) == reference.find_todos(source)
    surrogates = "\n".join(f"# bug{chr(c)} #fixme{chr(c)}" for c in range(0xD800, 0xE000, 7))
    assert inspector.find_todos(surrogates) == reference.find_todos(surrogates)


@pytest.mark.parametrize("body, score, rating", [
    ("pass", 1, "A"),
    ("if a: pass\n" * 5, 6, "B"),
    ("if a and b or c: pass", 4, "A"),
    ("assert x\n" * 19, 20, "C"),
    ("assert x\n" * 20, 21, "F"),
    ("try: pass\nexcept A: pass\nexcept B: pass\nelse: pass\nfinally: pass", 3, "A"),
    ("x = [i for i in a if i for j in b]\ny = {i for i in a}\nz = {i: i for i in a}\nw = (i for i in a)", 5, "A"),
    ("while a:\n    for b in c: pass\nelse: pass", 3, "A"),
    ("if a: pass\nelif b: pass\nelif c: pass\nelse: pass", 4, "A"),
    ("with a: pass\nx = b if c else d\nf = lambda: e\nmatch x:\n    case 1: pass", 1, "A"),
    ("async def g():\n        async for x in y: pass\n        async with z: pass", 2, "A"),
])
def test_complexity(body, score, rating):
    tree, _ = parse("def f():\n    " + body.replace("\n", "\n    "))
    assert inspector.calculate_complexity(tree)[0] == {"name": "f", "line": 1, "complexity": score, "rating": rating}


def test_nested_functions_count_for_every_enclosing_function():
    tree, _ = parse('''
        def outer():
            if a: pass
            def middle():
                while b: g()
                def inner():
                    assert c
                    h.i()
            k()
        ''')
    assert [(r["name"], r["complexity"]) for r in inspector.calculate_complexity(tree)] == [
        ("outer", 4), ("middle", 3), ("inner", 2)]
    assert inspector.build_call_graph(tree) == {"outer": ["g", "i", "k"], "middle": ["g", "i"], "inner": ["i"]}


def test_call_graph():
    tree, _ = parse('''
        def f(): g(); obj.h(); g(); x[0](); f()(); (lambda: 1)()
        def e(): pass
        class C:
            def f(self): self.save(); os.path.join(); \u00e9t\u00e9(); Zeta(); alpha()
        ''')
    graph = inspector.build_call_graph(tree)
    assert list(graph) == ["f", "e"]  # a later function of the same name replaces the entry in place
    assert graph == {"f": ["Zeta", "alpha", "join", "save", "\u00e9t\u00e9"], "e": []}


def test_symbols():
    tree, _ = parse('''
        MAX = 1
        x = 2
        def f(): pass
        A = b = C1 = _ = Max = 3
        t, u = 1, 2
        N: int = 5
        if True:
            HIDDEN = 1
        class K: pass
        async def g(): pass
        ''')
    assert inspector.extract_symbols(tree) == {
        "functions": [{"name": "f", "line": 4}, {"name": "g", "line": 11}],
        "classes": [{"name": "K", "line": 10}],
        "variables": [{"name": "x", "line": 3}, {"name": "b", "line": 5}, {"name": "_", "line": 5},
                      {"name": "Max", "line": 5}],
        "constants": [{"name": "MAX", "line": 2}, {"name": "A", "line": 5}, {"name": "C1", "line": 5}],
    }


def test_summary():
    # A '#' line inside a string counts as a comment: the count looks at lines, not tokens.
    source = "\n".join(['"""Module doc."""', "# comment", "   ", "import a, b, c, d, e, f",
                        "import g, h, i, j, k, l", "def f():", "    '''", "    # inside a string", "    '''",
                        "    if x: pass  # TODO: later", "def g(): pass", "class C:", "    def m(self): pass"])
    tree = ast.parse(source)
    summary = inspector.summarize_file("some/path.py", tree, source)
    assert summary == reference.summarize_file("some/path.py", tree, source)
    assert summary == {
        "path": "some/path.py", "total_lines": 13, "code_lines": 10, "comment_lines": 2, "blank_lines": 1,
        "module_docstring": "Module doc.", "function_count": 3, "class_count": 1, "import_count": 12,
        "todo_count": 1, "avg_complexity": 1.3,
        "functions": [{"name": "f", "line": 6}, {"name": "g", "line": 11}, {"name": "m", "line": 13}],
        "classes": [{"name": "C", "line": 12, "methods": 1}],
        "top_imports": ["a", "b", "c", "d", "e", "f", "g", "h", "i", "j"],
    }


@pytest.mark.parametrize("scores, average", [([], 0), ([1, 2], 1.5), ([2, 2, 2, 3], 2.2), ([2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 2], 2.9)])
def test_average_complexity_rounds_like_the_runtime(scores, average):
    source = "".join(f"def f{i}():\n" + "    if a: pass\n" * (score - 1) + "    pass\n" for i, score in enumerate(scores))
    summary = inspector.summarize_file("p", ast.parse(source), source)
    assert summary["avg_complexity"] == average
    assert type(summary["avg_complexity"]) is (int if not scores else float)


def test_empty_source():
    tree = ast.parse("")
    summary = inspector.summarize_file("empty.py", tree, "")
    assert (summary["total_lines"], summary["code_lines"], summary["module_docstring"], summary["avg_complexity"]) == (
        0, 0, "", 0)
    assert summary["functions"] == summary["classes"] == summary["top_imports"] == []


def test_arguments_are_checked():
    tree = ast.parse("")
    with pytest.raises(TypeError, match=r"^Argument 'source' has incorrect type \(expected str, got bytes\)$"):
        inspector.find_functions(tree, b"")
    with pytest.raises(TypeError, match="Argument 'path' has incorrect type"):
        inspector.summarize_file(None, tree, "")
    with pytest.raises(TypeError, match="Argument 'source' has incorrect type"):
        inspector.find_todos(None)
    with pytest.raises(AttributeError, match="'NoneType' object has no attribute '_fields'"):
        inspector.find_functions(None, "")
    with pytest.raises(TypeError, match="'Expr' can't have docstrings"):
        inspector.summarize_file("p", ast.Expr(value=ast.Constant(1)), "")


def test_a_failing_truth_test_in_a_hand_built_tree_raises_its_own_error():
    class NoTruth:
        def __bool__(self):
            raise ZeroDivisionError("no truth value")

    class Name(str):
        def isupper(self):
            return NoTruth()

    def module(*body):
        return ast.Module(body=list(body), type_ignores=[])

    with pytest.raises(ZeroDivisionError):
        inspector.find_imports(module(ast.ImportFrom(module=NoTruth(), names=[ast.alias("x")], level=0, lineno=1)))
    with pytest.raises(ZeroDivisionError):
        inspector.extract_symbols(module(ast.Assign(targets=[ast.Name(Name("x"))], value=ast.Constant(1), lineno=1)))
    with pytest.raises(ZeroDivisionError):
        inspector.summarize_file("p", ast.Module(body=NoTruth(), type_ignores=[]), "")


def test_subclassed_and_hand_built_nodes_are_walked_like_ast_walk():
    class Special(ast.FunctionDef):
        pass

    function = Special(name="s", args=ast.arguments(posonlyargs=[], args=[], kwonlyargs=[], kw_defaults=[],
                                                     defaults=[]), body=[ast.If(test=ast.Name("a"), body=[],
                                                                                orelse=[])],
                       decorator_list=[], returns=None, lineno=1, end_lineno=1, col_offset=0, end_col_offset=0)
    tree = ast.Module(body=[function, "not a node", ast.ClassDef(name="C", bases=[], keywords=[], body=[function],
                                                                  decorator_list=[])], type_ignores=[])
    ours = [inspector.find_functions(tree, ""), inspector.calculate_complexity(tree), inspector.build_call_graph(tree)]
    assert json.dumps(ours) == json.dumps([reference.find_functions(tree, ""), reference.calculate_complexity(tree),
                                           reference.build_call_graph(tree)])
    assert [record["is_method"] for record in ours[0]] == [True, True]  # the same node, also in a class body


def test_a_very_deep_tree_is_walked_without_recursion():
    expression = ast.Name("a")
    for _ in range(200_000):
        expression = ast.BoolOp(op=ast.And(), values=[expression, ast.Name("b")])
    function = ast.FunctionDef(name="deep", args=ast.arguments(posonlyargs=[], args=[], kwonlyargs=[],
                                                               kw_defaults=[], defaults=[]),
                               body=[ast.Expr(ast.Call(func=ast.Name("g"), args=[expression], keywords=[]))],
                               decorator_list=[], lineno=1)
    tree = ast.Module(body=[function], type_ignores=[])
    assert inspector.calculate_complexity(tree) == [{"name": "deep", "line": 1, "complexity": 200_001, "rating": "F"}]
    assert inspector.build_call_graph(tree) == {"deep": ["g"]}
