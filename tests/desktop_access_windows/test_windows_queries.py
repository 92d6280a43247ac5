"""The Windows window queries: focused window, visible windows, focus by title."""

import asyncio
import re
import sys

import pytest

from windows_fakes import Node


def run(coroutine):
    return asyncio.run(coroutine)


@pytest.fixture
def desktop(screen):
    screen.add_window("Quarterly Report - Editor", Node("Button", "Print"), friendly="Dialog", foreground=True,
                      rect=(10, 20, 810, 620))
    screen.add_window("   ", Node("Button", "Blank"))
    screen.add_window("", Node("Button", "Untitled"))
    screen.add_window("Hidden", Node("Button", "Secret"), visible=False)
    screen.add_window(" Padded ", Node("Button", "Pad"), friendly="Pane")
    screen.add_window("Vanishing", Node("Button", "Gone"), failing={"name"})
    return screen


class TestWithPywinauto:
    def test_focused_window(self, access, desktop, pywinauto_only):
        result = run(access.get_focused_window())
        assert result == {"success": True, "title": "Quarterly Report - Editor", "class_name": "Dialog",
                          "handle": desktop.foreground, "rect": {"left": 10, "top": 20, "right": 810, "bottom": 620}}
        assert list(result["rect"]) == ["left", "top", "right", "bottom"]

    def test_no_foreground_window(self, access, desktop, pywinauto_only):
        desktop.foreground = 0
        assert run(access.get_focused_window()) == {"success": False, "error": "No foreground window"}

    def test_foreground_handle_of_no_window(self, access, desktop, pywinauto_only):
        desktop.foreground = 0x9999
        assert run(access.get_focused_window()) == {"success": False, "error": "Could not get focused window"}

    def test_list_leaves_out_blank_titles_and_unreadable_windows(self, access, desktop, pywinauto_only):
        assert run(access.list_windows()) == {
            "success": True, "count": 2,
            "windows": [{"title": "Quarterly Report - Editor", "class_name": "Dialog"},
                        {"title": " Padded ", "class_name": "Pane"}],
        }

    def test_focus_by_partial_title(self, access, desktop, pywinauto_only):
        assert run(access.focus_window("Report")) == {
            "success": True, "window": "Quarterly Report - Editor",
            "hint": "Window focused. Use desktop_snapshot() to see its contents."}
        assert ("set_focus", "Quarterly Report - Editor") in desktop.journal.calls
        assert ("windows", {"title_re": ".*Report.*", "visible_only": True}) in desktop.journal.calls

    def test_focus_without_match_and_with_an_invalid_pattern(self, access, desktop, pywinauto_only):
        assert run(access.focus_window("Hidden")) == {"success": False, "error": "No window matching: Hidden"}
        result = run(access.focus_window("Report ("))
        with pytest.raises(re.error) as caught:
            re.compile(".*Report (.*")
        assert result == {"success": False, "error": str(caught.value)}

    def test_a_failing_query_is_an_error_result(self, access, desktop, pywinauto_only, monkeypatch):
        def broken(*args, **kwargs):
            raise OSError("UI Automation is not responding")

        monkeypatch.setattr(sys.modules["pywinauto"].Desktop, "windows", broken)
        expected = {"success": False, "error": "UI Automation is not responding"}
        assert run(access.list_windows()) == expected
        assert run(access.get_focused_window()) == expected
        assert run(access.focus_window("Report")) == expected


def test_with_only_uiautomation(access, desktop, uiautomation_only):
    assert run(access.get_focused_window()) == {"success": False, "error": "Could not get focused window"}
    assert run(access.list_windows()) == {"success": False, "error": "pywinauto not available"}
    assert run(access.focus_window("Report")) == {"success": False, "error": "pywinauto not available"}


def test_with_neither_package(access, desktop, monkeypatch):
    monkeypatch.setitem(sys.modules, "pywinauto", None)
    monkeypatch.setitem(sys.modules, "uiautomation", None)
    assert run(access.get_focused_window()) == {"success": False, "error": "UIA not available"}
    assert run(access.list_windows()) == {"success": False, "error": "UIA not available"}
    assert run(access.focus_window("Report")) == {"success": False, "error": "pywinauto not available"}
