"""The analyses written plainly on top of the ast module, as the oracle the tests compare
the native module with: the same records in the same order, built only from ast.walk,
ast.iter_child_nodes, ast.get_source_segment, ast.get_docstring and the TODO pattern.
"""

from __future__ import annotations

import ast
import re

TODO_PATTERN = re.compile(r"#\s*(TODO|FIXME|HACK|XXX|NOTE|BUG)\b[:\s]*(.*)", re.IGNORECASE)
FUNCTIONS = (ast.FunctionDef, ast.AsyncFunctionDef)
SINGLE_DECISIONS = (ast.If, ast.While, ast.For, ast.AsyncFor, ast.ExceptHandler, ast.Assert,
                    ast.ListComp, ast.SetComp, ast.DictComp, ast.GeneratorExp)


def segment(source, node):
    if node is None:
        return ""
    return ast.get_source_segment(source, node) or ""


def docstring(node, limit):
    return (ast.get_docstring(node) or "")[:limit]


def find_functions(tree, source):
    class_members = {id(item) for node in ast.walk(tree) if isinstance(node, ast.ClassDef) for item in node.body}
    return [{
        "name": node.name,
        "type": "async_function" if isinstance(node, ast.AsyncFunctionDef) else "function",
        "line": node.lineno,
        "end_line": node.end_lineno,
        "args": [{"name": arg.arg, "annotation": segment(source, arg.annotation)} for arg in node.args.args],
        "return_type": segment(source, node.returns),
        "decorators": [segment(source, decorator) for decorator in node.decorator_list],
        "docstring": docstring(node, 200),
        "is_method": id(node) in class_members,
    } for node in ast.walk(tree) if isinstance(node, FUNCTIONS)]


def find_classes(tree, source):
    records = []
    for node in ast.walk(tree):
        if not isinstance(node, ast.ClassDef):
            continue
        methods = [item.name for item in node.body if isinstance(item, FUNCTIONS)]
        attributes = [target.id for item in node.body if isinstance(item, ast.Assign)
                      for target in item.targets if isinstance(target, ast.Name)]
        records.append({
            "name": node.name,
            "line": node.lineno,
            "end_line": node.end_lineno,
            "bases": [segment(source, base) for base in node.bases],
            "methods": methods,
            "attributes": attributes,
            "docstring": docstring(node, 200),
            "method_count": len(methods),
        })
    return records


def find_imports(tree):
    records = []
    for node in ast.walk(tree):
        if isinstance(node, ast.Import):
            records += [{"module": alias.name, "alias": alias.asname, "line": node.lineno, "type": "import"}
                        for alias in node.names]
        elif isinstance(node, ast.ImportFrom):
            records += [{"module": node.module or "", "name": alias.name, "alias": alias.asname,
                         "line": node.lineno, "type": "from_import"} for alias in node.names]
    return records


def find_todos(source):
    records = []
    for number, line in enumerate(source.splitlines(), 1):
        match = TODO_PATTERN.search(line)
        if match:
            records.append({"line": number, "type": match.group(1).upper(), "text": match.group(2).strip()})
    return records


def rating(score):
    return "A" if score <= 5 else "B" if score <= 10 else "C" if score <= 20 else "F"


def _function_walks(tree):
    """(function, complexity, callee names) for each function, one subtree walk each."""
    for function in ast.walk(tree):
        if not isinstance(function, FUNCTIONS):
            continue
        score = 1
        callees = set()
        for node in ast.walk(function):
            if isinstance(node, SINGLE_DECISIONS):
                score += 1
            elif isinstance(node, ast.BoolOp):
                score += len(node.values) - 1
            elif isinstance(node, ast.Call):
                if isinstance(node.func, ast.Name):
                    callees.add(node.func.id)
                elif isinstance(node.func, ast.Attribute):
                    callees.add(node.func.attr)
        yield function, score, callees


def _complexity_and_calls(tree):
    complexity = []
    call_graph = {}
    for function, score, callees in _function_walks(tree):
        complexity.append({"name": function.name, "line": function.lineno, "complexity": score,
                           "rating": rating(score)})
        call_graph[function.name] = sorted(callees)
    return complexity, call_graph


def calculate_complexity(tree):
    return _complexity_and_calls(tree)[0]


def build_call_graph(tree):
    return _complexity_and_calls(tree)[1]


def extract_symbols(tree):
    symbols = {"functions": [], "classes": [], "variables": [], "constants": []}
    for node in ast.iter_child_nodes(tree):
        if isinstance(node, FUNCTIONS):
            symbols["functions"].append({"name": node.name, "line": node.lineno})
        elif isinstance(node, ast.ClassDef):
            symbols["classes"].append({"name": node.name, "line": node.lineno})
        elif isinstance(node, ast.Assign):
            for target in node.targets:
                if isinstance(target, ast.Name):
                    kind = "constants" if target.id.isupper() else "variables"
                    symbols[kind].append({"name": target.id, "line": node.lineno})
    return symbols


def summarize_file(path, tree, source):
    return _summary(path, tree, source, find_functions(tree, source), find_classes(tree, source),
                    find_imports(tree), find_todos(source), calculate_complexity(tree))


def _summary(path, tree, source, functions, classes, imports, todos, complexity):
    lines = source.splitlines()
    comment_lines = sum(1 for line in lines if line.strip().startswith("#"))
    blank_lines = sum(1 for line in lines if not line.strip())
    average = round(sum(r["complexity"] for r in complexity) / len(complexity), 1) if complexity else 0
    return {
        "path": path,
        "total_lines": len(lines),
        "code_lines": len(lines) - comment_lines - blank_lines,
        "comment_lines": comment_lines,
        "blank_lines": blank_lines,
        "module_docstring": docstring(tree, 300),
        "function_count": len(functions),
        "class_count": len(classes),
        "import_count": len(imports),
        "todo_count": len(todos),
        "avg_complexity": average,
        "functions": [{"name": f["name"], "line": f["line"]} for f in functions],
        "classes": [{"name": c["name"], "line": c["line"], "methods": c["method_count"]} for c in classes],
        "top_imports": [i["module"] for i in imports[:10]],
    }


def read_source(path):
    """The text parse_file analyses: UTF-8 with replacement, universal newlines, no BOM."""
    with open(path, encoding="utf-8", errors="replace") as file:
        text = file.read()
    return text[1:] if text.startswith("\ufeff") else text


def analyses(tree, source, path):
    """Every analysis of a parsed file, each computed once: the members of the full
    analysis object, in its order."""
    functions = find_functions(tree, source)
    classes = find_classes(tree, source)
    imports = find_imports(tree)
    todos = find_todos(source)
    complexity, call_graph = _complexity_and_calls(tree)
    return {
        "summary": _summary(path, tree, source, functions, classes, imports, todos, complexity),
        "functions": functions,
        "classes": classes,
        "imports": imports,
        "todos": todos,
        "complexity": complexity,
        "symbols": extract_symbols(tree),
        "call_graph": call_graph,
    }
