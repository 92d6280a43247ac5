"""The actions on the real virtual desktop (1920x1080, scaled to 1429x804 for the model):
real pyautogui, pyperclip and Pillow, read back through X and the GTK test window."""

from __future__ import annotations

import base64
import io
import sys

import pytest
from PIL import Image, ImageChops, ImageStat

from nebrix.pc.screen_operator import ScreenOperatorExecutor

pytestmark = pytest.mark.desktop

FACTOR = 1429 / 1920  # close enough to place API points; the executor uses its own


@pytest.fixture
def executor(virtual_desktop) -> ScreenOperatorExecutor:
    # Away from the corners, where pyautogui's fail-safe would stop every action.
    virtual_desktop.xdotool("mousemove", "960", "540")
    executor = ScreenOperatorExecutor()
    assert executor.get_display_info()["api_width"] == 1429  # detected through the host's platform_utils
    return executor


@pytest.fixture
def held(virtual_desktop):
    """held(): the keys and left button the X server has down right now."""
    from Xlib import X, display

    connection = display.Display()

    def now() -> tuple[list[int], bool]:
        keymap = connection.query_keymap()
        keys = [byte * 8 + bit for byte, bits in enumerate(keymap) for bit in range(8) if bits & (1 << bit)]
        button = bool(connection.screen().root.query_pointer().mask & X.Button1Mask)
        return keys, button

    yield now
    connection.close()


def api_point(screen_point: tuple[int, int]) -> list[int]:
    return [int(screen_point[0] * FACTOR), int(screen_point[1] * FACTOR)]


def empty_spot(window) -> tuple[int, int]:
    """A point of the window below its last widget, where the window itself gets the pointer."""
    x, y, width, height = window.state()["geometry"]["slider"]
    return x + width // 2, y + height + 30


def done(result) -> str:
    assert result["type"] == "text", result
    return result["text"]


def test_left_click_lands_on_the_scaled_screen_point(executor, virtual_desktop):
    assert done(executor.execute_action("left_click", coordinate=[1200, 700])) == "Clicked at (1611, 939)"
    assert virtual_desktop.pointer() == (1611, 939)


def test_clicking_save_by_api_coordinates(executor, test_window):
    point = api_point(test_window.center_of("Save"))
    executor.execute_action("left_click", coordinate=point)
    assert test_window.wait_for(lambda s: s["clicks"]["Save"] == 1)["clicks"]["Save"] == 1


def test_typing_through_the_clipboard_and_keys(executor, test_window):
    executor.execute_action("left_click", coordinate=api_point(test_window.center_of("entry")))
    assert done(executor.execute_action("key", text="ctrl+a")) == "Pressed: ctrl+a"
    assert done(executor.execute_action("type", text="wörld 42")) == "Typed: wörld 42"
    test_window.wait_for(lambda s: s["entry"] == "wörld 42", what="the pasted text")
    executor.execute_action("key", text="End")
    executor.execute_action("key", text="BackSpace")
    test_window.wait_for(lambda s: s["entry"] == "wörld 4", what="the text after BackSpace")


def test_typing_keystrokes_without_pyperclip(executor, test_window, monkeypatch):
    monkeypatch.setitem(sys.modules, "pyperclip", None)
    executor.execute_action("triple_click", coordinate=api_point(test_window.center_of("entry")))
    executor.execute_action("key", text="Delete")
    test_window.wait_for(lambda s: s["entry"] == "", what="the entry to clear")
    assert done(executor.execute_action("type", text="abc")) == "Typed: abc"
    test_window.wait_for(lambda s: s["entry"] == "abc", what="the typed text")


def test_scrolling_over_the_window(executor, test_window):
    spot = api_point(empty_spot(test_window))
    assert done(executor.execute_action("scroll", coordinate=spot, direction="down", amount=2)) == "Scrolled down by 2"
    executor.execute_action("scroll", direction="left", amount=1)
    state = test_window.wait_for(lambda s: "down" in s["scrolls"] and "left" in s["scrolls"], what="scrolls")
    assert state["scrolls"].count("down") == 2


def test_drag_and_button_down_up(executor, test_window, virtual_desktop, held):
    x, y = empty_spot(test_window)
    start, end = api_point((x - 100, y)), api_point((x + 100, y))
    executor.execute_action("left_click_drag", start_coordinate=start, coordinate=end)
    assert virtual_desktop.pointer() == executor._to_screen_coords(*end)
    events = test_window.wait_for(lambda s: any(e["kind"] == "release" for e in s["pointer"]),
                                  what="the drag")["pointer"]
    press = next(e for e in events if e["kind"] == "press")
    release = next(e for e in events if e["kind"] == "release")
    assert (press["button"], press["x"]) == (1, executor._to_screen_coords(*start)[0])
    assert (release["button"], release["x"]) == (1, executor._to_screen_coords(*end)[0])

    assert done(executor.execute_action("left_mouse_down", coordinate=start)) == "Left mouse button down"
    assert held()[1]
    assert done(executor.execute_action("left_mouse_up")) == "Left mouse button up"
    assert not held()[1]


def test_drag_releases_the_button_when_it_cannot_finish(executor, virtual_desktop, held, monkeypatch):
    import pyautogui

    assert not held()[1]
    real_move = pyautogui.moveTo

    def move(x, y, duration=0.0):
        if duration == 0.5:  # the move to the end of the drag
            raise pyautogui.FailSafeException("stopped")
        real_move(x, y, duration=duration)

    monkeypatch.setattr(pyautogui, "moveTo", move)
    result = executor.execute_action("left_click_drag", start_coordinate=[600, 400], coordinate=[700, 400])
    assert result == {"type": "error", "error": "Action left_click_drag failed: stopped"}
    assert not held()[1]


def test_cursor_position_round_trip(executor, virtual_desktop):
    assert done(executor.execute_action("mouse_move", coordinate=[500, 300])) == "Moved cursor to (671, 402)"
    assert virtual_desktop.pointer() == (671, 402)
    assert done(executor.execute_action("cursor_position")) == "Cursor position: (499, 299)"


def test_hold_key_holds_then_releases(executor, test_window, held):
    before = held()
    assert done(executor.execute_action("hold_key", text="Shift", duration=0.3)) == "Held shift for 0.3s"
    assert "Shift_L" in test_window.wait_for(lambda s: "Shift_L" in s["keys"], what="shift")["keys"]
    assert held() == before


def test_hold_key_with_a_bad_duration_does_not_leave_the_key_down(executor, test_window, held):
    before = held()
    result = executor.execute_action("hold_key", text="shift", duration=-1)
    assert result["error"] == "Action hold_key failed: sleep length must be non-negative"
    assert held() == before


def decoded(result) -> Image.Image:
    assert result["type"] == "image", result
    image = Image.open(io.BytesIO(base64.b64decode(result["base64"])))
    image.load()
    return image


def assert_shows_the_screen(image, virtual_desktop, tmp_path):
    with Image.open(virtual_desktop.scrot(tmp_path / "reference.png")) as reference:
        expected = reference.convert("RGB").resize((1429, 804), resample=Image.Resampling.BICUBIC)
    difference = ImageStat.Stat(ImageChops.difference(image.convert("RGB"), expected)).mean
    assert max(difference) < 2.0, difference


@pytest.fixture
def home(monkeypatch, tmp_path):
    monkeypatch.setenv("HOME", str(tmp_path))
    monkeypatch.chdir(tmp_path)  # pyscreeze writes its temporary capture in the working directory
    return tmp_path


def test_screenshot_shows_the_screen(executor, test_window, virtual_desktop, home, monkeypatch):
    import pyscreeze

    # As in an X11 session; the rig's environment does not say which kind of session it is.
    monkeypatch.setattr(pyscreeze, "RUNNING_X11", True)
    image = decoded(executor.execute_action("screenshot"))
    assert image.size == (1429, 804)
    assert_shows_the_screen(image, virtual_desktop, home)
    latest = home / ".nebrix" / "screenshots" / "latest.png"
    with Image.open(latest) as on_disk:
        assert on_disk.tobytes() == image.tobytes()
    assert executor.get_display_info()["last_screenshot"] == str(latest)


def test_scrot_fallback_without_pyautogui(executor, test_window, virtual_desktop, home, monkeypatch):
    monkeypatch.setitem(sys.modules, "pyautogui", None)
    image = decoded(executor.execute_action("screenshot"))
    assert image.size == (1429, 804)
    assert_shows_the_screen(image, virtual_desktop, home)
    with Image.open(home / ".nebrix" / "screenshots" / "latest.png") as on_disk:
        assert on_disk.size == (1429, 804)
