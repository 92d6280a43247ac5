"""The walker's bulk read of a window against its node-by-node walk through the Atspi
bindings (the walk it had before the bulk reader): the same snapshot text and the same
ref map on every test window of each toolkit. Both run in the system python3."""

from __future__ import annotations

import asyncio
import json
import subprocess

import pytest

from nebrix.pc.desktop_access import DesktopAccess
from rig.walker_program import BULK_ONLY, PER_NODE_ONLY, walker_program

pytestmark = pytest.mark.desktop

TOOLKITS = ("gtk3", "gtk4", "qt5")


def snapshot(desktop, window, override: str, max_depth: int = 8, max_elements: int | None = None,
             states: bool = False) -> tuple[dict, dict]:
    program = walker_program(window, override, max_depth, max_elements, states)
    output = subprocess.run(["python3", "-c", program], env=desktop.env, capture_output=True, text=True, timeout=120)
    assert output.returncode == 0, output.stderr
    access = DesktopAccess()
    result = access._render_atspi_answer(json.loads(output.stdout))
    return result, access._ref_map


@pytest.fixture(scope="module")
def windows(virtual_desktop):
    plain = virtual_desktop.open_windows([(f"Walk {toolkit}", toolkit) for toolkit in TOOLKITS], timeout=60)
    # GTK 4 with its drop-down: GetChildren on its stack skips the stack's pages.
    full = virtual_desktop.open_windows([(f"Walk full {toolkit}", toolkit, None, None, 300, toolkit == "gtk4")
                                         for toolkit in TOOLKITS], full=True, timeout=90)
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


def test_both_stop_at_the_same_depth_and_show_the_same_states(virtual_desktop, windows):
    window = windows[-1]
    for depth in (-1, 0, 3):
        assert snapshot(virtual_desktop, window, BULK_ONLY, depth) == snapshot(virtual_desktop, window,
                                                                               PER_NODE_ONLY, depth)
    assert snapshot(virtual_desktop, window, BULK_ONLY, states=True) == snapshot(virtual_desktop, window,
                                                                                 PER_NODE_ONLY, states=True)


@pytest.mark.parametrize("bound", [1, 7, 40])
def test_both_stop_at_the_same_element_under_a_bound(virtual_desktop, windows, bound):
    for window in windows[3:]:
        (bulk, bulk_refs), (per_node, per_node_refs) = (
            snapshot(virtual_desktop, window, override, max_elements=bound) for override in (BULK_ONLY, PER_NODE_ONLY))
        assert bulk["element_count"] == per_node["element_count"] == bound
        assert bulk_refs == per_node_refs
        # The per-node walk does not count what it leaves; the bulk read may.
        *shown, last = bulk["snapshot"].split("\n")
        assert shown == per_node["snapshot"].split("\n")[:-1], window.title
        assert last.startswith("... ") and last.endswith(" not shown")


def test_a_bounded_snapshot_shows_the_first_elements(virtual_desktop, windows):
    access = DesktopAccess()
    window = windows[3]
    whole = asyncio.run(access.snapshot(window.title))
    bounded = asyncio.run(access.snapshot(window.title, max_elements=12))
    assert bounded["element_count"] == 12 and sorted(access._ref_map) == list(range(1, 13))
    lines = bounded["snapshot"].split("\n")
    assert lines[:-1] == whole["snapshot"].split("\n")[:len(lines) - 1]
    assert lines[-1] == "... more elements not shown" and "[13]" not in bounded["snapshot"]


def test_states_and_disabled_elements(virtual_desktop, windows):
    result = asyncio.run(DesktopAccess().snapshot(windows[3].title, states=True))
    lines = [line.strip() for line in result["snapshot"].split("\n")]
    assert 'push button: Delete (disabled)' in lines
    assert '[1] push button "Save"' in lines  # its window is not the active one
    assert '[10] radio button "Left" (checked)' in lines and '[11] radio button "Center"' in lines
