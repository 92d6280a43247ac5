"""The Linux backend on the real virtual desktop: the AT-SPI2 walker under the system
python3, the real xdotool and pyautogui, read back through the GTK test window."""

from __future__ import annotations

import asyncio
import json
import os
import subprocess
import sys
import time

import pytest

from nebrix.pc.desktop_access import DesktopAccess

pytestmark = pytest.mark.desktop

EDITOR_SNAPSHOT = """Window: Editor Test

frame: Editor Test
    [1] push button "Save"
    [2] text value="hello"
    [3] check box "Enable sync"
    label: Ready
    [4] combo box
        [5] menu item "Small"
        [6] menu item "Medium"
        [7] menu item "Large"
    [8] slider "42" value="42.0\""""


def run(coroutine):
    return asyncio.run(coroutine)


@pytest.fixture
def access(virtual_desktop) -> DesktopAccess:
    controller = DesktopAccess()
    controller._ensure_init()
    assert controller._linux_atspi_available and controller._linux_xdotool_available
    assert controller._pyautogui_available
    return controller


@pytest.fixture
def second_window(virtual_desktop, test_window):
    window = virtual_desktop.open_test_window("Second Window")
    yield window
    window.close()


def eventually(check, timeout: float = 10):
    """Runs check() until it gives a true value, or fails after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while not (result := check()):
        assert time.monotonic() < deadline, "timed out"
        time.sleep(0.05)
    return result


def focused_title(access) -> str:
    return eventually(lambda: run(access.get_focused_window())["title"])


# Prints [role, name] of the accessible at each (bus name, pid, path) of argv[1].
FOLLOW_PROGRAM = """
import json, sys
import gi
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi
desktop = Atspi.get_desktop(0)
applications = [desktop.get_child_at_index(index) for index in range(desktop.get_child_count())]
found = []
for bus_name, pid, path in json.loads(sys.argv[1]):
    node = next(app for app in applications if app.app.bus_name == bus_name and app.get_process_id() == pid)
    for index in path:
        node = node.get_child_at_index(index)
    found.append([node.get_role_name(), node.get_name() or node.get_description() or ""])
print(json.dumps(found))
"""


def follow_paths(virtual_desktop, places) -> list:
    output = subprocess.run(["python3", "-c", FOLLOW_PROGRAM, json.dumps(places)], env=virtual_desktop.env,
                            capture_output=True, text=True, timeout=30)
    assert output.returncode == 0, output.stderr
    return json.loads(output.stdout)


def point_into(virtual_desktop, window) -> None:
    """Puts the pointer on an empty spot of the window, below its last widget."""
    x, y, width, height = window.state()["geometry"]["slider"]
    virtual_desktop.xdotool("mousemove", str(x + width // 2), str(y + height + 30))


class TestSnapshot:
    def test_focused_window(self, access, virtual_desktop, test_window):
        result = run(access.snapshot())
        assert result == {"success": True, "window": "Editor Test", "snapshot": EDITOR_SNAPSHOT, "element_count": 8,
                          "platform": "linux_atspi",
                          "hint": "Use ref numbers to interact: desktop_click_ref(1), desktop_type_ref(2, 'text'), "
                                  "etc."}
        assert '"Delete"' not in result["snapshot"]  # disabled: no ref, no line
        record = access._ref_map[2]
        assert list(record.items())[:4] == [("role", "text"), ("name", ""), ("value", "hello"),
                                            ("backend", "linux_atspi")]
        assert record["pid"] == test_window.process.pid and record["bus_name"].startswith(":")
        assert sorted(access._ref_map) == list(range(1, 9)) and access._ref_counter == 8
        # Each record's path leads from its application back to the element.
        found = follow_paths(virtual_desktop, [(record["bus_name"], record["pid"], record["path"])
                                               for record in access._ref_map.values()])
        assert found == [[record["role"], record["name"]] for record in access._ref_map.values()]

    def test_a_second_snapshot_renumbers(self, access, test_window):
        run(access.snapshot())
        shallow = run(access.snapshot(max_depth=2))
        assert shallow["snapshot"].split("\n")[-2:] == ["    [4] combo box", '    [5] slider "42" value="42.0"']
        assert sorted(access._ref_map) == [1, 2, 3, 4, 5]
        assert run(access.click_ref(8)) == {
            "success": False, "error": "Ref [8] not found. Take a new desktop_snapshot() to get current refs."}

    def test_depth_zero_lists_only_the_window(self, access, test_window):
        assert run(access.snapshot(max_depth=0))["snapshot"] == "Window: Editor Test\n\nframe: Editor Test"

    def test_by_title_while_another_window_has_the_focus(self, access, test_window, second_window):
        assert run(access.snapshot())["window"] == "Second Window"
        assert run(access.snapshot("editor TEST"))["snapshot"] == EDITOR_SNAPSHOT

    def test_a_title_with_quotes_and_emoji_finds_its_window(self, access, virtual_desktop, test_window):
        title = 'Notes "😀" café'
        window = virtual_desktop.open_test_window(title)
        try:
            result = run(access.snapshot('😀" CAFÉ'))
            assert result["window"] == title and result["snapshot"].startswith(f"Window: {title}\n\nframe: {title}")
        finally:
            window.close()

    def test_a_title_matching_nothing_names_it(self, access, test_window):
        assert run(access.snapshot("no such window")) == {"success": False,
                                                          "error": "No window found matching: no such window"}

    def test_the_x_title_finds_a_window_whose_accessible_name_differs(self, access, virtual_desktop, test_window):
        virtual_desktop.xdotool("set_window", "--name", "Renamed on the X side", test_window.window_id)
        listed = run(access.list_windows())["windows"]
        assert {"id": test_window.window_id, "title": "Renamed on the X side"} in listed
        result = run(access.snapshot("Renamed on the X side"))
        assert result["success"] and result["snapshot"] == EDITOR_SNAPSHOT

    @pytest.mark.parametrize("role", ["alert", "file chooser"])
    def test_a_window_of_another_top_level_role(self, access, virtual_desktop, test_window, role):
        window = virtual_desktop.open_test_window(f"Role {role}", accessible_role=role)
        try:
            focused = run(access.snapshot())
            assert focused["window"] == f"Role {role}" and '[1] push button "Save"' in focused["snapshot"]
        finally:
            window.close()

    def test_a_frame_without_an_accessible_name_is_found_by_its_x_title(self, access, virtual_desktop, test_window):
        window = virtual_desktop.open_test_window("Unnamed Frame", accessible_name="")
        try:
            # By title the X title names it; focused, the walker's own "Unknown" does.
            for title, name in (("Unnamed Frame", "Unnamed Frame"), (None, "Unknown")):
                result = run(access.snapshot(title))
                assert result["success"] and result["window"] == name, result
                assert '[1] push button "Save"' in result["snapshot"]
        finally:
            window.close()

    def test_a_focused_window_without_accessibility_is_named_not_replaced(self, access, virtual_desktop,
                                                                          test_window):
        plain = virtual_desktop.open_test_window("Plain X", "xmessage")
        try:
            assert run(access.snapshot()) == {
                "success": False, "error": "The focused window exposes no accessibility tree: Plain X"}
            assert run(access.snapshot("Plain X")) == {"success": False,
                                                       "error": "No window found matching: Plain X"}
        finally:
            plain.close()
        assert run(access.snapshot("Editor Test"))["snapshot"] == EDITOR_SNAPSHOT

    @pytest.mark.parametrize("toolkit", ["gtk4", "qt5"])
    def test_other_toolkits_focused_and_by_title(self, access, virtual_desktop, toolkit):
        window = virtual_desktop.open_test_window(f"{toolkit} window", toolkit)
        try:
            focused = run(access.snapshot())
            assert focused["success"] and focused["window"] == f"{toolkit} window", focused
            assert '[1] push button "Save"' in focused["snapshot"]
            by_title = run(access.snapshot(f"{toolkit} window"))
            assert by_title["snapshot"] == focused["snapshot"]
        finally:
            window.close()

    def test_line_breaks_in_values_stay_on_their_line(self, access, virtual_desktop):
        window = virtual_desktop.open_test_window("Full Editor", full=True)
        try:
            lines = run(access.snapshot())["snapshot"].split("\n")
            assert any(line.endswith('text value="First line Second line"') for line in lines), lines
            assert not any(line.strip().startswith("Second line") for line in lines)
        finally:
            window.close()

    def test_python3_on_path_without_the_bindings(self, virtual_desktop, test_window, tmp_path, monkeypatch):
        """A host runs in its own virtual environment: its python3 comes first on PATH."""
        (tmp_path / "python3").symlink_to(sys.executable)
        monkeypatch.setenv("PATH", f"{tmp_path}{os.pathsep}{os.environ['PATH']}")
        assert subprocess.run(["python3", "-c", "import gi"], capture_output=True).returncode != 0
        controller = DesktopAccess()
        controller._ensure_init()
        assert controller._linux_atspi_available and controller._linux_atspi_python == "/usr/bin/python3"
        assert run(controller.snapshot())["snapshot"] == EDITOR_SNAPSHOT

    def test_typed_text_shows_in_the_next_snapshot(self, access, virtual_desktop, test_window):
        x, y = test_window.center_of("entry")
        virtual_desktop.xdotool("mousemove", str(x), str(y), "click", "1")
        assert run(access.press_key("end"))["success"]
        assert run(access.press_key("x"))["success"]
        test_window.wait_for(lambda state: state["entry"] == "hellox")
        assert '[2] text value="hellox"' in run(access.snapshot())["snapshot"]

    def test_xdotool_snapshot(self, access, test_window):
        access._linux_atspi_available = False
        access._ref_map = {1: {"backend": "linux_atspi"}}
        result = run(access.snapshot())
        assert (result["window"], result["window_id"], result["platform"]) == (
            "Editor Test", test_window.window_id, "linux_xdotool")
        assert result["snapshot"].startswith(f"Window: Editor Test (id: {test_window.window_id})\n\nNote: ")
        assert access._ref_map == {}

class TestWindows:
    def test_list_focus_and_focused_window(self, access, test_window, second_window):
        listed = run(access.list_windows())
        assert listed == {"success": True, "count": 2, "windows": [
            {"id": test_window.window_id, "title": "Editor Test"}, {"id": second_window.window_id,
                                                                     "title": "Second Window"}]}
        assert run(access.get_focused_window()) == {"success": True, "title": "Second Window"}

        assert run(access.focus_window("Editor Test")) == {"success": True, "window": "Editor Test",
                                                           "window_id": test_window.window_id}
        assert focused_title(access) == "Editor Test"
        test_window.wait_for(lambda state: state["focused"])

    def test_eight_windows_are_listed_and_each_title_focuses_its_window(self, access, virtual_desktop):
        titles = [("*notes.txt - Editor", "gtk3"), ("C++ Primer (5th ed.)", "gtk4"), ("[Draft] Report", "qt5"),
                  ("Caf\u00e9 Men\u00fc", "gtk3"), ("Two\nLines", "gtk3"), ("Plain Message", "xmessage"),
                  ("Qt Second", "qt5"), ("GTK4 Second", "gtk4")]
        windows = virtual_desktop.open_windows(titles)
        try:
            windows[3].use_latin1_title()
            listed = run(access.list_windows())
            assert listed["success"] and listed["count"] == 8
            assert sorted(listed["windows"], key=lambda window: window["id"]) == sorted(
                ({"id": window.window_id, "title": window.title} for window in windows), key=lambda w: w["id"])
            for window in reversed(windows):
                assert run(access.focus_window(window.title)) == {
                    "success": True, "window": window.title, "window_id": window.window_id}
                assert virtual_desktop.xdotool("getactivewindow") == window.window_id
                assert run(access.get_focused_window()) == {"success": True, "title": window.title}
            for window in windows[:3]:
                result = run(access.snapshot(window.title))
                assert result["success"] and result["window"] == window.title, result
        finally:
            for window in windows:
                window.close()

    def test_a_helper_window_is_neither_listed_nor_focused(self, access, virtual_desktop, test_window):
        helped = virtual_desktop.open_test_window("Helper First", helper_first=True)
        try:
            test_window.activate()
            assert run(access.list_windows())["windows"] == [
                {"id": test_window.window_id, "title": "Editor Test"}, {"id": helped.window_id,
                                                                         "title": "Helper First"}]
            assert run(access.focus_window("Helper First")) == {"success": True, "window": "Helper First",
                                                                "window_id": helped.window_id}
            assert virtual_desktop.xdotool("getactivewindow") == helped.window_id
        finally:
            helped.close()

    def test_focus_without_a_match(self, access, test_window):
        assert run(access.focus_window("No Such Window")) == {"success": False,
                                                              "error": "No window matching: No Such Window"}


class TestInput:
    def test_x_key_names_and_unknown_keys(self, access, virtual_desktop, test_window):
        point_into(virtual_desktop, test_window)
        assert run(access.press_key("Page_Down")) == {"success": True, "action": "key_press", "key": "Page_Down"}
        test_window.wait_for(lambda state: "Page_Down" in state["keys"])
        assert run(access.press_key("Page_Dwn")) == {"success": False, "error": 'Unknown key: "Page_Dwn"'}

    def test_horizontal_scrolling(self, access, virtual_desktop, test_window):
        point_into(virtual_desktop, test_window)
        assert run(access.scroll_window("left", 1))["success"]
        assert run(access.scroll_window("right", 2))["success"]
        scrolls = test_window.wait_for(lambda state: len(state["scrolls"]) >= 3)["scrolls"]
        assert scrolls == ["left", "right", "right"]

    def test_keys_reach_the_focused_window(self, access, virtual_desktop, test_window):
        point_into(virtual_desktop, test_window)
        assert run(access.press_key("ctrl+a")) == {"success": True, "action": "key_press", "key": "ctrl+a"}
        assert run(access.press_key("Enter")) == {"success": True, "action": "key_press", "key": "Enter"}
        keys = test_window.wait_for(lambda state: "Return" in state["keys"])["keys"]
        assert [key for key in keys if key in ("Control_L", "a", "Return")] == ["Control_L", "a", "Return"]

    def test_scrolling_turns_the_wheel_over_the_window(self, access, virtual_desktop, test_window):
        point_into(virtual_desktop, test_window)
        assert run(access.scroll_window("up", 2))["success"]
        assert run(access.scroll_window())["success"]
        scrolls = test_window.wait_for(lambda state: len(state["scrolls"]) >= 5)["scrolls"]
        assert scrolls == ["up", "up", "down", "down", "down"]
