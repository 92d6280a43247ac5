"""The source inspection worker as the host runs it: a child process on pipes, one JSON
command per line, asked for the summary of one of this project's own files."""

from __future__ import annotations

import asyncio
import json
import sys
from pathlib import Path

TITLE = "source_inspector: the worker summarises bench/runner.py"

TARGET = Path(__file__).resolve().parents[2] / "bench" / "runner.py"


async def ask(worker, command: dict) -> dict:
    worker.stdin.write((json.dumps(command) + "\n").encode())
    await worker.stdin.drain()
    return json.loads(await asyncio.wait_for(worker.stdout.readline(), timeout=30))


async def run(demo) -> None:
    worker = await asyncio.create_subprocess_exec(sys.executable, "-m", "nebrix.workers.source_inspector",
                                                  stdin=asyncio.subprocess.PIPE, stdout=asyncio.subprocess.PIPE)
    try:
        summary = await ask(worker, {"action": "summarize", "path": str(TARGET)})
        demo.show("summary", summary["result"] if summary["success"] else summary)
        complexity = await ask(worker, {"action": "complexity", "path": str(TARGET)})
        demo.show("most complex", max(complexity["result"], key=lambda record: record["complexity"]))
        demo.show("quit", await ask(worker, {"action": "quit"}))
    finally:
        if worker.returncode is None:
            worker.stdin.close()
        demo.show("exit code", await asyncio.wait_for(worker.wait(), timeout=30))
