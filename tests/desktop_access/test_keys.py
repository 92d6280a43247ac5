"""press_key and scroll_window on each platform, with the platform's input stood in for."""

import asyncio
import sys
import threading
import types

import pytest

from nebrix.pc.desktop_access import _macos_keycode


def run(coroutine):
    return asyncio.run(coroutine)


@pytest.fixture
def windows(access, monkeypatch):
    """Windows with pywinauto: send_keys records its text and the thread it ran on."""
    monkeypatch.setattr("nebrix.pc.desktop_access.SYSTEM", "Windows")
    access._pywinauto_available = True
    sent = []
    keyboard = types.ModuleType("pywinauto.keyboard")
    keyboard.send_keys = lambda text: sent.append((text, threading.current_thread()))
    package = types.ModuleType("pywinauto")
    package.keyboard = keyboard
    monkeypatch.setitem(sys.modules, "pywinauto", package)
    monkeypatch.setitem(sys.modules, "pywinauto.keyboard", keyboard)
    return access, sent


@pytest.fixture
def macos(access, monkeypatch, programs):
    monkeypatch.setattr("nebrix.pc.desktop_access.SYSTEM", "Darwin")
    access._macos_available = True
    programs.printing("osascript", "ignored output", status=1)
    return access, programs


@pytest.fixture
def fake_pyautogui(access, monkeypatch):
    calls = []
    module = types.ModuleType("pyautogui")
    for name in ("press", "hotkey", "scroll", "hscroll"):
        setattr(module, name, lambda *args, _name=name: calls.append((_name, args)))
    monkeypatch.setitem(sys.modules, "pyautogui", module)
    access._pyautogui_available = True
    return access, calls


class TestWindows:
    @pytest.mark.parametrize("key, text", [
        ("ctrl+a", "^a"), ("Ctrl+A", "^a"), ("ctrl+shift+s", "^+s"), ("alt+f4", "%{F4}"), ("ctrl+enter", "^{ENTER}"),
        ("control+win+windows+d", "^##d"), ("hyper+a", "a"), ("ctrl + a", " a"), ("+", ""),
        ("enter", "{ENTER}"), ("PageDown", "{PGDN}"), ("space", " "), ("A", "A"), ("F12", "F12"),
    ])
    def test_send_keys_text(self, windows, key, text):
        access, sent = windows
        assert run(access.press_key(key)) == {"success": True, "action": "key_press", "key": key}
        assert [entry[0] for entry in sent] == [text]

    def test_send_keys_runs_in_the_executor(self, windows):
        access, sent = windows
        run(access.press_key("tab"))
        assert sent[0][1] is not threading.main_thread()

    def test_without_pywinauto_keys_go_through_pyautogui(self, fake_pyautogui, monkeypatch):
        access, calls = fake_pyautogui
        monkeypatch.setattr("nebrix.pc.desktop_access.SYSTEM", "Windows")
        run(access.press_key("ctrl+a"))
        assert calls == [("hotkey", ("ctrl", "a"))]

    def test_a_failing_send_keys_is_reported(self, windows):
        access, _ = windows
        sys.modules["pywinauto.keyboard"].send_keys = lambda text: (_ for _ in ()).throw(OSError("no desktop"))
        assert run(access.press_key("a")) == {"success": False, "error": "no desktop"}


class TestMacos:
    @pytest.mark.parametrize("key, script", [
        ("cmd+shift+c", 'keystroke "c" using {command down, shift down}'),
        ("ctrl+a", 'keystroke "a" using {control down}'),
        ("super+alt+enter", 'keystroke "enter" using {command down, option down}'),
        ("hyper+a", 'keystroke "a" using {}'),
        ("Enter", "key code 36"), ("delete", "key code 51"), ("space", "key code 49"), ("up", "key code 126"),
        ("home", 'keystroke "home"'), ("F1", 'keystroke "f1"'), ("X", 'keystroke "x"'),
        ('"', 'keystroke "\\""'), ('a" & (do shell script "x") & "', 'keystroke "a\\" & (do shell script \\"x\\") & \\""'),
        ("ctrl+\\", 'keystroke "\\\\" using {control down}'),
    ])
    def test_one_applescript_line(self, macos, key, script):
        access, programs = macos
        assert run(access.press_key(key)) == {"success": True, "action": "key_press", "key": key}
        assert programs.calls("osascript") == [["-e", 'tell application "System Events" to ' + script]]

    def test_osascript_missing_is_reported(self, macos):
        access, programs = macos
        (programs.bin / "osascript").unlink()
        assert run(access.press_key("a")) == {"success": False,
                                              "error": "[Errno 2] No such file or directory: 'osascript'"}

    def test_pyautogui_fallback_turns_ctrl_into_command(self, fake_pyautogui, monkeypatch):
        access, calls = fake_pyautogui
        monkeypatch.setattr("nebrix.pc.desktop_access.SYSTEM", "Darwin")
        run(access.press_key("Ctrl+Shift+Z"))
        assert calls == [("hotkey", ("command", "shift", "z"))]

    @pytest.mark.parametrize("key, code", [
        ("return", 36), ("ENTER", 36), ("tab", 48), ("space", 49), ("backspace", 51), ("delete", 51), ("escape", 53),
        ("up", 126), ("down", 125), ("left", 123), ("right", 124), ("home", 115), ("end", 119), ("pageup", 116),
        ("pagedown", 121), ("f1", 122), ("f2", 120), ("f3", 99), ("f4", 118), ("f5", 96), ("f6", 36), ("", 36),
    ])
    def test_macos_keycode(self, key, code):
        assert _macos_keycode(key) == code

    def test_macos_keycode_takes_only_text(self):
        with pytest.raises(TypeError, match=r"Argument 'key' has incorrect type \(expected str, got int\)"):
            _macos_keycode(36)


class TestPyautogui:
    @pytest.mark.parametrize("key, call", [
        ("ctrl+a", ("hotkey", ("ctrl", "a"))), ("Ctrl+Shift+T", ("hotkey", ("ctrl", "shift", "t"))),
        ("Enter", ("press", ("enter",))), ("+", ("hotkey", ("", ""))),
    ])
    def test_linux_keys(self, fake_pyautogui, linux, key, call):
        access, calls = fake_pyautogui
        assert run(access.press_key(key)) == {"success": True, "action": "key_press", "key": key}
        assert calls == [call]

    @pytest.mark.parametrize("key, call", [
        ("Page_Down", ("press", ("pagedown",))), ("ctrl+Page_Up", ("hotkey", ("ctrl", "pageup"))),
        ("Control_L+KP_1", ("hotkey", ("ctrlleft", "num1"))), ("Return", ("press", ("return",))),
        ("BackSpace", ("press", ("backspace",))), ("Escape", ("press", ("escape",))), ("a", ("press", ("a",))),
    ])
    def test_linux_x_key_names_against_the_key_list(self, fake_pyautogui, linux, key, call):
        access, calls = fake_pyautogui
        sys.modules["pyautogui"].KEYBOARD_KEYS = ["pagedown", "pageup", "ctrl", "ctrlleft", "num1", "return",
                                                  "backspace", "escape", "a", "+"]
        assert run(access.press_key(key)) == {"success": True, "action": "key_press", "key": key}
        assert calls == [call]

    @pytest.mark.parametrize("key, unknown", [("Page_Dwn", "Page_Dwn"), ("ctrl+Hyper_Q", "Hyper_Q"), ("+", "")])
    def test_linux_refuses_a_key_pyautogui_does_not_know(self, fake_pyautogui, linux, key, unknown):
        access, calls = fake_pyautogui
        sys.modules["pyautogui"].KEYBOARD_KEYS = ["ctrl", "+"]
        assert run(access.press_key(key)) == {"success": False, "error": f'Unknown key: "{unknown}"'}
        assert calls == []

    def test_other_platforms_pass_unknown_keys_on(self, fake_pyautogui, monkeypatch):
        access, calls = fake_pyautogui
        sys.modules["pyautogui"].KEYBOARD_KEYS = []
        monkeypatch.setattr("nebrix.pc.desktop_access.SYSTEM", "Darwin")
        assert run(access.press_key("Page_Down"))["success"]
        assert calls == [("press", ("page_down",))]

    def test_no_input_method(self, access, linux):
        assert run(access.press_key("a")) == {"success": False, "error": "No keyboard input method available"}

    @pytest.mark.parametrize("args, call", [
        ((), ("scroll", -3)), (("up", 5), ("scroll", 5)), (("down", 2.9), ("scroll", -2)), (("left",), ("hscroll", -3)),
        (("right", 2), ("hscroll", 2)), (("up", -4), ("scroll", -4)), (("sideways", -1), ("scroll", 1))])
    def test_scroll(self, fake_pyautogui, linux, args, call):
        access, calls = fake_pyautogui
        result = run(access.scroll_window(*args))
        direction, amount = (list(args) + ["down", 3][len(args):])[:2]
        assert result == {"success": True, "action": "scroll", "direction": direction, "amount": int(amount),
                          "hint": "Take a desktop_snapshot() to see the updated state."}
        assert calls == [(call[0], (call[1],))]

    @pytest.mark.parametrize("system", ["Windows", "Darwin"])
    def test_other_platforms_scroll_left_and_right_down(self, fake_pyautogui, monkeypatch, system):
        access, calls = fake_pyautogui
        monkeypatch.setattr("nebrix.pc.desktop_access.SYSTEM", system)
        run(access.scroll_window("left"))
        run(access.scroll_window("right", 1))
        assert calls == [("scroll", (-3,)), ("scroll", (-1,))]

    def test_errors_of_pyautogui_are_reported(self, fake_pyautogui, linux):
        access, _ = fake_pyautogui

        def fail(*args):
            raise RuntimeError("PyAutoGUI fail-safe triggered")

        sys.modules["pyautogui"].scroll = fail
        sys.modules["pyautogui"].press = fail
        assert run(access.scroll_window()) == {"success": False, "error": "PyAutoGUI fail-safe triggered"}
        assert run(access.press_key("a")) == {"success": False, "error": "PyAutoGUI fail-safe triggered"}
