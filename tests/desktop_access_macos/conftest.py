"""Fixtures of the macOS backend tests: a controller on "Darwin", the fake osascript
alone on PATH, and time limits under the tests' control."""

import pytest

from macos_fakes import FakeOsascript, TimeLimits
from nebrix.pc import desktop_access


@pytest.fixture
def module():
    return desktop_access


@pytest.fixture
def osascript(tmp_path, monkeypatch):
    fake = FakeOsascript(tmp_path)
    monkeypatch.setenv("PATH", str(fake.bin))
    return fake


@pytest.fixture
def time_limits(osascript, monkeypatch):
    return TimeLimits(monkeypatch, osascript.asleep)


@pytest.fixture
def mac(monkeypatch):
    """A controller on macOS that has probed already and found osascript."""
    monkeypatch.setattr(desktop_access, "SYSTEM", "Darwin")
    controller = desktop_access.DesktopAccess()
    controller._initialized = True
    controller._macos_available = True
    return controller
