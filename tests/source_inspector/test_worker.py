"""The worker process and its line protocol: one ASCII JSON line per non-blank input
line, whatever arrives, until "quit" or the end of input."""

from __future__ import annotations

import io
import json
import os
import random
import signal
import subprocess
import sys
from pathlib import Path

import pytest

import nebrix

WORKER = [sys.executable, "-m", "nebrix.workers.source_inspector"]
# The package the tests import, from any working directory; the stream encoding pinned
# so the test can split the input the way the worker reads it.
PACKAGE_ROOT = str(Path(nebrix.__file__).absolute().parent.parent)
ENVIRONMENT = {**os.environ, "PYTHONIOENCODING": "utf-8",
               "PYTHONPATH": os.pathsep.join(filter(None, [PACKAGE_ROOT, os.environ.get("PYTHONPATH")]))}
OWN_SOURCE = Path(__file__).resolve()


def run_worker(data: bytes, cwd=None):
    finished = subprocess.run(WORKER, input=data, capture_output=True, timeout=300, env=ENVIRONMENT, cwd=cwd)
    assert finished.returncode == 0, finished.stderr.decode(errors="replace")
    return finished.stdout


def responses(output: bytes):
    assert output.isascii()
    assert output == b"" or output.endswith(b"\n")
    return [json.loads(line) for line in output.decode().split("\n")[:-1]]


def test_a_session(tmp_path):
    (tmp_path / "m.py").write_text("def f():\n    '''\u00e9t\u00e9 \U0001f600'''\n")
    lines = [b"", b"   \t", b"not json", b"[1, 2]", b'{"action": "find_functions", "path": "m.py"}',
             b'{"action": "find_todos", "path": "\xff\xfe.py"}', b"\xc3\x28 garbage",
             b'{"action": "find_todos", "path": 7}', b'{"action": "quit"}', b'{"action": "find_todos"}']
    answers = responses(run_worker(b"\n".join(lines) + b"\n", cwd=tmp_path))
    assert [answer["success"] for answer in answers] == [False, False, True, False, False, False, True]
    assert answers[0]["error"].startswith("Invalid JSON: Expecting value")
    assert answers[1] == {"success": False, "error": "Invalid command: expected a JSON object, got list"}
    assert answers[2]["result"][0]["docstring"] == "\u00e9t\u00e9 \U0001f600"
    assert answers[3] == {"success": False, "error": "File not found: \udcff\udcfe.py"}
    assert answers[4]["error"].startswith("Invalid JSON: ")
    assert answers[5]["error"] == "Argument 'path' has incorrect type (expected str, got int)"
    assert answers[6] == {"success": True, "result": "goodbye"}


def test_wire_format():
    output = run_worker(b'{"action": "quit"}\n')
    assert output == b'{"success": true, "result": "goodbye"}\n'


def test_end_of_input_ends_the_worker_quietly():
    assert run_worker(b"") == b""
    assert len(responses(run_worker(b'{"action": "symbols", "path": "%s"}' % bytes(OWN_SOURCE)))) == 1


def test_an_interrupt_does_not_end_the_worker():
    command = json.dumps({"action": "find_imports", "path": str(OWN_SOURCE)}).encode() + b"\n"
    with subprocess.Popen(WORKER, stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=ENVIRONMENT) as worker:
        worker.stdin.write(command)
        worker.stdin.flush()
        assert json.loads(worker.stdout.readline())["success"]  # the loop runs, the signal is ignored
        worker.send_signal(signal.SIGINT)
        worker.stdin.write(command)
        worker.stdin.flush()
        assert json.loads(worker.stdout.readline())["success"]
        worker.stdin.close()
        assert worker.wait(timeout=60) == 0


def fuzz_lines(rng: random.Random, files: list[str]) -> list[bytes]:
    actions = ["analyze", "parse_ast", "find_functions", "find_classes", "find_imports", "find_todos",
               "complexity", "symbols", "call_graph", "summarize", "Find_Functions", "", "nonsense"]
    values = [None, 1, 2.5, True, [], {}, "x", "\u00e9\U0001f600"]
    lines = []
    for _ in range(10_000):
        kind = rng.random()
        if kind < 0.35:
            command = {"action": rng.choice(actions), "path": rng.choice(files)}
            lines.append(json.dumps(command, ensure_ascii=rng.random() < 0.5).encode())
        elif kind < 0.45:
            command = {rng.choice(["action", "path", "other"]): rng.choice(values + actions) for _ in range(2)}
            lines.append(json.dumps(command).encode())
        elif kind < 0.6:
            valid = json.dumps({"action": rng.choice(actions), "path": rng.choice(files)})
            cut = rng.randrange(len(valid))
            lines.append(valid[:cut].encode() + bytes(rng.randrange(256) for _ in range(rng.randrange(3))))
        elif kind < 0.85:
            lines.append(bytes(rng.randrange(256) for _ in range(rng.randrange(80))))
        elif kind < 0.87:
            lines.append(rng.choice([b"[", b"{", b'"']) * rng.randrange(100_000, 400_000))
        elif kind < 0.88:
            lines.append(b"x" * rng.randrange(1_000_000, 3_000_000))
        else:
            lines.append(rng.choice([b"", b" ", b"\t \x0b", "\u3000".encode()]))
    return lines


def test_fuzz(tmp_path):
    rng = random.Random(20261208)
    (tmp_path / "bad.py").write_text("def f(:\n")
    (tmp_path / "binary.py").write_bytes(bytes(range(256)))
    (tmp_path / "latin.py").write_bytes("x = '\u00e9'  # todo: caf\u00e9\n".encode("latin-1"))
    (tmp_path / "dir.py").mkdir()
    files = [str(OWN_SOURCE), "bad.py", "binary.py", "latin.py", "dir.py", "missing.py", ""]
    data = b"\n".join(fuzz_lines(rng, files)) + b'\n{"action": "quit"}\nafter quit\n'

    # The lines as the worker reads them from its standard input: split at "\n" (any
    # line end on Windows), undecodable bytes escaped.
    reader = io.TextIOWrapper(io.BytesIO(data), encoding="utf-8", errors="surrogateescape",
                              newline=None if os.name == "nt" else "\n")
    expected = [line.strip() for line in reader if line.strip()]
    expected = expected[:expected.index('{"action": "quit"}') + 1]

    answers = responses(run_worker(data, cwd=tmp_path))
    assert len(answers) == len(expected)
    for line, answer in zip(expected, answers):
        assert isinstance(answer.get("success"), bool), line
        assert list(answer) == ["success", "result" if answer["success"] else "error"], line
        try:
            command = json.loads(line)
        except (ValueError, RecursionError):
            assert answer["error"].startswith("Invalid JSON: "), line
            continue
        if isinstance(command, dict) and command.get("path") == str(OWN_SOURCE) and command.get("action") in (
                "analyze", "parse_ast", "find_functions", "find_todos", "summarize", "call_graph"):
            assert answer["success"], line
    assert answers[-1] == {"success": True, "result": "goodbye"}
