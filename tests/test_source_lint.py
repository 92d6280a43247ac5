"""Invariants of the C++ sources that the compiler does not check.

- No Python object lives in static storage: it would outlive the interpreter and be
  destroyed after it (or be shared between interpreters). Cache through
  py::gil_safe_call_once_and_store, which is made for this.
- Reference counts are managed by RAII handles; raw Py_INCREF/Py_DECREF bookkeeping is
  confined to the files listed, where a C-API type is implemented.
- The GIL is never released around a co_await: the coroutine resumes on another call,
  with the GIL held.
- Private CPython functions (`_Py...`), which change between releases, are called only
  in support/compat.cpp, behind version checks.
- A co_return or co_await statement chooses between objects with if, not ?: (GCC 12
  destroys the temporaries of such a conditional twice); a choice of string literals is fine.
"""

import re
from pathlib import Path

SRC = Path(__file__).resolve().parent.parent / "src"
SOURCES = sorted(SRC.rglob("*.[ch]pp"))
RAW_REFCOUNT_ALLOWED = {"support/coroutine.cpp"}

# A static variable of a Python object type; a static function returning one is fine.
STATIC_OBJECT = re.compile(r"^\s*(?:inline\s+)?static\s+(?:const\s+)?(?:py::(?:object|handle|module_|dict|list|str|tuple|"
                           r"set|int_|float_|function)\s+|PyObject\s*\*\s*)\w+\b(?!\s*\()", re.MULTILINE)
RAW_REFCOUNT = re.compile(r"\bPy_(?:X?INCREF|X?DECREF)\b")
PRIVATE_API = re.compile(r"\b_Py[A-Za-z]\w*\s*\(")
PRIVATE_API_ALLOWED = {"support/compat.cpp"}


COMMENT = re.compile(r"//[^\n]*|/\*.*?\*/", re.DOTALL)


def relative(path):
    return path.relative_to(SRC).as_posix()


def code(path):
    """The source without its comments."""
    return COMMENT.sub("", path.read_text())


def test_sources_found():
    assert any(relative(path).startswith("support/") for path in SOURCES)


def test_no_python_objects_in_static_storage():
    offenders = [f"{relative(p)}: {m.group(0).strip()}" for p in SOURCES for m in STATIC_OBJECT.finditer(code(p))]
    assert offenders == []


def test_raw_reference_counting_only_where_allowed():
    offenders = [relative(p) for p in SOURCES if RAW_REFCOUNT.search(code(p)) and relative(p) not in RAW_REFCOUNT_ALLOWED]
    assert offenders == []


def test_gil_is_not_released_across_co_await():
    for path in SOURCES:
        text = code(path)
        for match in re.finditer(r"gil_scoped_release\b", text):
            # The scope of the release: up to the closing brace of its block.
            depth, end = 0, match.end()
            while end < len(text):
                if text[end] == "{":
                    depth += 1
                elif text[end] == "}":
                    if depth == 0:
                        break
                    depth -= 1
                end += 1
            assert "co_await" not in text[match.end():end], f"{relative(path)}: GIL released across co_await"


STRING_LITERAL = re.compile(r'"(?:\\.|[^"\\])*"')
CO_STATEMENT = re.compile(r"\bco_(?:return|await)\b[^;]*;")
LITERAL_CHOICE = re.compile(r'\?\s*""\s*:\s*""')


def conditionals_in_co_statements(text):
    text = STRING_LITERAL.sub('""', text)
    return [statement.group(0) for statement in CO_STATEMENT.finditer(text)
            if "?" in LITERAL_CHOICE.sub("", statement.group(0))]


def test_no_conditional_between_objects_in_co_statements():
    offenders = [f"{relative(p)}: {s}" for p in SOURCES for s in conditionals_in_co_statements(code(p))]
    assert offenders == []


def test_co_statement_pattern_catches_what_it_names():
    assert conditionals_in_co_statements('co_return ok ? answer : py::none();')
    assert conditionals_in_co_statements('co_await run(self,\n    fast ? a : b);')
    assert not conditionals_in_co_statements('co_return py::dict("action"_a = twice ? "double" : "click");')
    assert not conditionals_in_co_statements('py::object chosen = ok ? a : b;')


def test_private_cpython_api_only_in_compat():
    offenders = {relative(p) for p in SOURCES if PRIVATE_API.search(code(p))}
    assert offenders <= PRIVATE_API_ALLOWED


# --- Portability: the sources build with GCC, Clang and MSVC on Linux, macOS and Windows.

COMPILER_EXTENSION = re.compile(r"\b(?:__int128|__extension__|__attribute__|__builtin_\w*|__declspec)\b")
# libc++ 14, which the Clang build uses, lacks most of the range algorithms.
RANGE_ALGORITHM = re.compile(r"\bstd::ranges::\w+")
# Headers of POSIX or one operating system; platform services are reached through Python.
PLATFORM_HEADER = re.compile(
    r"^\s*#\s*include\s*<((?:sys|arpa|netinet|linux|mach|mach-o|CoreFoundation|ApplicationServices)/[\w/]+\.h|"
    r"(?:unistd|pthread|dlfcn|fcntl|dirent|poll|termios|spawn|strings|libgen|pwd|grp|glob|syslog|"
    r"windows|winuser|io|direct)\.h)>", re.MULTILINE)


def test_no_compiler_extensions_or_platform_headers():
    offenders = [f"{relative(p)}: {m.group(0).strip()}" for p in SOURCES
                 for pattern in (COMPILER_EXTENSION, PLATFORM_HEADER, RANGE_ALGORITHM) for m in pattern.finditer(code(p))]
    assert offenders == []


def test_portability_patterns_catch_what_they_name():
    for text in ["__extension__ typedef __int128 Wide;", "int f() __attribute__((cold));", "__builtin_expect(x, 0)"]:
        assert COMPILER_EXTENSION.search(text), text
    assert RANGE_ALGORITHM.search("std::ranges::find(names, name)")
    for text in ["#include <unistd.h>", "#include <sys/wait.h>", "# include <pthread.h>", "#include <windows.h>"]:
        assert PLATFORM_HEADER.search(text), text
    for text in ["#include <cstdint>", "#include <Python.h>", "#include <datetime.h>", "int __int1280;"]:
        assert not COMPILER_EXTENSION.search(text) and not PLATFORM_HEADER.search(text), text
