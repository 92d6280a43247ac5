"""Click and type by ref on macOS: the scripts that find the element again by its name,
and how their answers, failures and time limits come back."""

import logging

import pytest

from macos_fakes import CLICK, FRONTMOST, TREE, TYPE, record, run

UPDATED_HINT = "Take a desktop_snapshot() to see the updated state."


@pytest.fixture
def saved(mac):
    """A controller whose latest snapshot gave ref 1 to a button "Save" of Notes."""
    mac._ref_map = {1: record("Save")}
    return mac


class TestClick:
    @pytest.mark.parametrize("double_click, action", [(False, "click"), (True, "double_click")])
    def test_clicked(self, saved, osascript, time_limits, double_click, action, caplog):
        osascript.answer(CLICK, "clicked\n")
        with caplog.at_level(logging.DEBUG, "nebrix.pc.desktop"):
            result = run(saved.click_ref(1, double_click=double_click))
        assert result == {"success": True, "action": action, "ref": 1, "element": 'AXButton "Save"',
                          "hint": UPDATED_HINT}
        script = osascript.script(CLICK)
        assert 'tell application "System Events"\ntell process "Notes"\nset frontmost to true\n' in script
        # Names are compared as the snapshot wrote them, on one line.
        assert "set elemTitle to my oneLine(elemTitle)" in script and "set elemDesc to my oneLine(elemDesc)" in script
        assert 'if elemTitle is "Save" or elemDesc is "Save" then\nclick elem\nreturn "clicked"' in script
        assert script.count("click elem") == 1  # a double click is still one click
        assert time_limits.asked == [15]
        assert caplog.records == []

    def test_found_by_description_without_a_title(self, mac, osascript):
        mac._ref_map = {4: record(description="Close", role="AXButton")}
        osascript.answer(CLICK, "clicked")
        assert run(mac.click_ref(4.0))["element"] == 'AXButton "Close"'
        assert 'elemTitle is "Close" or elemDesc is "Close"' in osascript.script(CLICK)

    def test_toggle_is_a_single_click(self, mac, osascript):
        mac._ref_map = {2: record("Wrap", role="AXCheckBox")}
        osascript.answer(CLICK, "clicked")
        assert run(mac.toggle_ref(2)) == {"success": True, "action": "click", "ref": 2,
                                          "element": 'AXCheckBox "Wrap"', "hint": UPDATED_HINT}

    def test_element_without_a_name(self, mac, osascript):
        mac._ref_map = {1: record()}
        assert run(mac.click_ref(1)) == {"success": False, "error": "Element has no identifiable name for clicking",
                                         "ref": 1}
        assert osascript.calls() == []

    @pytest.mark.parametrize("answer, error", [
        ("not_found", "Element 'Save' not found in current window"),
        ("error:Invalid index.", "error:Invalid index."),
        ("", ""),
    ])
    def test_other_answers(self, saved, osascript, answer, error):
        osascript.answer(CLICK, answer)
        assert run(saved.click_ref(1)) == {"success": False, "error": error, "ref": 1}

    def test_time_limit(self, saved, osascript, time_limits):
        osascript.sleep(CLICK)
        assert run(saved.click_ref(1)) == {"success": False, "error": "osascript timed out after 15 seconds",
                                           "ref": 1}

    def test_osascript_missing(self, saved, monkeypatch, tmp_path):
        monkeypatch.setenv("PATH", str(tmp_path))
        assert run(saved.click_ref(1)) == {"success": False,
                                           "error": "[Errno 2] No such file or directory: 'osascript'", "ref": 1}


class TestType:
    def test_typed(self, saved, osascript, time_limits):
        osascript.answer(TYPE, "typed")
        assert run(saved.type_ref(1, "hello")) == {"success": True, "action": "type", "ref": 1, "text": "hello",
                                                   "pressed_enter": False}
        assert ('then\nclick elem\ndelay 0.1\nkeystroke "a" using command down\ndelay 0.05\n'
                'keystroke "hello"\nreturn "typed"') in osascript.script(TYPE)
        assert time_limits.asked == [15]

    def test_without_clearing_and_with_enter(self, saved, osascript):
        osascript.answer(TYPE, "typed")
        result = run(saved.type_ref(1, "x", clear_first=0, press_enter="yes"))
        assert result["pressed_enter"] is True
        assert ('then\nclick elem\ndelay 0.1\ndelay 0.05\nkeystroke "x"\nkeystroke return\nreturn "typed"'
                in osascript.script(TYPE))

    def test_quotes_and_backslashes_reach_the_element_unchanged(self, saved, osascript):
        text = 'C:\\Users\\me "quoted"\nnext line'
        osascript.answer(TYPE, "typed")
        assert run(saved.type_ref(1, text))["text"] == text
        assert 'keystroke "C:\\\\Users\\\\me \\"quoted\\"\\nnext line"\n' in osascript.script(TYPE)

    def test_an_element_from_the_snapshot(self, mac, osascript):
        osascript.answer(FRONTMOST, "TextEdit")
        osascript.answer(TREE, "Window: Doc\n\nAXTextField||Search||true\n")
        osascript.answer(TYPE, "typed")
        run(mac.snapshot())
        assert run(mac.type_ref(1, "cats"))["success"] is True
        script = osascript.script(TYPE)
        assert 'tell process "TextEdit"' in script and 'elemTitle is "Search" or elemDesc is "Search"' in script

    def test_element_without_a_name_is_not_typed_into(self, mac, osascript):
        # An empty name would match whichever unnamed element comes first.
        mac._ref_map = {1: record(role="AXTextField", value="hello")}
        assert run(mac.type_ref(1, "x")) == {"success": False, "error": "Element has no identifiable name for typing",
                                             "ref": 1}
        assert osascript.calls() == []

    @pytest.mark.parametrize("answer, error", [
        ("not_found", "Element 'Save' not found"),
        ("error:System Events got an error: Can’t get window 1.", "error:System Events got an error: Can’t get window 1."),
    ])
    def test_other_answers(self, saved, osascript, answer, error):
        osascript.answer(TYPE, answer)
        assert run(saved.type_ref(1, "x")) == {"success": False, "error": error, "ref": 1}

    def test_time_limit(self, saved, osascript, time_limits):
        osascript.sleep(TYPE)
        assert run(saved.type_ref(1, "x")) == {"success": False, "error": "osascript timed out after 15 seconds",
                                               "ref": 1}

    def test_undecodable_answer(self, saved, osascript):
        osascript.answer(TYPE, b"\xfftyped")
        result = run(saved.type_ref(1, "x"))
        assert result["success"] is False and result["ref"] == 1
        assert result["error"].startswith("'utf-8' codec can't decode byte 0xff")
