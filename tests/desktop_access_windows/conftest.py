"""Fixtures for the Windows backend: a controller on "Windows" whose packages, user32
and pyautogui are the fakes of windows_fakes, installed where the backend looks them up
(sys.modules and ctypes.windll) at the moment of use."""

from __future__ import annotations

import asyncio
import ctypes
import sys
import threading
import time

import pytest

import windows_fakes
from nebrix.pc import desktop_access


@pytest.fixture
def screen(monkeypatch):
    screen = windows_fakes.Screen()
    monkeypatch.setattr(desktop_access, "SYSTEM", "Windows")
    monkeypatch.setattr(ctypes, "windll", windows_fakes.windll(screen), raising=False)
    monkeypatch.setitem(sys.modules, "pyautogui", windows_fakes.pyautogui_module(screen))
    return screen


@pytest.fixture
def no_pyautogui(monkeypatch):
    monkeypatch.setitem(sys.modules, "pyautogui", None)


@pytest.fixture(params=["pywinauto", "uiautomation", "uiautomation-uncached"])
def package(request, screen, monkeypatch):
    """Each test runs with pywinauto installed, and with only uiautomation: a release
    that offers cache requests, and one that does not. Gives the backend's name."""
    if request.param == "pywinauto":
        monkeypatch.setitem(sys.modules, "pywinauto", windows_fakes.pywinauto_module(screen))
        monkeypatch.setitem(sys.modules, "uiautomation", None)
        return "pywinauto"
    monkeypatch.setitem(sys.modules, "pywinauto", None)
    monkeypatch.setitem(sys.modules, "uiautomation",
                        windows_fakes.uiautomation_module(screen, cache_requests=request.param == "uiautomation"))
    return "uiautomation"


@pytest.fixture
def pywinauto_only(screen, monkeypatch):
    monkeypatch.setitem(sys.modules, "pywinauto", windows_fakes.pywinauto_module(screen))
    monkeypatch.setitem(sys.modules, "uiautomation", None)


@pytest.fixture
def uiautomation_only(screen, monkeypatch):
    monkeypatch.setitem(sys.modules, "pywinauto", None)
    monkeypatch.setitem(sys.modules, "uiautomation", windows_fakes.uiautomation_module(screen))


@pytest.fixture
def uiautomation_uncached(screen, monkeypatch):
    monkeypatch.setitem(sys.modules, "pywinauto", None)
    monkeypatch.setitem(sys.modules, "uiautomation", windows_fakes.uiautomation_module(screen, cache_requests=False))


@pytest.fixture
def access():
    return desktop_access.DesktopAccess()


class Sleeps:
    """time.sleep and asyncio.sleep recorded with their thread; neither really waits."""

    def __init__(self, monkeypatch) -> None:
        self.blocking: list[tuple[float, int]] = []
        self.awaited: list[tuple[float, int]] = []
        real_asyncio_sleep = asyncio.sleep

        def blocking(seconds):
            self.blocking.append((seconds, threading.get_ident()))

        async def awaited(seconds, result=None):
            self.awaited.append((seconds, threading.get_ident()))
            return await real_asyncio_sleep(0, result)

        monkeypatch.setattr(time, "sleep", blocking)
        monkeypatch.setattr(asyncio, "sleep", awaited)


@pytest.fixture
def sleeps(monkeypatch):
    return Sleeps(monkeypatch)
