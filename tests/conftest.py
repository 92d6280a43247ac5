"""Shared fixtures: the real virtual desktop and the GTK test window.

A test that asks for `virtual_desktop` gets one desktop for the whole session, and the
test process talks to it (DISPLAY and the D-Bus addresses are in os.environ). Where the
desktop cannot come up, the test fails under CI (a missing package is a broken install
step there) and is skipped elsewhere with the reason.
"""

from __future__ import annotations

import os
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
if str(ROOT) not in sys.path:
    sys.path.insert(0, str(ROOT))

from rig import DesktopUnavailable, VirtualDesktop  # noqa: E402


def _in_ci() -> bool:
    return os.environ.get("CI", "").lower() in ("1", "true", "yes")


@pytest.fixture(scope="session")
def virtual_desktop():
    desktop = VirtualDesktop()
    try:
        desktop.start()
    except DesktopUnavailable as error:
        if _in_ci():
            pytest.fail(f"virtual desktop unavailable in CI: {error}", pytrace=False)
        pytest.skip(f"virtual desktop unavailable: {error}")
    desktop.apply_to_process()
    try:
        yield desktop
    finally:
        desktop.stop()


@pytest.fixture
def test_window(virtual_desktop):
    """A fresh "Editor Test" window, focused, closed after the test."""
    window = virtual_desktop.open_test_window()
    try:
        yield window
    finally:
        window.close()
