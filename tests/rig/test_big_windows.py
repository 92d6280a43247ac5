"""The big test windows: a generated block of about N accessible nodes in each toolkit, and
a snapshot of one that runs out of time."""

import asyncio
import re

import pytest

import nebrix.pc.desktop_access as desktop_module
from nebrix.pc.desktop_access import DesktopAccess
from rig import WindowRequest

TOOLKITS = ("gtk3", "gtk4", "qt5")
SENSITIVE = 24  # Atspi.StateType.SENSITIVE, a bit of the dumped state masks


@pytest.fixture(scope="module")
def big_windows(virtual_desktop):
    opened = virtual_desktop.open_windows([WindowRequest(f"Big {toolkit}", toolkit, nodes=1000)
                                           for toolkit in TOOLKITS], timeout=90)
    yield dict(zip(TOOLKITS, opened))
    for window in opened:
        window.close()


@pytest.mark.parametrize("toolkit", TOOLKITS)
def test_a_big_window_holds_about_the_nodes_asked_for(virtual_desktop, big_windows, toolkit):
    nodes = virtual_desktop.accessible_tree(big_windows[toolkit].process.pid)["nodes"]
    # GTK 4 wraps some widgets in a filler of its own.
    assert 1000 <= len(nodes) <= 1300
    found = {(role, name): (states, value) for _path, role, name, _description, states, value in nodes}
    for role, name in (("label", "Section 0"), ("check box", "Option 70"), ("push button", "Apply 70")):
        assert (role, name) in found
    assert found["push button", "Apply 70"][0] >> SENSITIVE & 1
    assert not found["push button", "Apply 4"][0] >> SENSITIVE & 1  # every fifth one is disabled
    assert {"value 0", "value 70"} <= {value for _path, role, *_, value in nodes if role == "text"}
    # A GTK list row is a list item holding a label, a Qt one a named list item.
    rows = [name for _path, _role, name, *_ in nodes if name.startswith("Row ")]
    assert rows[:2] == ["Row 0", "Row 1"] and len(rows) == (500 if toolkit == "qt5" else 250)


def unreffed(snapshot: str) -> list[str]:
    return [re.sub(r"\[\d+\] ", "", line) for line in snapshot.split("\n")]


def is_in_order_within(part: list[str], whole: list[str]) -> bool:
    lines = iter(whole)
    return all(line in lines for line in part)


def test_out_of_time_the_snapshot_answers_what_it_read_and_keeps_its_refs(big_windows, monkeypatch):
    access = DesktopAccess()
    title = big_windows["gtk3"].title
    whole = asyncio.run(access.snapshot(title))
    assert whole["success"] and whole["snapshot"].endswith("label: Row 249")
    # At 4 s the walker has no time left for reads beyond the window and what GTK's
    # cache holds: the list rows, which the cache leaves out, are never read.
    monkeypatch.setattr(desktop_module, "SNAPSHOT_TIMEOUT", 4)
    result = asyncio.run(access.snapshot(title))
    assert list(result) == ["success", "error", "partial_snapshot"]
    assert result["success"] is False and result["error"] == "AT-SPI2 snapshot timed out"
    partial = result["partial_snapshot"]
    assert partial.startswith(f'Window: {title}\n\nframe: {title}\n    [1] push button "Save"\n')
    assert "Row " not in partial and is_in_order_within(unreffed(partial), unreffed(whole["snapshot"]))
    refs = len(access._ref_map)
    assert refs < whole["element_count"] and f"[{refs}]" in partial and f"[{refs + 1}]" not in partial
    # A ref of the earlier snapshot that the partial one lacks acts on nothing; a ref of
    # the partial one acts on its element.
    assert asyncio.run(access.click_ref(whole["element_count"]))["success"] is False
    assert access._ref_map[3]["name"] == "Enable sync" and '[3] check box "Enable sync"' in partial
    before = asyncio.run(access.toggle_ref(3))
    after = asyncio.run(access.toggle_ref(3))
    assert before["success"] and after["success"] and before["checked"] is not after["checked"]
