"""Each piece of the virtual desktop answers: X and the window manager, AT-SPI, capture."""

import subprocess

from PIL import Image

WALK_FOR_SAVE = """
import gi
gi.require_version('Atspi', '2.0')
from gi.repository import Atspi
desktop = Atspi.get_desktop(0)
stack = [desktop.get_child_at_index(i) for i in range(desktop.get_child_count())]
while stack:
    node = stack.pop()
    if node.get_role_name() == 'push button' and node.get_name() == 'Save':
        print('found')
        break
    stack.extend(node.get_child_at_index(i) for i in range(node.get_child_count()))
"""


def test_window_manager_reports_the_focused_test_window(test_window, virtual_desktop):
    assert virtual_desktop.active_window_name() == "Editor Test"
    assert virtual_desktop.xdotool("getactivewindow") == test_window.window_id


def test_accessibility_walk_under_the_system_python_sees_the_save_button(test_window, virtual_desktop):
    # "python3" on the desktop's PATH is the interpreter with the AT-SPI bindings.
    output = subprocess.run(["python3", "-c", WALK_FOR_SAVE], env=virtual_desktop.env, capture_output=True,
                            text=True, timeout=30)
    assert output.stdout.strip() == "found", output.stderr


def test_scrot_captures_the_whole_screen(virtual_desktop, tmp_path):
    with Image.open(virtual_desktop.scrot(tmp_path / "screen.png")) as image:
        assert image.size == (1920, 1080)


def test_clicks_and_keys_reach_the_test_window(test_window, virtual_desktop):
    x, y = test_window.center_of("Save")
    virtual_desktop.xdotool("mousemove", str(x), str(y), "click", "1")
    assert test_window.wait_for(lambda s: s["clicks"]["Save"] == 1)["clicks"]["Save"] == 1
    assert virtual_desktop.pointer() == (x, y)
    virtual_desktop.xdotool("key", "a")
    assert "a" in test_window.wait_for(lambda s: "a" in s["keys"])["keys"]


def test_a_second_window_takes_the_focus(test_window, virtual_desktop):
    second = virtual_desktop.open_test_window("Second Window")
    try:
        assert virtual_desktop.active_window_name() == "Second Window"
        virtual_desktop.xdotool("windowactivate", "--sync", test_window.window_id)
        assert virtual_desktop.active_window_name() == "Editor Test"
    finally:
        second.close()


def test_pointer_events_are_recorded_once(test_window, virtual_desktop):
    x, y = test_window.center_of("Ready")
    virtual_desktop.xdotool("mousemove", str(x), str(y), "click", "1")
    pointer = test_window.wait_for(lambda s: any(e["kind"] == "release" for e in s["pointer"]))["pointer"]
    assert [(e["kind"], e["button"]) for e in pointer] == [("press", 1), ("release", 1)]
