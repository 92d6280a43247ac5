"""Helpers for the desktop access tests: a controller pinned to a platform, and fake
programs on PATH that stand in for xdotool, python3 and osascript."""

from __future__ import annotations

import shlex
import stat
from pathlib import Path

import pytest

from nebrix.pc import desktop_access


@pytest.fixture
def module():
    return desktop_access


@pytest.fixture
def linux(monkeypatch):
    monkeypatch.setattr(desktop_access, "SYSTEM", "Linux")


@pytest.fixture
def access():
    """A controller that has probed already, with every backend flag false."""
    controller = desktop_access.DesktopAccess()
    controller._initialized = True
    return controller


class FakePrograms:
    """A directory that alone makes up PATH, holding scripts that stand in for programs.

    Each fake appends its arguments to calls/<name>.log, each argument ended by a unit
    separator and each call by a record separator (the shell alone does it, quickly).
    """

    def __init__(self, root: Path, monkeypatch) -> None:
        self.bin = root / "bin"
        self.calls_dir = root / "calls"
        self.bin.mkdir()
        self.calls_dir.mkdir()
        monkeypatch.setenv("PATH", str(self.bin))

    def add(self, name: str, shell_body: str) -> Path:
        """A fake whose behaviour is a POSIX shell snippet (after the call is logged)."""
        log = shlex.quote(str(self.calls_dir / f"{name}.log"))
        recorder = f"{{ printf '%s\\037' \"$@\"; printf '\\036'; }} >> {log}"
        path = self.bin / name
        path.write_text(f"#!/bin/sh\n{recorder}\n{shell_body}\n")
        path.chmod(path.stat().st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)
        return path

    def printing(self, name: str, stdout: str = "", stderr: str = "", status: int = 0) -> Path:
        return self.add(name, f"printf %s {shlex.quote(stdout)}\nprintf %s {shlex.quote(stderr)} >&2\nexit {status}")

    def calls(self, name: str) -> list[list[str]]:
        log = self.calls_dir / f"{name}.log"
        records = log.read_text().split("\x1e")[:-1] if log.exists() else []
        return [record.split("\x1f")[:-1] for record in records]


@pytest.fixture
def programs(tmp_path, monkeypatch):
    """Fake programs alone on PATH, and no system interpreter to fall back on."""
    monkeypatch.setattr(desktop_access, "_SYSTEM_PYTHONS", ())
    return FakePrograms(tmp_path, monkeypatch)


@pytest.fixture
def walker_answer():
    """Builds a successful walker answer, elements given as (ref, role, name, value, depth)."""

    def build(*elements, window="Editor", app="editor"):
        return {
            "success": True, "window": window, "app": app,
            "elements": [dict(zip(("ref", "role", "name", "value", "depth"), element)) for element in elements],
            "element_count": sum(1 for element in elements if element[0] > 0),
        }

    return build


@pytest.fixture
def recorder():
    """Coroutine functions that record their calls and answer a fixed result."""

    class Recorder:
        def __init__(self) -> None:
            self.calls: list[tuple[str, tuple]] = []

        def method(self, name: str, result=None):
            async def fake(*args):
                self.calls.append((name, args))
                return {"from": name} if result is None else result
            return fake

    return Recorder()

