"""Stand-in for the host's ``nebrix.pc.platform_utils``.

Only what the extension modules use is here; the host's own module replaces this one.
"""

from __future__ import annotations

import shutil
import subprocess


def get_screen_size_linux() -> tuple[int, int] | None:
    """The size of the X screen as (width, height), or None when it cannot be read."""
    xdpyinfo = shutil.which("xdpyinfo")
    if xdpyinfo is None:
        return None
    try:
        output = subprocess.run([xdpyinfo], capture_output=True, text=True, timeout=5).stdout
    except (OSError, subprocess.SubprocessError):
        return None
    for line in output.splitlines():
        line = line.strip()
        if line.startswith("dimensions:"):
            width, _, height = line.split()[1].partition("x")
            try:
                return int(width), int(height)
            except ValueError:
                return None
    return None


def get_screenshot_command() -> list[str] | None:
    """A command that captures the screen; the stand-in knows none."""
    return None
