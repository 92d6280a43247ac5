"""The GTK 3, GTK 4 and Qt 5 test windows, the plain X window and the helper-first window:
each comes up managed, focused and on the AT-SPI bus, and records what reaches it."""

import json
import subprocess

import pytest

from rig import DesktopUnavailable, WindowRequest

TOOLKITS = ("gtk3", "gtk4", "qt5")

# Prints (role, name, showing) of every accessible of the program with the given pid.
WALK_PROGRAM = """
import json, sys
import gi
gi.require_version('Atspi', '2.0')
from gi.repository import Atspi
desktop = Atspi.get_desktop(0)
found = []
for index in range(desktop.get_child_count()):
    application = desktop.get_child_at_index(index)
    if application is None or application.get_process_id() != int(sys.argv[1]):
        continue
    stack = [application]
    while stack:
        node = stack.pop()
        found.append([node.get_role_name(), node.get_name()])
        stack.extend(node.get_child_at_index(i) for i in reversed(range(node.get_child_count())))
print(json.dumps(found))
"""


TITLE = object()  # stands for the window's title
# What each toolkit shows of the full window, quirks included: GTK 4 names unlabelled
# widgets after their class and shows radio buttons as check boxes and a toggle button
# as a push button; Qt shows its window as a filler and a toggle button as a check box.
ACCESSIBLES = {
    "gtk3": [("frame", TITLE), ("push button", "Save"), ("push button", "Delete"), ("text", ""),
             ("check box", "Enable sync"), ("radio button", "Center"), ("toggle button", "Bold"),
             ("combo box", ""), ("menu item", "Medium"), ("slider", ""), ("list box", ""), ("list item", ""),
             ("label", "Apple")],
    "gtk4": [("frame", TITLE), ("push button", "Save"), ("push button", "Delete"), ("text", "GtkEntry"),
             ("text", "GtkTextView"), ("check box", "Enable sync"), ("check box", "Center"), ("push button", "Bold"),
             ("combo box", "GtkComboBoxText"), ("slider", "GtkScale"), ("list", "GtkListBox"), ("list item", ""),
             ("label", "Apple")],
    "qt5": [("filler", TITLE), ("push button", "Save"), ("push button", "Delete"), ("text", ""),
            ("check box", "Enable sync"), ("radio button", "Center"), ("check box", "Bold"), ("combo box", ""),
            ("list item", "Medium"), ("slider", ""), ("list", ""), ("list item", "Apple")],
}


def accessibles(desktop, pid: int) -> list[tuple[str, str]]:
    # "python3" on the desktop's PATH is the interpreter with the AT-SPI bindings.
    output = subprocess.run(["python3", "-c", WALK_PROGRAM, str(pid)], env=desktop.env, capture_output=True,
                            text=True, timeout=30)
    assert output.returncode == 0, output.stderr
    return [tuple(pair) for pair in json.loads(output.stdout)]


@pytest.fixture(params=TOOLKITS)
def full_window(request, virtual_desktop):
    window = virtual_desktop.open_test_window(f"Full {request.param}", request.param, full=True)
    yield window
    window.close()


def click(desktop, window, widget: str) -> None:
    x, y = window.center_of(widget)
    desktop.xdotool("mousemove", str(x), str(y), "click", "1")


def test_the_root_window_carries_the_accessibility_bus(virtual_desktop):
    address = virtual_desktop.env["AT_SPI_BUS_ADDRESS"]
    assert virtual_desktop.run("xprop", "-root", "AT_SPI_BUS") == f'AT_SPI_BUS(STRING) = "{address}"\n'


def test_each_toolkit_window_is_focused_and_accessible(full_window, virtual_desktop):
    assert virtual_desktop.xdotool("getactivewindow") == full_window.window_id
    assert virtual_desktop.active_window_name() == full_window.title
    found = set(accessibles(virtual_desktop, full_window.process.pid))
    expected = {(role, full_window.title if name is TITLE else name) for role, name in ACCESSIBLES[full_window.toolkit]}
    assert expected <= found, sorted(found)


def test_each_toolkit_window_records_its_state(full_window, virtual_desktop):
    window, desktop = full_window, virtual_desktop
    click(desktop, window, "Ready")  # a label: GTK 3 buttons keep the pointer events to themselves
    pressed = window.wait_for(lambda s: len(s["pointer"]) >= 2, what="pointer events")
    x, y = window.center_of("Ready")
    assert pressed["pointer"] == [{"kind": "press", "button": 1, "x": x, "y": y},
                                  {"kind": "release", "button": 1, "x": x, "y": y}]
    click(desktop, window, "Save")
    window.wait_for(lambda s: s["clicks"]["Save"] == 1, what="the click")
    click(desktop, window, "Delete")  # disabled: no click counted
    for widget in ("Enable sync", "Center", "Bold"):
        click(desktop, window, widget)
    window.wait_for(lambda s: s["check"] and s["radio"] == "Center" and s["toggle"], what="check, radio, toggle")
    click(desktop, window, "entry")
    desktop.xdotool("key", "End", "x")
    state = window.wait_for(lambda s: s["entry"] == "hellox", what="typed text")
    assert state["keys"][-2:] == ["End", "x"] and state["clicks"] == {"Save": 1, "Delete": 0}
    x, y = window.center_of("list")
    desktop.xdotool("mousemove", str(x), str(window.state()["geometry"]["list"][1] + 5), "click", "1")
    window.wait_for(lambda s: s["list"] == "Apple", what="the list row")
    x, y = window.center_of("Ready")
    desktop.xdotool("mousemove", str(x), str(y), "click", "4", "click", "5", "click", "6", "click", "7")
    assert window.wait_for(lambda s: len(s["scrolls"]) >= 4)["scrolls"] == ["up", "down", "left", "right"]


def test_a_combo_choice_is_recorded(full_window, virtual_desktop):
    click(virtual_desktop, full_window, "combo")
    virtual_desktop.xdotool("key", "Down", "Return")
    assert full_window.wait_for(lambda s: s["combo"] is not None)["combo"] in ("Small", "Medium")


def test_eight_windows_with_awkward_titles_open_at_once(virtual_desktop):
    titles = [("*notes.txt - Editor", "gtk3"), ("C++ Primer (5th ed.)", "gtk4"), ("[Draft] Report", "qt5"),
              ("Caf\u00e9 Men\u00fc", "gtk3"), ("Two\nLines", "gtk3"), ("Plain Message", "xmessage"),
              ("Qt Second", "qt5"), ("GTK4 Second", "gtk4")]
    windows = virtual_desktop.open_windows(titles)
    try:
        ids = [window.window_id for window in windows]
        assert len(set(ids)) == 8 and set(ids) <= set(virtual_desktop.client_windows())
        assert virtual_desktop.xdotool("getactivewindow") == ids[-1]
        windows[3].use_latin1_title()
        name = subprocess.run(["xdotool", "getwindowname", ids[3]], env=virtual_desktop.env, capture_output=True,
                              check=True).stdout
        assert name == b"Caf\xe9 Men\xfc\n"
        assert virtual_desktop.run("xdotool", "getwindowname", ids[4]) == "Two\nLines\n"
        assert accessibles(virtual_desktop, windows[5].process.pid) == []
        for window in windows:
            window.activate()
            assert virtual_desktop.xdotool("getactivewindow") == window.window_id
    finally:
        for window in windows:
            window.close()


def test_the_helper_window_comes_first_in_a_title_search(virtual_desktop):
    window = virtual_desktop.open_test_window("Helper First", helper_first=True)
    try:
        found = virtual_desktop.xdotool("search", "--name", "^Helper First$").split()
        assert len(found) == 2 and found[1] == window.window_id
        assert found[0] not in virtual_desktop.client_windows()
        assert virtual_desktop.xdotool("getwindowgeometry", found[0]).endswith("Geometry: 10x10")
    finally:
        window.close()


def test_a_window_program_that_fails_is_reported_at_once(virtual_desktop):
    with pytest.raises(DesktopUnavailable, match="'Broken' exited with 1"):
        virtual_desktop.open_test_window("Broken", "gtk4", helper_first=True)  # a GTK 3 only option
    assert not virtual_desktop._windows


def test_a_frame_can_be_named_and_cast_otherwise(virtual_desktop):
    windows = virtual_desktop.open_windows([("Unnamed GTK 3", "gtk3", ""), ("Unnamed GTK 4", "gtk4", ""),
                                            ("Unnamed Qt", "qt5", ""), ("Renamed Qt", "qt5", "Other Name"),
                                            WindowRequest("Alert", accessible_role="alert"),
                                            ("Chooser", "gtk3", "Open File", "file chooser")])
    try:
        frames = [virtual_desktop.accessible_frames(window.process.pid) for window in windows]
        # Qt names a window by its title when its accessible name is empty.
        assert frames == [[""], [""], ["Unnamed Qt"], ["Other Name"], ["Alert"], ["Open File"]]
        assert virtual_desktop.xdotool("getwindowname", windows[3].window_id) == "Renamed Qt"
        assert accessibles(virtual_desktop, windows[4].process.pid)[1] == ("alert", "Alert")
        assert accessibles(virtual_desktop, windows[5].process.pid)[1] == ("file chooser", "Open File")
    finally:
        for window in windows:
            window.close()
