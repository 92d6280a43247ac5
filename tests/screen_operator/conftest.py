"""Fakes for the screen operator's seams: the input layer, sleeps, the platform name and
the host's screen size, so the logic can be checked without a desktop."""

from __future__ import annotations

import sys
import types

import pytest

from nebrix.pc import platform_utils
from nebrix.pc.screen_operator import ScreenOperatorExecutor


class FakeInputLayer(types.ModuleType):
    """Stands in for pyautogui: records each call as (name, args, kwargs)."""

    def __init__(self) -> None:
        super().__init__("pyautogui")
        self.calls: list[tuple[str, tuple, dict]] = []
        self.pointer = (0, 0)
        self.failures: dict[str, Exception] = {}
        for name in ("click", "rightClick", "middleClick", "doubleClick", "moveTo", "mouseDown", "mouseUp",
                     "hotkey", "press", "write", "keyDown", "keyUp", "scroll", "hscroll", "screenshot"):
            setattr(self, name, self._recorder(name))

    def _recorder(self, name):
        def record(*args, **kwargs):
            self.calls.append((name, args, kwargs))
            if name in self.failures:
                raise self.failures[name]
        return record

    def position(self):
        return self.pointer

    def names(self) -> list[str]:
        return [name for name, _, _ in self.calls]


@pytest.fixture
def gui(monkeypatch) -> FakeInputLayer:
    fake = FakeInputLayer()
    monkeypatch.setitem(sys.modules, "pyautogui", fake)
    return fake


@pytest.fixture
def sleeps(monkeypatch) -> list[float]:
    """time.sleep recorded instead of slept; a negative or NaN length fails as it would."""
    recorded: list[float] = []

    def sleep(seconds):
        if not seconds >= 0:
            raise ValueError("sleep length must be non-negative")
        recorded.append(seconds)

    monkeypatch.setattr("time.sleep", sleep)
    return recorded


@pytest.fixture
def system(monkeypatch):
    """Sets the platform name the module sees: system("Darwin")."""
    def set_system(name: str) -> None:
        monkeypatch.setattr("platform.system", lambda: name)
    set_system("Linux")
    return set_system


@pytest.fixture
def screen(monkeypatch, system):
    """screen(w, h): an initialized executor on a Linux screen of that size."""
    def make(width: int, height: int, **kwargs) -> ScreenOperatorExecutor:
        monkeypatch.setattr(platform_utils, "get_screen_size_linux", lambda: (width, height))
        executor = ScreenOperatorExecutor(**kwargs)
        executor.get_display_info()
        return executor
    return make
