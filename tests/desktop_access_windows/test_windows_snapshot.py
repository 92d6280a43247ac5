"""The Windows snapshot through both UI Automation packages: window choice, the lines,
the refs and their records, failures inside the walk and the work on a worker thread."""

import asyncio
import logging
import re
import sys
import threading

import pytest

import windows_fakes
from windows_fakes import Node

HINT = "Use ref numbers to interact: desktop_click_ref(1), desktop_type_ref(2, 'text'), etc."
SETTINGS_LINES = [
    "pane: General",
    '  [1] checkbox "Enable sync"',
    '  [2] edit "Server" value="local" (id: serverBox)',
    '  [3] button "OK"',
    "text: Ready",
]


def snapshot(access, *args, **kwargs):
    return asyncio.run(access.snapshot(*args, **kwargs))


def add_settings(screen, **window):
    return screen.add_window(
        "Settings",
        Node("Pane", "General", children=[
            Node("CheckBox", "Enable sync", patterns={"toggle"}),
            Node("Edit", "Server", auto_id="serverBox", value="local"),
            Node("Button", "OK", auto_id="OK", patterns={"invoke"}),
        ]),
        Node("Text", "Ready"),
        **window)


def element_lines(result):
    return result["snapshot"].split("\n")[2:]


def header(package, title):
    return f"Window: {title} [Dialog]" if package == "pywinauto" else f"Window: {title}"


class TestSettingsWindow:
    def test_foreground_window_text_and_result(self, access, package, screen):
        add_settings(screen, foreground=True)
        result = snapshot(access)
        assert result == {
            "success": True, "window": "Settings",
            "snapshot": "\n".join([header(package, "Settings"), ""] + SETTINGS_LINES),
            "element_count": 3, "hint": HINT,
        }
        assert access._ref_counter == 3

    def test_records_hold_the_elements_for_their_backend(self, access, package, screen):
        add_settings(screen, foreground=True)
        snapshot(access)
        assert sorted(access._ref_map) == [1, 2, 3]
        record = access._ref_map[2]
        assert list(record) == ["element", "control_type", "name", "auto_id", "value", "backend"]
        assert {key: record[key] for key in list(record)[1:]} == {
            "control_type": "Edit", "name": "Server", "auto_id": "serverBox", "value": "local", "backend": package}
        element = record["element"]
        assert (element.window_text() if package == "pywinauto" else element.Name) == "Server"

    def test_pywinauto_is_preferred_and_uiautomation_never_imported(self, access, screen, pywinauto_only,
                                                                     monkeypatch):
        attempts = []

        class Recorder:
            @staticmethod
            def find_spec(name, path=None, target=None):
                attempts.append(name)
                return None

        monkeypatch.delitem(sys.modules, "uiautomation")
        monkeypatch.setattr(sys, "meta_path", [Recorder, *sys.meta_path])
        add_settings(screen, foreground=True)
        assert snapshot(access)["success"] is True
        assert "uiautomation" not in attempts
        assert ("Desktop", "uia") in screen.journal.calls

    def test_a_second_snapshot_numbers_from_one(self, access, package, screen):
        add_settings(screen, foreground=True)
        snapshot(access)
        screen.windows[0].root.children[0].children.pop(0)
        result = snapshot(access)
        assert result["element_count"] == 2
        assert sorted(access._ref_map) == [1, 2]
        assert access._ref_map[1]["name"] == "Server"


class TestWindowChoice:
    def test_neither_package_gives_the_install_hint_without_the_executor(self, access, screen, monkeypatch):
        monkeypatch.setitem(sys.modules, "pywinauto", None)
        monkeypatch.setitem(sys.modules, "uiautomation", None)

        def no_executor(*args):
            raise AssertionError("the executor was used")

        monkeypatch.setattr(asyncio.BaseEventLoop, "run_in_executor", no_executor)
        assert snapshot(access) == {
            "success": False,
            "error": "Windows UI Automation not available. Install pywinauto: pip install pywinauto",
            "hint": "This feature requires pywinauto installed.",
        }

    def test_no_foreground_window(self, access, package, screen):
        add_settings(screen)
        expected = "No foreground window found" if package == "pywinauto" else "No window found"
        assert snapshot(access) == {"success": False, "error": expected}

    def test_title_matching_no_window(self, access, package, screen):
        add_settings(screen, foreground=True)
        expected = "No window found matching: Editor" if package == "pywinauto" else "No window found"
        assert snapshot(access, "Editor") == {"success": False, "error": expected}

    def test_pywinauto_matches_the_title_as_a_substring_of_visible_windows(self, access, screen, pywinauto_only):
        screen.add_window("Hidden Report", Node("Button", "Secret"), visible=False)
        screen.add_window("Quarterly Report - Editor", Node("Button", "Print"))
        result = snapshot(access, "Report")
        assert result["window"] == "Quarterly Report - Editor"
        assert element_lines(result) == ['[1] button "Print"']
        assert ("windows", {"title_re": ".*Report.*", "visible_only": True}) in screen.journal.calls

    def test_uiautomation_gets_the_title_as_the_window_name(self, access, screen, uiautomation_only):
        add_settings(screen)
        assert snapshot(access, "Settings")["window"] == "Settings"
        assert ("WindowControl", 1, {"Name": "Settings"}) in screen.journal.calls

    def test_title_is_a_pattern_and_an_invalid_one_is_an_error_result(self, access, screen, pywinauto_only, caplog):
        screen.add_window("Total (net)", Node("Button", "OK"))
        assert snapshot(access, r"Total \(net")["window"] == "Total (net)"
        refs_before = dict(access._ref_map)
        with caplog.at_level(logging.ERROR, logger="nebrix.pc.desktop"):
            result = snapshot(access, "Total (net")
        try:
            re.compile(".*Total (net.*")
        except re.error as error:
            expected = str(error)
        assert result == {"success": False, "error": expected}
        assert f"Desktop snapshot failed: {expected}" in caplog.messages
        assert access._ref_map == refs_before

    def test_a_window_that_vanishes_after_it_was_found_fails_with_the_refs_gone(self, access, package, screen,
                                                                               caplog):
        add_settings(screen, foreground=True)
        snapshot(access)
        screen.windows[0].root.failing.add("name")
        result = snapshot(access)
        assert result == {"success": False, "error": "name failed on Settings"}
        assert "Desktop snapshot failed: name failed on Settings" in caplog.messages
        assert access._ref_map == {} and access._ref_counter == 0

    def test_unnamed_window_is_unknown(self, access, package, screen):
        screen.add_window("", Node("Button", "OK"), friendly="", foreground=True)
        result = snapshot(access)
        assert result["window"] == "Unknown"
        assert result["snapshot"].split("\n")[0] == ("Window: Unknown []" if package == "pywinauto" else "Window: Unknown")


class TestLines:
    def test_listing_rules(self, access, package, screen):
        screen.add_window(
            "Form",
            Node("Button", "Off", enabled=False, children=[Node("Button", "Inner")]),
            Node("Group", "   ", children=[Node("CheckBox", "Deep")]),
            Node("Image", "Logo", children=[Node("Hyperlink", "Help")]),
            Node("Edit", "Same", value="Same", auto_id="Same"),
            Node("Edit", "Long", value="v" * 150),
            Node("Text", "n" * 250),
            foreground=True)
        assert element_lines(snapshot(access)) == [
            '  [1] button "Inner"',
            '  [2] checkbox "Deep"',
            '  [3] hyperlink "Help"',
            '[4] edit "Same"',
            f'[5] edit "Long" value="{"v" * 100}"',
            f"text: {'n' * 200}...",
        ]

    def test_names_are_printed_unchanged(self, access, package, screen):
        screen.add_window("Odd", Node("Button", 'say "hi"\nnow'), Node("Text", " padded "), foreground=True)
        assert element_lines(snapshot(access)) == ['[1] button "say "hi"', 'now"', "text:  padded "]

    def test_non_ascii_text_is_cut_by_characters_and_kept_intact(self, access, package, screen):
        screen.add_window("Unicode", Node("Edit", "Grüße 😀", value="é" * 150), Node("Text", "\ud800 lone"),
                          Node("Text", "ß" * 201), foreground=True)
        assert element_lines(snapshot(access)) == [
            f'[1] edit "Grüße 😀" value="{"é" * 100}"', "text: \ud800 lone", f"text: {'ß' * 200}..."]

    @pytest.mark.parametrize("title", [None, ""])
    def test_no_title_means_the_foreground_window(self, access, package, screen, title):
        screen.add_window("Other", Node("Button", "No"))
        add_settings(screen, foreground=True)
        assert snapshot(access, title)["window"] == "Settings"

    def test_pywinauto_reads_values_only_of_edits_combo_boxes_and_documents(self, access, package, screen):
        screen.add_window("Values", Node("Slider", "Volume", value="40"), Node("ComboBox", "Size", value="Large"),
                          foreground=True)
        slider = '[1] slider "Volume"' if package == "pywinauto" else '[1] slider "Volume" value="40"'
        assert element_lines(snapshot(access)) == [slider, '[2] combobox "Size" value="Large"']

    def test_indent_stops_growing_at_depth_four(self, access, package, screen):
        node = Node("Button", "d6")
        for depth in (5, 4, 3, 2, 1, 0):
            node = Node("Group", f"d{depth}", children=[node])
        screen.add_window("Deep", node, foreground=True)
        lines = element_lines(snapshot(access))
        assert lines == ["group: d0", "  group: d1", "    group: d2", "      group: d3", "        group: d4",
                         "        group: d5", '        [1] button "d6"']

    @pytest.mark.parametrize("max_depth, count", [(0, 1), (1, 2), (-1, 0)])
    def test_depth_limit(self, access, package, screen, max_depth, count):
        screen.add_window("Deep", Node("Button", "a", children=[Node("Button", "b", children=[Node("Button", "c")])]),
                          foreground=True)
        result = snapshot(access, max_depth=max_depth)
        assert result["element_count"] == count
        assert len(result["snapshot"].split("\n")) == 2 + count

    def test_a_very_deep_tree_is_walked_without_recursion(self, access, package, screen):
        node = Node("Button", "leaf")
        for _ in range(10000):
            node = Node("Pane", "", children=[node])
        screen.add_window("Deep", node, foreground=True)
        result = snapshot(access, max_depth=10**30)
        assert result["element_count"] == 1
        assert result["snapshot"].endswith('        [1] button "leaf"')


class TestFailingElements:
    def test_failures_inside_the_walk_never_fail_the_snapshot(self, access, package, screen, caplog):
        screen.add_window(
            "Broken",
            Node("Button", "Unreadable", failing={"type"}, children=[Node("Button", "Lost")]),
            Node("Pane", "No children", failing={"children"}, children=[Node("Button", "Hidden")]),
            Node("Edit", "Value", value="secret", failing={"iface_value", "get_value"}),
            Node("Button", "Last"),
            foreground=True)
        with caplog.at_level(logging.DEBUG, logger="nebrix.pc.desktop"):
            result = snapshot(access)
        assert result["success"] is True
        assert element_lines(result) == ["pane: No children", '[1] edit "Value"', '[2] button "Last"']
        logged = [message for message in caplog.messages if message.startswith("Error processing element: ")]
        assert logged == (["Error processing element: type failed on Unreadable"] if package == "pywinauto" else [])

    def test_unreadable_element_info_falls_back_to_enabled_without_id(self, access, screen, pywinauto_only):
        screen.add_window("Info", Node("Button", "Go", auto_id="go", enabled=False, failing={"element_info"}),
                          foreground=True)
        assert element_lines(snapshot(access)) == ['[1] button "Go"']

    def test_uiautomation_skips_an_element_whose_id_cannot_be_read(self, access, screen, uiautomation_only):
        screen.add_window("Info", Node("Button", "Go", failing={"auto_id"}, children=[Node("Button", "Sub")]),
                          Node("Button", "Next"), foreground=True)
        assert element_lines(snapshot(access)) == ['[1] button "Next"']


class TestWorkerThread:
    def test_walk_runs_off_the_loop_thread_while_the_loop_keeps_running(self, access, package, screen):
        add_settings(screen, foreground=True)
        entered, released = threading.Event(), threading.Event()
        outcome = {}
        pane = screen.windows[0].root.children[0]
        original_fails = pane.fails

        def blocking_fails(what):
            if what == "children" and not entered.is_set():
                entered.set()
                outcome["released"] = released.wait(timeout=30)
            original_fails(what)

        pane.fails = blocking_fails

        async def scenario():
            task = asyncio.create_task(access.snapshot())
            while not entered.is_set():  # the loop keeps turning while the walk waits
                await asyncio.sleep(0.001)
            released.set()
            return await task

        result = asyncio.run(scenario())
        assert outcome == {"released": True}
        assert element_lines(result) == SETTINGS_LINES
        assert threading.get_ident() not in screen.journal.threads()


def add_form(screen):
    """Six interactive elements, the last three inside a pane after a status text."""
    return screen.add_window(
        "Form",
        Node("Button", "One"),
        Node("Text", "Status"),
        Node("Pane", "Body", children=[Node("Button", "Two"), Node("Button", "Three"), Node("Button", "Four")]),
        Node("Button", "Five", children=[Node("Button", "Six")]),
        foreground=True)


class TestElementBound:
    def test_the_walk_stops_after_the_bound_and_says_so(self, access, package, screen):
        add_form(screen)
        result = snapshot(access, max_elements=3)
        assert result["element_count"] == 3 and sorted(access._ref_map) == [1, 2, 3]
        assert element_lines(result) == [
            '[1] button "One"', "text: Status", "pane: Body", '  [2] button "Two"', '  [3] button "Three"',
            "... more elements not shown"]
        listed = [call[1] for call in screen.journal.calls if call[0] in ("children", "GetChildren", "GetCachedChildren")]
        assert listed == ["Form", "One", "Status", "Body", "Two", "Three"]  # nothing after the third ref is listed

    def test_a_bound_the_window_does_not_reach_changes_nothing(self, access, package, screen):
        add_form(screen)
        unbounded = snapshot(access)
        assert snapshot(access, max_elements=6) == unbounded
        assert snapshot(access, max_elements=10**30) == unbounded
        assert "more" not in unbounded["snapshot"]

    def test_elements_after_the_last_ref_count_as_more(self, access, package, screen):
        screen.add_window("Short", Node("Button", "Only"), Node("Text", "Footer"), foreground=True)
        assert element_lines(snapshot(access, max_elements=1)) == ['[1] button "Only"', "... more elements not shown"]


def add_stateful(screen):
    return screen.add_window(
        "States",
        Node("CheckBox", "Sync", patterns={"toggle"}, toggle_state=1, focused=True),
        Node("CheckBox", "Some", patterns={"toggle"}, toggle_state=2),
        Node("Button", "Bold", patterns={"toggle", "invoke"}, toggle_state=1),
        Node("Button", "Off", enabled=False, auto_id="offId"),
        Node("RadioButton", "Small", patterns={"selection_item"}, selected=True),
        Node("TreeItem", "Docs", patterns={"expand", "selection_item"}, expand_state=1),
        Node("ComboBox", "Size", value="Large", patterns={"expand"}, expand_state=0),
        Node("Edit", "Plain", failing={"focus"}),
        Node("Text", "Ready"),
        foreground=True)


class TestStates:
    def test_states_follow_the_lines_and_disabled_elements_have_no_ref(self, access, package, screen):
        add_stateful(screen)
        result = snapshot(access, states=True)
        assert element_lines(result) == [
            '[1] checkbox "Sync" (checked, focused)',
            '[2] checkbox "Some" (mixed)',
            '[3] button "Bold" (pressed)',
            'button "Off" (id: offId) (disabled)',
            '[4] radiobutton "Small" (selected)',
            '[5] treeitem "Docs" (expanded)',
            '[6] combobox "Size" value="Large" (collapsed)',
            '[7] edit "Plain"',
            "text: Ready",
        ]
        assert result["element_count"] == 7 and [access._ref_map[ref]["name"] for ref in (3, 4)] == ["Bold", "Small"]

    def test_without_states_the_text_is_unchanged(self, access, package, screen):
        add_stateful(screen)
        assert "(" not in "\n".join(element_lines(snapshot(access)))

    def test_states_and_bound_together(self, access, package, screen):
        add_stateful(screen)
        assert element_lines(snapshot(access, states=True, max_elements=3))[-2:] == [
            '[3] button "Bold" (pressed)', "... more elements not shown"]


class TestBackendSignatures:
    def test_a_walker_replaced_with_the_four_argument_form_still_serves_default_snapshots(self, access, package,
                                                                                          screen):
        add_settings(screen, foreground=True)
        calls = []

        def walker(element, lines, depth, max_depth):
            calls.append((depth, max_depth))
            lines.append("walked")

        setattr(access, f"_walk_element_{package}", walker)
        access._walk_cached_uiautomation = walker
        assert element_lines(snapshot(access, max_depth=5)) == ["walked"]
        assert calls == [(0, 5)]


def add_buttons(screen, count):
    return screen.add_window("Grid", Node("Pane", "Rows", children=[
        Node("Button", f"Row {i}", auto_id=f"row{i}") for i in range(count)]), Node("Edit", "Find", value="x"),
        foreground=True)


class TestCacheRequests:
    def test_one_request_fetches_the_subtree_and_the_answer_is_the_plain_walks(self, access, screen, monkeypatch):
        add_stateful(screen)
        answers, calls = {}, {}
        for cached in (True, False):
            monkeypatch.setitem(sys.modules, "pywinauto", None)
            monkeypatch.setitem(sys.modules, "uiautomation", windows_fakes.uiautomation_module(screen, cached))
            for states in (False, True):
                screen.remote_calls = 0
                result = snapshot(access, states=states)
                records = [{key: value for key, value in record.items() if key != "element"}
                           for record in access._ref_map.values()]
                answers[cached, states] = (result, records)
                calls[cached, states] = screen.remote_calls
        assert answers[True, False] == answers[False, False] and answers[True, True] == answers[False, True]
        assert ("BuildUpdatedCache", "States", 7) in screen.journal.calls
        assert calls[True, False] == 2 and calls[True, True] == 2  # the window's name, the request
        assert calls[False, False] > 9 * 4

    def test_calls_do_not_grow_with_the_window(self, access, screen, uiautomation_only):
        counts = []
        for size in (10, 200):
            screen.windows.clear()
            add_buttons(screen, size)
            screen.remote_calls = 0
            assert snapshot(access)["element_count"] == size + 1
            counts.append(screen.remote_calls)
        assert counts[0] == counts[1]

    def test_refs_from_the_cache_act_on_their_elements(self, access, screen, uiautomation_only):
        add_settings(screen, foreground=True)
        snapshot(access)
        before = len(screen.journal.calls)
        assert asyncio.run(access.click_ref(3))["success"] is True
        assert screen.journal.calls[before:] == [("invoke", "Invoke", "OK")]

    def test_a_failing_request_falls_back_to_the_plain_walk(self, access, screen, uiautomation_only, monkeypatch):
        add_settings(screen, foreground=True)
        expected = snapshot(access)

        def refused(control, request):
            raise OSError("cache request refused")

        monkeypatch.setattr(windows_fakes.Control, "BuildUpdatedCache", refused)
        assert snapshot(access) == expected
        assert ("GetChildren", "Settings") in screen.journal.calls
