"""Source inspector: full_analysis against a bare ast.parse and against radon's
complexity pass on the same files, and the worker's throughput over a pipe.

    PYTHONPATH=<build dir> python bench/bench_source_inspector.py
"""

from __future__ import annotations

import ast
import json
import subprocess
import sys
import sysconfig
import tempfile
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from runner import Comparison  # noqa: E402

from nebrix.workers import source_inspector as inspector  # noqa: E402

try:
    from radon.complexity import cc_visit
except ImportError:  # the rival is optional
    cc_visit = None


def largest_stdlib_files(count: int) -> list[Path]:
    stdlib = Path(sysconfig.get_paths()["stdlib"])
    files = [path for path in stdlib.rglob("*.py") if "site-packages" not in path.parts]
    return sorted(files, key=lambda path: path.stat().st_size, reverse=True)[:count]


def generated_file(directory: Path) -> Path:
    """100 classes of 50 methods each, with branches, calls, docstrings and TODOs."""
    lines = ['"""Generated module."""', "import os", "from typing import Any", ""]
    for c in range(100):
        lines += [f"class Generated{c}(Base, metaclass=Meta):", f'    """Class {c}."""', "    LIMIT = 10", ""]
        for m in range(50):
            lines += [f"    @property",
                      f"    def method_{m}(self, value: int, other: 'Any' = None) -> dict[str, int]:",
                      f'        """Method {m} of class {c}."""',
                      "        # TODO: tidy this up",
                      "        if value and other or self.LIMIT:",
                      "            return {str(i): i for i in range(value) if i % 2}",
                      "        for item in os.listdir('.'):",
                      "            self.handle(item)",
                      "        return {}", ""]
    path = directory / "generated.py"
    path.write_text("\n".join(lines))
    return path


def compare_files(paths: list[Path]) -> None:
    with Comparison("full_analysis vs bare ast.parse of the same text", rounds=5) as bench:
        for path in paths:
            source = path.read_text(encoding="utf-8", errors="replace")
            bench.compare(path.name, ours=lambda: inspector.full_analysis(str(path)),
                          rival=lambda: ast.parse(source), rival_name="ast.parse")
    with Comparison("parse_ast command vs ast.parse + ast.dump(indent=2)[:5000]", rounds=3) as bench:
        for path in paths[:3]:
            source = path.read_text(encoding="utf-8", errors="replace")
            command = {"action": "parse_ast", "path": str(path)}
            bench.compare(path.name, ours=lambda: inspector.handle_command(command),
                          rival=lambda: ast.dump(ast.parse(source), indent=2)[:5000], rival_name="ast.dump")
    if cc_visit is None:
        print("   (radon not installed: no comparison with its complexity pass)")
        return
    with Comparison("full_analysis vs radon cc_visit (complexity only)", rounds=5) as bench:
        for path in paths:
            source = path.read_text(encoding="utf-8", errors="replace")
            bench.compare(path.name, ours=lambda: inspector.full_analysis(str(path)),
                          rival=lambda: cc_visit(source), rival_name="radon")


def worker_throughput(path: Path, commands: int = 4000) -> None:
    print("== worker throughput over a pipe: summarize on a 7-line file")
    line = (json.dumps({"action": "summarize", "path": str(path)}) + "\n").encode()
    with subprocess.Popen([sys.executable, "-m", "nebrix.workers.source_inspector"], stdin=subprocess.PIPE,
                          stdout=subprocess.PIPE) as worker:
        for _ in range(100):  # warm up
            worker.stdin.write(line)
            worker.stdin.flush()
            worker.stdout.readline()
        # One command at a time, as the host pairs answers with commands: includes the
        # round trip through both processes.
        start = time.perf_counter()
        for _ in range(commands):
            worker.stdin.write(line)
            worker.stdin.flush()
            worker.stdout.readline()
        one_at_a_time = commands / (time.perf_counter() - start)
        # Commands queued ahead: the worker's own rate.
        feeder = threading.Thread(target=lambda: (worker.stdin.write(line * commands), worker.stdin.flush()))
        start = time.perf_counter()
        feeder.start()
        for _ in range(commands):
            worker.stdout.readline()
        queued = commands / (time.perf_counter() - start)
        feeder.join()
        worker.stdin.close()
        worker.wait()
    print(f"   one at a time: {one_at_a_time:,.0f} commands/s; queued: {queued:,.0f} commands/s")


def main() -> None:
    with tempfile.TemporaryDirectory() as directory:
        files = largest_stdlib_files(5) + [generated_file(Path(directory))]
        compare_files(files)
        small = Path(directory) / "small.py"
        small.write_text("import os\n\n\ndef f(x):\n    # TODO: more\n    if x:\n        return os.getcwd()\n")
        worker_throughput(small)


if __name__ == "__main__":
    main()
