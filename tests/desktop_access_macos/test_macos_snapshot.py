"""The macOS snapshot against a fake osascript: which scripts run, how the tree script's
answer becomes the snapshot text and the ref map, and each way it can fail."""

import logging

import pytest

from macos_fakes import FRONTMOST, TREE, WINDOW_SEARCH, record, run

PERMISSION_HINT = ("Ensure the app has accessibility permissions. Go to System Settings > Privacy & Security > "
                   "Accessibility and add Terminal / your terminal app.")
REF_HINT = "Use ref numbers to interact: desktop_click_ref(1), desktop_type_ref(2, 'text'), etc."


def tree(*lines, window="Window: Untitled"):
    """A tree script answer: the window line, the empty line after it, element lines."""
    return "\n".join([window, "", *lines]) + "\n"


@pytest.fixture
def notes(osascript):
    osascript.answer(FRONTMOST, "Notes\n")
    return osascript


def test_example_window(mac, notes):
    notes.answer(TREE, tree("AXButton|Save|||true", "AXTextField|||hello|true", "AXStaticText|Ready|||true"))
    result = run(mac.snapshot())
    assert result == {
        "success": True, "window": "Notes",
        "snapshot": 'Window: Untitled\n  [1] button "Save"\n  [2] textfield value="hello"\n  statictext: Ready',
        "element_count": 2, "platform": "macos", "hint": REF_HINT}
    assert list(result) == ["success", "window", "snapshot", "element_count", "platform", "hint"]
    assert mac._ref_counter == 2
    assert mac._ref_map == {1: record("Save"), 2: record(role="AXTextField", value="hello")}
    assert list(mac._ref_map[1]) == ["role", "title", "description", "value", "backend", "app"]


def test_frontmost_process_then_its_tree(mac, notes, time_limits):
    notes.answer(TREE, tree())
    run(mac.snapshot(max_depth=1))
    frontmost, tree_script = notes.scripts()
    assert frontmost == 'tell application "System Events" to get name of first process whose frontmost is true'
    assert ('tell application "System Events"\ntell process "Notes"\nset frontmost to true\ndelay 0.2\n'
            in tree_script)
    assert "entire contents of window 1" in tree_script  # whatever max_depth says
    # A first window without a readable name is shown under the process's name.
    assert 'if winName is missing value or winName is "" then set winName to "Notes"\n' in tree_script
    assert 'on error\nset winName to "Notes"\n' in tree_script
    assert time_limits.asked == [10, 30]


def test_each_element_and_the_window_name_stay_on_one_line(mac, notes):
    # A text area's value or a web page's title holding line breaks would otherwise
    # split its line, and the text after the break could pass for elements of its own.
    notes.answer(TREE, tree())
    run(mac.snapshot())
    script = notes.script(TREE)
    assert script.startswith("on oneLine(t)\n") and script.count("on oneLine(") == 1
    output_line = next(line for line in script.splitlines() if 'elemRole & "|"' in line)
    for name in ("winName", "elemTitle", "elemDesc", "elemValue"):
        flattened = script.index(f"set {name} to my oneLine({name})")
        assert script.index(f"set {name} to ") < flattened < script.index(output_line)


def test_classifying_and_shortening_elements(mac, notes):
    long_text, long_value = "x" * 250, "v" * 150
    notes.answer(TREE, tree(
        "AXButton|Delete|||false",                 # disabled: left out
        "AXTable||Results||true",                  # "Tab" in the role: interactive
        "AXStaticText||||true",                    # context without a name: nothing
        f"AXStaticText|{long_text}|||true",        # cut to 200 and "..."
        f"AXTextArea|Notes||{long_value}|TRUE",    # value cut to 100, no "..."
        "AXPopUpButton|Size||Size|true",           # value equal to the name is not shown
        "AXImage|Logo|||true",                     # neither interactive nor context
        "AXGroup||Sidebar||false",                 # context: shown though disabled
        "AXButton|Save|Load|||true",               # "|" in the title shifts the flag out: left out
        "AXButton|a|b|c|true|false",               # the fifth field is read as the flag
        "AXButton|Only|four|fields",               # fewer than five fields: skipped
        "\u00a0 AXCheckBox | Wrap \u2003| | |true\u3000",  # fields stripped as str.strip does
        "AXÜberButton|Go|||true",                  # lower-cased like str.lower
        "AXAXSliderAX|Volume||0.5|true"))
    lines = run(mac.snapshot())["snapshot"].split("\n")
    assert lines == [
        "Window: Untitled",
        '  [1] table "Results"',
        f"  statictext: {'x' * 200}...",
        f'  [2] textarea "Notes" value="{"v" * 100}"',
        '  [3] popupbutton "Size"',
        "  group: Sidebar",
        '  [4] button "a" value="c"',
        '  [5] checkbox "Wrap"',
        '  [6] überbutton "Go"',
        '  [7] slider "Volume" value="0.5"',
    ]
    assert mac._ref_map[2]["value"] == long_value
    assert mac._ref_map[4] == record("a", "b", value="c")
    assert mac._ref_map[5] == record("Wrap", role="AXCheckBox")


def test_role_sets_are_read_at_each_snapshot(mac, notes, monkeypatch, module):
    notes.answer(TREE, tree("AXImage|Logo|||true", "AXStaticText|Ready|||true"))
    monkeypatch.setattr(module, "INTERACTIVE_TYPES", module.INTERACTIVE_TYPES | {"AXImage", 3, "\ud800"})
    monkeypatch.setattr(module, "CONTEXT_TYPES", set())
    assert run(mac.snapshot())["snapshot"] == 'Window: Untitled\n  [1] image "Logo"'


def test_window_and_error_lines_are_kept(mac, notes):
    notes.answer(TREE, tree("AXButton|OK|||true", "Error reading UI: Invalid index.", window="Window: Notes"))
    result = run(mac.snapshot())
    assert result["success"] is True
    assert result["snapshot"] == 'Window: Notes\n  [1] button "OK"\nError reading UI: Invalid index.'


def test_no_lines_at_all(mac, notes):
    notes.answer(TREE, "AXImage|Logo|||true\n")
    result = run(mac.snapshot())
    assert (result["snapshot"], result["element_count"]) == ("(No UI elements found)", 0)


def test_undecodable_tree_bytes_are_replaced(mac, notes):
    notes.answer(TREE, b"Window: Caf\xe9\n\nAXButton|\xff|||true\n")
    assert run(mac.snapshot())["snapshot"] == 'Window: Caf\ufffd\n  [1] button "\ufffd"'


def test_refs_start_again_and_a_failed_snapshot_keeps_them(mac, osascript):
    osascript.answer(FRONTMOST, "Notes")
    osascript.answer(TREE, tree("AXButton|A|||true", "AXButton|B|||true"))
    run(mac.snapshot())
    osascript.reset()
    osascript.answer(FRONTMOST, "Notes")
    osascript.answer(TREE, tree("AXButton|C|||true"))
    run(mac.snapshot())
    assert mac._ref_map == {1: record("C")} and mac._ref_counter == 1
    osascript.reset()
    osascript.answer(FRONTMOST, "")
    assert run(mac.snapshot()) == {"success": False, "error": "No frontmost application found"}
    assert mac._ref_map == {1: record("C")} and mac._ref_counter == 1


class TestFindingTheApplication:
    def test_no_frontmost_process(self, mac, osascript):
        osascript.answer(FRONTMOST, "\n")
        assert run(mac.snapshot()) == {"success": False, "error": "No frontmost application found"}
        assert len(osascript.scripts()) == 1

    @pytest.mark.parametrize("title", [None, ""])
    def test_without_a_title_the_frontmost_process(self, mac, notes, title):
        notes.answer(TREE, tree())
        assert run(mac.snapshot(title))["window"] == "Notes"

    def test_by_window_title(self, mac, osascript, time_limits):
        osascript.answer(WINDOW_SEARCH, "TextEdit\n")
        osascript.answer(TREE, tree("AXButton|Save|||true", window="Window: Report.txt"))
        result = run(mac.snapshot("Report"))
        assert result["window"] == "TextEdit"  # the process, not the window
        assert mac._ref_map[1]["app"] == "TextEdit"
        search, tree_script = osascript.scripts()
        assert 'if name of w contains "Report" then' in search
        assert 'tell process "TextEdit"' in tree_script
        assert time_limits.asked == [10, 30]

    def test_title_matching_no_window(self, mac, osascript):
        osascript.answer(WINDOW_SEARCH, "")
        assert run(mac.snapshot("Budget")) == {"success": False, "error": "No window found matching: Budget"}


class TestFailures:
    def test_osascript_not_found_at_probing(self, mac):
        mac._macos_available = False
        assert run(mac.snapshot()) == {"success": False,
                                       "error": "macOS accessibility not available (osascript not found)."}

    def test_empty_tree_asks_for_the_permission(self, mac, notes):
        notes.answer(TREE, "\n", stderr="execution error: System Events got an error: osascript is not allowed "
                                        "assistive access. (-1719)\n", status=1)
        assert run(mac.snapshot()) == {
            "success": False,
            "error": "Could not read accessibility tree: execution error: System Events got an error: "
                     "osascript is not allowed assistive access. (-1719)",
            "hint": PERMISSION_HINT}

    @pytest.mark.parametrize("sleeping", [FRONTMOST, TREE])
    def test_time_limit(self, mac, osascript, time_limits, sleeping, caplog):
        osascript.sleep(sleeping)
        osascript.answer(FRONTMOST, "Notes")
        with caplog.at_level(logging.ERROR, "nebrix.pc.desktop"):
            result = run(mac.snapshot())
        assert result == {"success": False, "error": "AppleScript timed out reading accessibility tree"}
        assert caplog.records == []

    def test_title_search_time_limit(self, mac, osascript, time_limits):
        osascript.sleep(WINDOW_SEARCH)
        assert run(mac.snapshot("Report")) == {"success": False,
                                              "error": "AppleScript timed out reading accessibility tree"}
        assert time_limits.asked == [10]

    def test_undecodable_process_name_is_logged(self, mac, osascript, caplog):
        osascript.answer(FRONTMOST, b"Caf\xe9")
        with caplog.at_level(logging.ERROR, "nebrix.pc.desktop"):
            result = run(mac.snapshot())
        assert result["success"] is False and result["error"].startswith("'utf-8' codec can't decode byte 0xe9")
        assert [r.getMessage() for r in caplog.records] == ["macOS snapshot failed: " + result["error"]]

    def test_osascript_gone_since_probing(self, mac, monkeypatch, tmp_path, caplog):
        monkeypatch.setenv("PATH", str(tmp_path))
        with caplog.at_level(logging.ERROR, "nebrix.pc.desktop"):
            result = run(mac.snapshot())
        assert result["success"] is False and "osascript" in result["error"]
        assert caplog.records[0].getMessage() == "macOS snapshot failed: " + result["error"]

    def test_window_title_must_be_text(self, mac):
        with pytest.raises(TypeError, match="Argument 'window_title' has incorrect type"):
            mac._snapshot_macos(3, 8)


class TestOptions:
    def test_a_bound_counts_the_element_lines_left_out(self, mac, notes):
        buttons = [f"AXButton|B{i}|||true" for i in range(1, 1206)]
        notes.answer(TREE, tree("AXStaticText|Top|||true", *buttons[:2], "AXStaticText|Mid|||true", *buttons[2:],
                                "AXImage|Logo|||true", "Window: Second"))
        result = run(mac.snapshot(max_elements=2))
        assert result["snapshot"] == ('Window: Untitled\n  statictext: Top\n  [1] button "B1"\n  [2] button "B2"\n'
                                      "Window: Second\n... 1,204 more elements not shown")
        assert result["element_count"] == 2 and sorted(mac._ref_map) == [1, 2]
        assert run(mac.snapshot(max_elements=1203))["snapshot"].endswith(
            '[1203] button "B1203"\nWindow: Second\n... 2 more elements not shown')
        assert run(mac.snapshot(max_elements=1204))["snapshot"].endswith("Second\n... 1 more element not shown")
        unbounded = run(mac.snapshot())
        assert run(mac.snapshot(max_elements=1205)) == unbounded and "more" not in unbounded["snapshot"]

    def test_states_the_tree_holds(self, mac, notes):
        notes.answer(TREE, tree("AXCheckBox|Wrap||1|true", "AXCheckBox|Some||2|true", "AXCheckBox|Off||0|true",
                                "AXRadioButton|Small||1|true", "AXButton|Delete|||false", "AXGroup||Sidebar||false"))
        result = run(mac.snapshot(states=True))
        assert result["snapshot"].split("\n")[1:] == [
            '  [1] checkbox "Wrap" value="1" (checked)', '  [2] checkbox "Some" value="2" (mixed)',
            '  [3] checkbox "Off" value="0"', '  [4] radiobutton "Small" value="1" (selected)',
            '  button "Delete" (disabled)', "  group: Sidebar"]
        assert result["element_count"] == 4 and mac._ref_map[4]["title"] == "Small"
