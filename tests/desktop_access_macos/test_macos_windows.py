"""The focused window, the window list and focusing a window on macOS."""

import pytest

from macos_fakes import FOCUS, FRONTMOST, WINDOW_LIST, WINDOW_NAME, run


class TestFocusedWindow:
    def test_process_and_its_first_window(self, mac, osascript, time_limits):
        osascript.answer(FRONTMOST, "Notes\n")
        osascript.answer(WINDOW_NAME, "Shopping list\n")
        assert run(mac.get_focused_window()) == {"success": True, "app": "Notes", "title": "Shopping list"}
        assert osascript.scripts()[1] == 'tell application "System Events" to get name of window 1 of process "Notes"'
        assert time_limits.asked == [5, 5]

    def test_window_without_a_name_is_named_by_its_process(self, mac, osascript):
        osascript.answer(FRONTMOST, "Finder")
        osascript.answer(WINDOW_NAME, "")
        assert run(mac.get_focused_window()) == {"success": True, "app": "Finder", "title": "Finder"}

    def test_no_frontmost_process(self, mac, osascript):
        osascript.answer(FRONTMOST, "")
        assert run(mac.get_focused_window()) == {"success": False, "error": "No frontmost application found"}
        assert len(osascript.calls()) == 1

    def test_time_limit(self, mac, osascript, time_limits):
        osascript.answer(FRONTMOST, "Notes")
        osascript.sleep(WINDOW_NAME)
        assert run(mac.get_focused_window()) == {"success": False, "error": "osascript timed out after 5 seconds"}


class TestWindowList:
    def test_lines_of_process_and_window(self, mac, osascript, time_limits):
        osascript.answer(WINDOW_LIST, "Notes|Shopping list\nno bar here\n Finder | Downloads \nTerminal|\n"
                                      "Mail|Inbox | 3 new\n\n")
        assert run(mac.list_windows()) == {"success": True, "windows": [
            {"app": "Notes", "title": "Shopping list"},
            {"app": "Finder", "title": "Downloads"},
            {"app": "Terminal", "title": ""},
            {"app": "Mail", "title": "Inbox | 3 new"},
        ], "count": 4}
        assert time_limits.asked == [10]
        assert 'set output to output & my oneLine(pName) & "|" & my oneLine(name of w) & linefeed' in \
            osascript.script(WINDOW_LIST)

    def test_nothing_visible(self, mac, osascript):
        osascript.answer(WINDOW_LIST, "")
        assert run(mac.list_windows()) == {"success": True, "windows": [], "count": 0}

    def test_osascript_missing(self, mac, monkeypatch, tmp_path):
        monkeypatch.setenv("PATH", str(tmp_path))
        assert run(mac.list_windows()) == {"success": False,
                                           "error": "[Errno 2] No such file or directory: 'osascript'"}


class TestFocus:
    def test_focused(self, mac, osascript, time_limits):
        osascript.answer(FOCUS, "Notes\n")
        assert run(mac.focus_window("Shopping")) == {"success": True, "window": "Shopping", "app": "Notes"}
        assert ('if name of w contains "Shopping" then\nset frontmost of p to true\nreturn name of p'
                in osascript.script(FOCUS))
        assert time_limits.asked == [10]

    def test_no_window_matching(self, mac, osascript):
        osascript.answer(FOCUS, "")
        assert run(mac.focus_window("Budget")) == {"success": False, "error": "No window matching: Budget"}

    def test_time_limit(self, mac, osascript, time_limits):
        osascript.sleep(FOCUS)
        assert run(mac.focus_window("x")) == {"success": False, "error": "osascript timed out after 10 seconds"}

    def test_title_must_be_text(self, mac):
        with pytest.raises(TypeError, match="Argument 'title' has incorrect type"):
            mac._focus_window_macos(None)
