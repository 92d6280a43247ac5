"""Paths and trees a worker must survive: special files, oversized files, paths longer
than the system takes, and node positions of any size. Every answer comes at once, and
the worker keeps answering after it."""

from __future__ import annotations

import ast
import json
import os
import stat
import subprocess
import sys

import pytest

import reference
from nebrix.workers import source_inspector as inspector
from test_worker import ENVIRONMENT, WORKER

SIZE_LIMIT = 64 * 1024 * 1024
PATH_LIMIT = os.pathconf("/", "PC_PATH_MAX") if hasattr(os, "pathconf") else 32767


def limit_memory():
    import resource
    resource.setrlimit(resource.RLIMIT_AS, (2 << 30, 2 << 30))


def ask_worker(paths, cwd=None):
    """The worker's answers to a "summarize" of each path, then to "quit"; a worker that
    blocks or reads without end fails the test instead of hanging it."""
    lines = [json.dumps({"action": "summarize", "path": path}) for path in paths] + ['{"action": "quit"}']
    under_asan = "libasan" in os.environ.get("LD_PRELOAD", "")
    finished = subprocess.run(WORKER, input="\n".join(lines).encode() + b"\n", capture_output=True, timeout=120,
                              env=ENVIRONMENT, cwd=cwd, preexec_fn=None if under_asan else limit_memory)
    assert finished.returncode == 0, finished.stderr.decode(errors="replace")
    answers = [json.loads(line) for line in finished.stdout.decode().splitlines()]
    assert answers[-1] == {"success": True, "result": "goodbye"}
    return answers[:-1]


def failure(text):
    return {"success": False, "error": text}


@pytest.mark.skipif(not hasattr(os, "mkfifo"), reason="no FIFOs here")
def test_special_files_are_refused_without_reading(tmp_path):
    fifo = tmp_path / "pipe.py"
    os.mkfifo(fifo)
    (tmp_path / "ok.py").write_text("x = 1\n")
    paths = [str(fifo), "/dev/zero", "/dev/urandom", "ok.py"]
    answers = ask_worker(paths, cwd=tmp_path)
    assert answers[:3] == [failure(f"Not a regular file: {path}") for path in paths[:3]]
    assert answers[3]["success"] is True and answers[3]["result"]["total_lines"] == 1


def test_directories_fail_at_the_open_as_before(tmp_path):
    result = inspector.full_analysis(str(tmp_path))
    assert result == failure(f"[Errno 21] Is a directory: '{tmp_path.resolve()}'")


def test_oversized_files_are_refused(tmp_path):
    big = tmp_path / "big.py"
    with open(big, "wb") as file:  # sparse: no disk space taken
        file.truncate(SIZE_LIMIT + 1)
    assert inspector.full_analysis(str(big)) == failure(f"File too large: {big} (more than 64 MB)")
    assert inspector.parse_file(str(big)) == (None, "", f"File too large: {big} (more than 64 MB)")


def test_paths_longer_than_the_system_takes_are_not_found(tmp_path):
    (tmp_path / "m.py").write_text("def f(): pass\n")
    (tmp_path / "d").mkdir()
    # Resolving would shorten it to m.py, but no system call takes the path as given.
    too_long = "d/../" * (PATH_LIMIT // 5 + 1) + "m.py"
    within = "d/../" * ((PATH_LIMIT - 200) // 5) + "m.py"
    huge = "x/" * 1_000_000 + "m.py"
    answers = ask_worker([too_long, huge, within], cwd=tmp_path)
    assert answers[:2] == [failure(f"File not found: {too_long}"), failure(f"File not found: {huge}")]
    assert answers[2]["success"] is True


POSITIONS = [2**64, -(2**64), 2**63, 2**63 - 1, -(2**63), -(2**63) + 1, 2**100, -(2**100), 0, 1, -1, 2]


def outcome(function, *arguments):
    try:
        return function(*arguments)
    except Exception as error:  # noqa: BLE001 - the kind and text are what we compare
        return type(error), str(error)


@pytest.mark.parametrize("field", ["lineno", "end_lineno", "col_offset", "end_col_offset"])
@pytest.mark.parametrize("value", POSITIONS)
def test_positions_of_any_size_answer_as_the_runtime(field, value):
    source = "def f(a: int,\n      b: str) -> dict[\n    str, int]: pass\n"
    tree = ast.parse(source)
    for node in (tree.body[0].returns, tree.body[0].args.args[0].annotation):
        setattr(node, field, value)
    assert outcome(inspector.find_functions, tree, source) == outcome(reference.find_functions, tree, source)


@pytest.mark.parametrize("lineno, end_lineno", [(2**63, 2**63), (-(2**63), -(2**63)), (2**64, 2**64 + 1),
                                                (1, 2**64), (1, -(2**63)), (-(2**63) + 1, 3), (2, 2**63)])
def test_line_pairs_of_any_size_answer_as_the_runtime(lineno, end_lineno):
    source = "x: dict[\n    str,\n    int]\n"
    tree = ast.parse(source)
    tree.body[0].annotation.lineno, tree.body[0].annotation.end_lineno = lineno, end_lineno
    wrapper = ast.parse("def f() -> T: pass").body[0]
    wrapper.returns = tree.body[0].annotation
    tree.body.append(wrapper)
    assert outcome(inspector.find_functions, tree, source) == outcome(reference.find_functions, tree, source)
