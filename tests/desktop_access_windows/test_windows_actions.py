"""Actions on Windows refs: the pattern first, then synthetic input on the element, then
pyautogui at the element's centre; blocking attempts on a worker thread, the pyautogui
fallback on the loop thread."""

import asyncio
import threading

import pytest

import windows_fakes
from windows_fakes import Node

UPDATED_HINT = "Take a desktop_snapshot() to see the updated state."


def run(coroutine):
    return asyncio.run(coroutine)


@pytest.fixture
def form(access, screen):
    """A snapshot of a form; refs: 1 OK (Invoke), 2 Plain, 3 Server (Value), 4 Notes, 5 Sync
    (Toggle), 6 Size (combo box with three items, refs 7 to 9)."""

    def take(**failing):
        items = [Node("ListItem", name, patterns={"selection_item"}, failing=failing.get(name, set()))
                 for name in ("Small", "Large", "X-Large")]
        nodes = [
            Node("Button", "OK", patterns={"invoke"}, rect=(100, 40, 201, 81)),
            Node("Button", "Plain", rect=(0, 0, 11, 11)),
            Node("Edit", "Server", value="local", rect=(10, 10, 30, 20)),
            Node("Edit", "Notes", rect=(10, 30, 31, 51)),
            Node("CheckBox", "Sync", patterns={"toggle"}),
            Node("ComboBox", "Size", patterns={"selection", "expand"}, value="Small", children=items),
        ]
        for node in nodes:
            node.failing |= failing.get(node.name, set())
        screen.add_window("Form", *nodes, foreground=True)
        assert run(access.snapshot())["element_count"] == 9
        screen.journal.entries.clear()
        return screen.journal

    return take


def acted(journal):
    """The journal without the reads of the walk: what the actions did, in order."""
    return [call for call in journal.calls if call[0] not in ("children", "GetChildren")]


class TestClick:
    def test_invoke_pattern_comes_first_and_no_click_is_sent(self, access, package, form):
        journal = form()
        assert run(access.click_ref(1)) == {
            "success": True, "action": "click", "ref": 1, "element": 'Button "OK"', "hint": UPDATED_HINT}
        assert acted(journal) == [("invoke", "Invoke", "OK")]
        assert threading.get_ident() not in journal.threads()

    def test_double_click(self, access, package, form):
        journal = form()
        result = run(access.click_ref(1, double_click=True))
        assert result["action"] == "double_click"
        # pywinauto invokes once rather than clicking twice; uiautomation always double-clicks.
        assert acted(journal) == ([("invoke", "Invoke", "OK")] if package == "pywinauto" else [("DoubleClick", "OK")])

    def test_without_invoke_pattern_the_element_is_clicked(self, access, package, form):
        journal = form()
        assert run(access.click_ref(2))["action"] == "click"
        assert acted(journal) == [("click_input" if package == "pywinauto" else "Click", "Plain")]

    def test_order_of_attempts_ends_with_pyautogui_at_the_centre(self, access, package, form):
        journal = form(OK={"invoke.Invoke", "click_input", "Click"})
        assert run(access.click_ref(1)) == {
            "success": True, "action": "click (coordinate fallback)", "ref": 1, "element": 'Button "OK"',
            "coordinates": (150, 60)}
        synthetic = "click_input" if package == "pywinauto" else "Click"
        assert acted(journal) == [("invoke", "Invoke", "OK"), (synthetic, "OK"), ("pyautogui.click", 150, 60)]
        loop_thread = [thread for call, thread in journal.entries if call[0] == "pyautogui.click"]
        assert loop_thread == [threading.get_ident()]

    def test_double_click_fallback_double_clicks(self, access, package, form):
        journal = form(Plain={"double_click_input", "DoubleClick"})
        assert run(access.click_ref(2, double_click=True))["action"] == "click (coordinate fallback)"
        assert acted(journal)[-1] == ("pyautogui.doubleClick", 5, 5)

    def test_without_pyautogui_the_native_error_is_reported(self, access, package, form, no_pyautogui):
        form(Plain={"click_input", "Click"})
        synthetic = "click_input" if package == "pywinauto" else "Click"
        assert run(access.click_ref(2)) == {"success": False, "error": f"{synthetic} failed on Plain", "ref": 2}

    def test_a_stale_element_without_a_rectangle_reports_the_native_error(self, access, package, form):
        journal = form(Plain={"click_input", "Click", "rectangle"})
        result = run(access.click_ref(2))
        assert result["success"] is False and result["ref"] == 2
        assert not [call for call in journal.calls if call[0].startswith("pyautogui")]

    def test_a_record_without_backend_is_a_pywinauto_element(self, access, screen, pywinauto_only):
        node = Node("Button", "Raw", patterns={"invoke"})
        access._initialized = True
        access._ref_map = {1: {"element": windows_fakes.Wrapper(screen, node), "control_type": "Button",
                               "name": "Raw"}}
        assert run(access.click_ref(1))["element"] == 'Button "Raw"'
        assert screen.journal.calls == [("invoke", "Invoke", "Raw")]


class TestType:
    @pytest.mark.parametrize("clear_first, set_values", [(True, ["", "remote"]), (False, ["remote"])])
    def test_value_pattern_replaces_the_content(self, access, package, form, clear_first, set_values):
        journal = form()
        assert run(access.type_ref(3, "remote", clear_first=clear_first)) == {
            "success": True, "action": "type", "ref": 3, "element": 'Edit "Server"', "text": "remote",
            "pressed_enter": False}
        assert acted(journal) == [("value", "SetValue", "Server", text) for text in set_values]

    def test_value_pattern_then_enter(self, access, package, form):
        journal = form()
        assert run(access.type_ref(3, "x", press_enter=True))["pressed_enter"] is True
        enter = (("type_keys", "{ENTER}", {}, "Server") if package == "pywinauto" else ("SendKeys", "{Enter}", 0.01))
        assert acted(journal)[-1] == enter

    def test_when_only_enter_fails_the_retyped_text_replaces_itself(self, access, package, form, screen, sleeps):
        journal = form(Server={"once type_keys"})
        screen.failing_keys.add("{Enter}")
        assert run(access.type_ref(3, "remote", clear_first=False, press_enter=True))["action"] == "type"
        if package == "pywinauto":
            assert [call[:2] for call in acted(journal)] == [
                ("value", "SetValue"), ("type_keys", "{ENTER}"), ("click_input", "Server"), ("type_keys", "^a"),
                ("type_keys", "remote"), ("type_keys", "{ENTER}")]
        else:
            assert [call[:2] for call in acted(journal)] == [
                ("value", "SetValue"), ("SendKeys", "{Enter}"), ("Click", "Server"), ("SendKeys", "{Ctrl}a"),
                ("SendKeys", "remote"), ("SendKeys", "{Enter}")]

    def test_synthetic_typing_with_paced_keys_and_waits_on_the_worker(self, access, package, form, sleeps):
        journal = form()
        assert run(access.type_ref(4, "a b", press_enter=True))["action"] == "type"
        if package == "pywinauto":
            no_focus = {"set_foreground": False}
            assert acted(journal) == [
                ("click_input", "Notes"), ("type_keys", "^a", no_focus, "Notes"),
                ("type_keys", "a b", {"with_spaces": True, "set_foreground": False}, "Notes"),
                ("type_keys", "{ENTER}", no_focus, "Notes")]
        else:
            assert acted(journal) == [("Click", "Notes"), ("SendKeys", "{Ctrl}a", 0.01), ("SendKeys", "a b", 0.02),
                                      ("SendKeys", "{Enter}", 0.01)]
        assert [seconds for seconds, _ in sleeps.blocking] == [0.1, 0.05]
        assert threading.get_ident() not in {thread for _, thread in sleeps.blocking}
        assert sleeps.awaited == []

    def test_pywinauto_types_key_notation_characters_literally(self, access, form, pywinauto_only, sleeps):
        journal = form()
        run(access.type_ref(4, "50% off (net) {x}+y^~", clear_first=False))
        assert [call[1] for call in acted(journal) if call[0] == "type_keys"] == [
            "50{%} off {(}net{)} {{}x{}}{+}y{^}{~}"]

    @pytest.mark.parametrize("text, typing", [
        ("hello", ("pyautogui.typewrite", "hello", {"interval": 0.02})),
        ("héllo", ("pyautogui.write", "héllo")),
    ])
    def test_keyboard_fallback(self, access, package, form, sleeps, text, typing):
        journal = form(Notes={"click_input", "Click"})
        assert run(access.type_ref(4, text, press_enter=True)) == {
            "success": True, "action": "type (keyboard fallback)", "ref": 4, "text": text}
        assert [call for call in journal.calls if call[0].startswith("pyautogui")] == [
            ("pyautogui.click", 20, 40), ("pyautogui.hotkey", "ctrl", "a"), typing, ("pyautogui.press", "enter")]
        assert sleeps.awaited == [(0.1, threading.get_ident()), (0.05, threading.get_ident())]

    def test_keyboard_fallback_without_select_all(self, access, package, form, sleeps):
        journal = form(Notes={"click_input", "Click"})
        run(access.type_ref(4, "x", clear_first=False))
        assert [call[0] for call in journal.calls if call[0].startswith("pyautogui")] == [
            "pyautogui.click", "pyautogui.typewrite"]
        assert [seconds for seconds, _ in sleeps.awaited] == [0.1]

    def test_without_pyautogui_the_native_error_is_reported(self, access, package, form, no_pyautogui, sleeps):
        form(Notes={"click_input", "Click"})
        synthetic = "click_input" if package == "pywinauto" else "Click"
        assert run(access.type_ref(4, "x")) == {"success": False, "error": f"{synthetic} failed on Notes", "ref": 4}


class TestSelectAndToggle:
    def test_uiautomation_selects_the_first_item_containing_the_value(self, access, form, uiautomation_only, sleeps):
        journal = form()
        assert run(access.select_ref(6, "large")) == {
            "success": True, "action": "select", "ref": 6, "element": 'ComboBox "Size"', "value": "large"}
        assert acted(journal) == [("expand", "Expand", "Size"), ("selection_item", "Select", "Large")]
        assert [seconds for seconds, _ in sleeps.blocking] == [0.2]

    def test_uiautomation_clicks_an_item_whose_selection_fails(self, access, form, uiautomation_only, sleeps):
        journal = form(Large={"selection_item.Select"})
        assert run(access.select_ref(6, "Large"))["success"] is True
        assert acted(journal)[-1] == ("Click", "Large")

    def test_pywinauto_selects_by_value_or_clicks_the_matching_item(self, access, form, pywinauto_only, sleeps):
        journal = form()
        run(access.select_ref(6, "Large"))
        assert acted(journal) == [("select", "Large", "Size")]
        journal = form(Size={"select"})
        journal.entries.clear()
        assert run(access.select_ref(6, "X-"))["success"] is True
        assert acted(journal) == [("select", "X-", "Size"), ("expand", "Size"), ("child_window", ".*X-.*", "Size"),
                                  ("click_input", "X-Large")]

    def test_selecting_a_missing_value_fails(self, access, package, form, sleeps):
        form(Size={"select"})
        assert run(access.select_ref(6, "Huge")) == {"success": False, "error": "Could not select 'Huge'", "ref": 6}

    def test_uiautomation_without_a_selection_pattern_does_not_touch_the_list(self, access, form, uiautomation_only,
                                                                              sleeps):
        journal = form(Size={"get_selection"})
        assert run(access.select_ref(6, "Large")) == {
            "success": False, "error": "Could not select 'Large'", "ref": 6}
        assert acted(journal) == []

    def test_toggle(self, access, package, form):
        journal = form()
        assert run(access.toggle_ref(5)) == {"success": True, "action": "toggle", "ref": 5, "element": 'CheckBox "Sync"'}
        assert run(access.toggle_ref(4))["success"] is True
        synthetic = "click_input" if package == "pywinauto" else "Click"
        assert acted(journal) == [("toggle", "Toggle", "Sync"), (synthetic, "Notes")]
