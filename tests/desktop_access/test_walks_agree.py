"""The walker's bulk read of a window against its node-by-node walk through the Atspi
bindings (the walk it had before the bulk reader): the same snapshot text and the same
ref map on every test window of each toolkit. Both run in the system python3."""

from __future__ import annotations

import json
import subprocess
from pathlib import Path

import pytest

from nebrix.pc.desktop_access import DesktopAccess

pytestmark = pytest.mark.desktop

SOURCES = Path(__file__).resolve().parents[2] / "src" / "desktop_access"
HEADER = '\nimport json, sys\nimport gi\ngi.require_version("Atspi", "2.0")\nfrom gi.repository import Atspi\n\n'
# Each walk is made to be the one taken: the bulk one must not fall back.
BULK_ONLY = 'def walk_per_node(*_):\n    raise SystemExit("the bulk read fell back on the per-node walk")\n'
PER_NODE_ONLY = 'def accessibility_bus():\n    raise ConnectionError("node by node")\n'
TOOLKITS = ("gtk3", "gtk4", "qt5")


def walker_program(window, override: str, max_depth: int) -> str:
    body, call = (SOURCES / "atspi_walker.py").read_text().rstrip().rsplit("\n", 1)
    assert call == "main()"
    return (f"{HEADER}max_depth = {max_depth}\ntarget_title = {json.dumps(window.title)}\n"
            f"target_pid = {window.process.pid}\n\n{(SOURCES / 'atspi_tree.py').read_text()}\n{body}\n"
            f"{override}\nmain()\n")


def snapshot(desktop, window, override: str, max_depth: int = 8) -> tuple[dict, dict]:
    output = subprocess.run(["python3", "-c", walker_program(window, override, max_depth)], env=desktop.env,
                            capture_output=True, text=True, timeout=120)
    assert output.returncode == 0, output.stderr
    access = DesktopAccess()
    result = access._render_atspi_answer(json.loads(output.stdout))
    return result, access._ref_map


@pytest.fixture(scope="module")
def windows(virtual_desktop):
    plain = virtual_desktop.open_windows([(f"Walk {toolkit}", toolkit) for toolkit in TOOLKITS], timeout=60)
    full = virtual_desktop.open_windows([(f"Walk full {toolkit}", toolkit, None, None, 300) for toolkit in TOOLKITS],
                                        full=True, timeout=90)
    yield plain + full
    for window in plain + full:
        window.close()


def test_the_bulk_read_lists_what_the_per_node_walk_lists(virtual_desktop, windows):
    for window in windows:
        # The bulk read goes first: it meets the window as a first snapshot does.
        bulk, bulk_refs = snapshot(virtual_desktop, window, BULK_ONLY)
        per_node, per_node_refs = snapshot(virtual_desktop, window, PER_NODE_ONLY)
        assert bulk["element_count"] > 5, window.title
        assert bulk["snapshot"] == per_node["snapshot"], window.title
        assert bulk_refs == per_node_refs, window.title


def test_both_stop_at_the_same_depth(virtual_desktop, windows):
    window = windows[-1]
    for depth in (-1, 0, 3):
        assert snapshot(virtual_desktop, window, BULK_ONLY, depth) == snapshot(virtual_desktop, window,
                                                                               PER_NODE_ONLY, depth)
