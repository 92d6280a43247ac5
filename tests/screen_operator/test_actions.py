"""Dispatch and the input actions, through a recording stand-in for pyautogui."""

from __future__ import annotations

import logging
import sys

import pytest


@pytest.fixture
def full_hd(screen):
    return screen(1920, 1080)


@pytest.fixture
def unscaled(screen):
    return screen(1280, 800)


def text(result):
    assert result["type"] == "text", result
    assert list(result) == ["type", "text"]
    return result["text"]


def error(result):
    assert result["type"] == "error", result
    assert list(result) == ["type", "error"]
    return result["error"]


@pytest.mark.parametrize("action, call, kwargs, message", [
    ("left_click", "click", {}, "Clicked at (671, 402)"),
    ("right_click", "rightClick", {}, "Right-clicked at (671, 402)"),
    ("middle_click", "middleClick", {}, "Middle-clicked at (671, 402)"),
    ("double_click", "doubleClick", {}, "Double-clicked at (671, 402)"),
    ("triple_click", "click", {"clicks": 3}, "Triple-clicked at (671, 402)"),
    ("mouse_move", "moveTo", {"duration": 0.3}, "Moved cursor to (671, 402)"),
])
def test_pointer_actions_act_at_screen_coordinates(full_hd, gui, action, call, kwargs, message):
    assert text(full_hd.execute_action(action, coordinate=[500, 300])) == message
    assert gui.calls == [(call, (671, 402), kwargs)]


@pytest.mark.parametrize("coordinate", ["missing", None, [], [1, 2, 3]])
@pytest.mark.parametrize("action", ["left_click", "right_click", "middle_click", "double_click",
                                    "triple_click", "mouse_move"])
def test_pointer_actions_need_two_coordinates_before_loading_pyautogui(full_hd, monkeypatch, action, coordinate):
    monkeypatch.setitem(sys.modules, "pyautogui", None)
    params = {} if coordinate == "missing" else {"coordinate": coordinate}
    assert error(full_hd.execute_action(action, **params)) == f"{action} requires coordinate [x, y]"


def test_unscaled_clicks_truncate_and_pass_through(unscaled, gui):
    assert text(unscaled.execute_action("left_click", coordinate=[500.9, 300.2])) == "Clicked at (500, 300)"
    assert gui.calls == [("click", (500, 300), {})]


def test_wrong_types_fail_the_action_not_the_host(full_hd, gui, caplog):
    result = full_hd.execute_action("left_click", coordinate=["500", "300"])
    assert error(result) == ("Action left_click failed: Argument 'api_x' has incorrect type "
                             "(expected int, got str)")
    assert error(full_hd.execute_action("left_click", coordinate=(1, 2))).startswith(
        "Action left_click failed: Argument 'coordinate' has incorrect type (expected list, got tuple)")
    assert error(full_hd.execute_action("type", text=None)).startswith("Action type failed: Argument 'text'")
    assert error(full_hd.execute_action("scroll", amount="3")).startswith("Action scroll failed: Argument 'amount'")
    assert error(full_hd.execute_action("wait", duration="1")).startswith("Action wait failed: Argument 'duration'")
    assert gui.calls == []
    assert [r.getMessage() for r in caplog.records if r.levelno == logging.ERROR][:1] == ["Action left_click failed"]
    assert caplog.records[-1].exc_info is not None


def test_unknown_and_misnamed(full_hd, gui, caplog):
    assert error(full_hd.execute_action("zoom")) == "Unknown action: zoom"
    assert error(full_hd.execute_action("")) == "Unknown action: "
    assert not [r for r in caplog.records if r.levelno >= logging.ERROR]
    assert error(full_hd.execute_action("scroll", speed=3)) == (
        "Action scroll failed: _action_scroll() got an unexpected keyword argument 'speed'")
    assert error(full_hd.execute_action("left_mouse_up", coordinate=[1, 2])) == (
        "Action left_mouse_up failed: _action_left_mouse_up() got an unexpected keyword argument 'coordinate'")
    assert error(full_hd.execute_action(action="screenshot", region=[0, 0, 1, 1])).endswith(
        "_action_screenshot() got an unexpected keyword argument 'region'")


def test_only_a_non_string_action_raises(full_hd):
    with pytest.raises(TypeError, match=r"Argument 'action' has incorrect type \(expected str, got int\)"):
        full_hd.execute_action(5)
    with pytest.raises(TypeError):
        full_hd.execute_action(None, coordinate=[1, 2])
    with pytest.raises(TypeError, match="execute_action"):
        full_hd.execute_action()


def test_errors_of_the_input_layer_are_results(full_hd, gui):
    gui.failures["click"] = RuntimeError("X connection lost")
    assert error(full_hd.execute_action("left_click", coordinate=[1, 1])) == "Action left_click failed: X connection lost"


def test_a_patched_handler_is_dispatched(full_hd):
    full_hd._action_zoom = lambda factor=2: {"type": "text", "text": f"zoomed {factor}"}
    assert text(full_hd.execute_action("zoom", factor=3)) == "zoomed 3"


def test_handlers_are_callable_by_keyword_with_their_defaults(full_hd, gui, sleeps):
    assert text(full_hd._action_scroll()) == "Scrolled down by 3"
    assert text(full_hd._action_wait()) == "Waited 1.0s"
    assert text(full_hd._action_hold_key(text="a")) == "Held a for 0.5s"
    assert error(full_hd._action_type()) == "type requires text parameter"
    with pytest.raises(TypeError, match="got an unexpected keyword argument 'speed'"):
        full_hd._action_scroll(speed=1)


def test_drag(full_hd, gui):
    assert error(full_hd.execute_action("left_click_drag")) == "left_click_drag requires start_coordinate [x, y]"
    assert error(full_hd.execute_action("left_click_drag", start_coordinate=[1, 2])) == (
        "left_click_drag requires coordinate [x, y]")
    assert text(full_hd.execute_action("left_click_drag", start_coordinate=[100, 100], coordinate=[500, 300])) == (
        "Dragged from (134, 134) to (671, 402)")
    assert gui.calls == [("moveTo", (134, 134), {"duration": 0.1}), ("mouseDown", (), {}),
                         ("moveTo", (671, 402), {"duration": 0.5}), ("mouseUp", (), {})]


def test_drag_releases_the_button_when_the_move_fails(full_hd, gui):
    record_move = gui.moveTo

    def move(*args, **kwargs):
        record_move(*args, **kwargs)
        if gui.names().count("moveTo") == 2:  # the move to the end of the drag
            raise RuntimeError("pointer grab failed")

    gui.moveTo = move
    result = full_hd.execute_action("left_click_drag", start_coordinate=[1, 1], coordinate=[2, 2])
    assert error(result) == "Action left_click_drag failed: pointer grab failed"
    assert gui.names() == ["moveTo", "mouseDown", "moveTo", "mouseUp"]


@pytest.mark.parametrize("system_name, paste", [("Linux", ("ctrl", "v")), ("Darwin", ("command", "v")),
                                                ("Windows", ("ctrl", "v"))])
def test_type_pastes_through_the_clipboard(full_hd, gui, sleeps, monkeypatch, system, system_name, paste):
    copied = []
    monkeypatch.setitem(sys.modules, "pyperclip", type(sys)("pyperclip"))
    sys.modules["pyperclip"].copy = copied.append
    system(system_name)
    assert text(full_hd.execute_action("type", text="héllo wörld")) == "Typed: héllo wörld"
    assert copied == ["héllo wörld"]
    assert gui.calls == [("hotkey", paste, {})]
    assert sleeps == [0.1]


def test_type_falls_back_to_keystrokes_without_pyperclip(full_hd, gui, sleeps, monkeypatch):
    monkeypatch.setitem(sys.modules, "pyperclip", None)
    long_text = "x" * 51
    assert text(full_hd.execute_action("type", text=long_text)) == "Typed: " + "x" * 50 + "..."
    assert gui.calls == [("write", (long_text,), {"interval": 0.02})]
    assert text(full_hd.execute_action("type", text="y" * 50)) == "Typed: " + "y" * 50
    assert sleeps == []


def test_type_reports_a_clipboard_that_cannot_be_reached(full_hd, gui, monkeypatch):
    clipboard = type(sys)("pyperclip")

    def copy(_):
        raise RuntimeError("no clipboard mechanism")

    clipboard.copy = copy
    monkeypatch.setitem(sys.modules, "pyperclip", clipboard)
    assert error(full_hd.execute_action("type", text="a")) == "Action type failed: no clipboard mechanism"
    assert gui.calls == []


@pytest.mark.parametrize("given, call, message", [
    ("ctrl+shift+t", ("hotkey", ("ctrl", "shift", "t")), "Pressed: ctrl+shift+t"),
    ("Control_L + a", ("hotkey", ("ctrl", "a")), "Pressed: ctrl+a"),
    ("super+Page_Up", ("hotkey", ("win", "pageup")), "Pressed: win+pageup"),
    ("+", ("hotkey", ("", "")), "Pressed: +"),
    ("Page_Down", ("press", ("pagedown",)), "Pressed: pagedown"),
    ("Return", ("press", ("enter",)), "Pressed: enter"),
    ("F5", ("press", ("f5",)), "Pressed: f5"),
    ("Control_R", ("press", ("control_r",)), "Pressed: control_r"),
    (" Tab", ("press", (" tab",)), "Pressed:  tab"),
    ("ÄRGER", ("press", ("ärger",)), "Pressed: ärger"),
])
def test_keys(full_hd, gui, given, call, message):
    assert text(full_hd.execute_action("key", text=given)) == message
    assert gui.calls == [(*call, {})]


def test_keys_on_macos_use_command_in_combinations_only(full_hd, gui, system):
    system("Darwin")
    assert text(full_hd.execute_action("key", text="ctrl+shift+t")) == "Pressed: command+shift+t"
    assert text(full_hd.execute_action("key", text="Control_L+c")) == "Pressed: command+c"
    assert text(full_hd.execute_action("key", text="ctrl")) == "Pressed: ctrl"
    assert error(full_hd.execute_action("key")) == "key requires text parameter"


@pytest.mark.parametrize("params, call, message", [
    ({}, ("scroll", (-3,)), "Scrolled down by 3"),
    ({"direction": "up", "amount": 2}, ("scroll", (2,)), "Scrolled up by 2"),
    ({"direction": "left", "amount": 5}, ("hscroll", (-5,)), "Scrolled left by 5"),
    ({"direction": "right", "amount": 4.7}, ("hscroll", (4,)), "Scrolled right by 4"),
    ({"direction": "sideways"}, ("scroll", (-3,)), "Scrolled sideways by 3"),
    ({"coordinate": [1, 2, 3]}, ("scroll", (-3,)), "Scrolled down by 3"),
])
def test_scroll(full_hd, gui, params, call, message):
    assert text(full_hd.execute_action("scroll", **params)) == message
    assert gui.calls == [(*call, {})]


def test_scroll_and_button_down_move_there_first(full_hd, gui):
    full_hd.execute_action("scroll", coordinate=[500, 300], direction="up", amount=1)
    assert text(full_hd.execute_action("left_mouse_down", coordinate=[500, 300])) == "Left mouse button down"
    assert text(full_hd.execute_action("left_mouse_down")) == "Left mouse button down"
    assert text(full_hd.execute_action("left_mouse_up")) == "Left mouse button up"
    assert gui.calls == [("moveTo", (671, 402), {"duration": 0.1}), ("scroll", (1,), {}),
                         ("moveTo", (671, 402), {"duration": 0.1}), ("mouseDown", (), {}),
                         ("mouseDown", (), {}), ("mouseUp", (), {})]


@pytest.mark.parametrize("duration, slept, message", [
    (30, 10.0, "Waited 10.0s"), (2, 2.0, "Waited 2.0s"), (2.5, 2.5, "Waited 2.5s"), (True, 1.0, "Waited 1.0s")])
def test_wait(full_hd, sleeps, duration, slept, message):
    assert text(full_hd.execute_action("wait", duration=duration)) == message
    assert sleeps == [slept]


def test_wait_with_a_negative_duration_fails(full_hd, sleeps):
    assert error(full_hd.execute_action("wait", duration=-1)) == "Action wait failed: sleep length must be non-negative"


def test_hold_key(full_hd, gui, sleeps):
    assert text(full_hd.execute_action("hold_key", text="Shift", duration=8)) == "Held shift for 8.0s"
    assert gui.calls == [("keyDown", ("shift",), {}), ("keyUp", ("shift",), {})]
    assert sleeps == [5.0]
    assert text(full_hd.execute_action("hold_key", text="Return")) == "Held return for 0.5s"
    assert error(full_hd.execute_action("hold_key", text="")) == "hold_key requires text parameter"


@pytest.mark.parametrize("duration", [-1, float("nan")])
def test_hold_key_releases_the_key_when_the_hold_fails(full_hd, gui, sleeps, duration):
    result = full_hd.execute_action("hold_key", text="shift", duration=duration)
    assert error(result) == "Action hold_key failed: sleep length must be non-negative"
    assert gui.calls == [("keyDown", ("shift",), {}), ("keyUp", ("shift",), {})]


def test_hold_key_release_failure_keeps_the_first_error(full_hd, gui, sleeps, caplog):
    gui.failures["keyUp"] = RuntimeError("release lost")
    result = full_hd.execute_action("hold_key", text="a", duration=-1)
    assert error(result) == "Action hold_key failed: sleep length must be non-negative"
    [release] = [r for r in caplog.records if r.levelname == "WARNING"]
    assert release.getMessage() == "Could not release what a failed action left pressed"
    assert str(release.exc_info[1]) == "release lost"


def test_cursor_position_in_api_coordinates(screen, gui):
    gui.pointer = (1919, 1079)
    assert text(screen(1920, 1080).execute_action("cursor_position")) == "Cursor position: (1429, 803)"
    gui.pointer = (5000, -3)
    assert text(screen(1280, 800).execute_action("cursor_position")) == "Cursor position: (5000, -3)"


def test_input_actions_without_pyautogui_fail_cleanly(full_hd, monkeypatch):
    monkeypatch.setitem(sys.modules, "pyautogui", None)
    for action in ("scroll", "left_mouse_down", "left_mouse_up", "cursor_position"):
        assert error(full_hd.execute_action(action)).startswith(f"Action {action} failed: ")
