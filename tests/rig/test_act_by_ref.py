"""Acting by ref on the real GTK 3, GTK 4 and Qt 5 test windows: each action on the
roles it applies to, checked in the window's own record of what reached it."""

import asyncio
import json
import subprocess
import time
from pathlib import Path

import pytest

from nebrix.pc.desktop_access import DesktopAccess
from rig import WindowRequest

TOOLKITS = ("gtk3", "gtk4", "qt5")
# (role, name) of the widgets in each toolkit's snapshot; GTK 4 names unlabelled
# widgets after their class and shows radio buttons as check boxes, Qt shows the
# toggle button as a check box. "text" is the entry, the multi-line text comes second.
WIDGETS = {
    "gtk3": {"entry": ("text", ""), "radio": ("radio button", "Right"), "bold": ("toggle button", "Bold"),
             "combo": ("combo box", "")},
    "gtk4": {"entry": ("text", "GtkEntry"), "notes": ("text", "GtkTextView"), "radio": ("check box", "Right"),
             "bold": ("push button", "Bold"), "combo": ("combo box", "GtkComboBoxText"),
             "dropdown": ("combo box", "GtkDropDown")},
    "qt5": {"entry": ("text", ""), "radio": ("radio button", "Right"), "bold": ("check box", "Bold"),
            "combo": ("combo box", "")},
}
# Widgets of the same role and name in every toolkit.
FIXED_ROLES = {"Save": "push button", "Enable sync": "check box", "Options": "menu item"}
GREETING = "Grüße – ☃ 東京 🎉"
ACTING_PROGRAM = Path(__file__).resolve().parents[2] / "src" / "desktop_access" / "atspi_acting.py"


def run(coroutine):
    return asyncio.run(coroutine)


@pytest.fixture(scope="module")
def windows(virtual_desktop):
    # GTK 4 with its drop-down too: its combo box names no options.
    opened = virtual_desktop.open_windows([WindowRequest(f"Act {toolkit}", toolkit, dropdown=toolkit == "gtk4",
                                                         menu=True) for toolkit in TOOLKITS], full=True, timeout=60)
    yield dict(zip(TOOLKITS, opened))
    for window in opened:
        window.close()


@pytest.fixture(scope="module")
def access(virtual_desktop):
    controller = DesktopAccess()
    controller._ensure_init()
    assert controller._linux_atspi_available and controller._pyautogui_available
    return controller


class Snapshot:
    """A fresh snapshot of one window and the refs of its widgets."""

    def __init__(self, access, window, max_depth=8):
        result = run(access.snapshot(window.title, max_depth))
        assert result["success"], result
        self.records = dict(access._ref_map)
        self.widgets = WIDGETS[window.toolkit]

    def refs(self, role, name=None):
        return [ref for ref, record in self.records.items()
                if record["role"] == role and (name is None or record["name"] == name)]

    def ref(self, widget):
        role, name = self.widgets.get(widget, (widget, None)) if widget not in FIXED_ROLES else (
            FIXED_ROLES[widget], widget)
        if widget == "notes" and "notes" not in self.widgets:
            return self.refs("text")[1]
        return self.refs(role, name)[0]


@pytest.fixture(params=TOOLKITS)
def window(request, windows, virtual_desktop):
    return windows[request.param]


def inside(point, rectangle):
    x, y, width, height = rectangle
    return x <= point[0] < x + width and y <= point[1] < y + height


def releases_at(window, point, since):
    # A GTK 3 entry keeps the press to itself; the release reaches the window.
    return [event for event in window.state()["pointer"][since:]
            if event["kind"] == "release" and (event["x"], event["y"]) == tuple(point)]


def test_click_presses_a_button_through_its_action(access, window):
    ref = Snapshot(access, window).ref("Save")
    before = window.state()["clicks"]["Save"]
    assert run(access.click_ref(ref)) == {"success": True, "action": "click", "ref": ref,
                                          "element": 'push button "Save"',
                                          "hint": "Take a desktop_snapshot() to see the updated state."}
    window.wait_for(lambda state: state["clicks"]["Save"] == before + 1, what="the click")


def test_a_text_field_is_clicked_and_double_clicked_with_the_pointer(access, window):
    # A text field's own "activate" action is Enter, not a click.
    ref = Snapshot(access, window).ref("entry")
    since = len(window.state()["pointer"])
    result = run(access.click_ref(ref))
    assert result["action"] == "click (coordinate fallback)" and "hint" not in result
    assert inside(result["coordinates"], window.state()["geometry"]["entry"])
    window.wait_for(lambda state: releases_at(window, result["coordinates"], since), what="the click")
    since = len(window.state()["pointer"])
    twice = run(access.click_ref(ref, double_click=True))
    assert twice["action"] == "double_click" and twice["coordinates"] == result["coordinates"]
    # Qt answers a double click late on a loaded machine.
    window.wait_for(lambda state: len(releases_at(window, result["coordinates"], since)) == 2, timeout=15,
                    what="two clicks")


def test_typing_replaces_or_appends_any_text_and_presses_enter(access, window):
    snapshot = Snapshot(access, window)
    ref = snapshot.ref("entry")
    typed = run(access.type_ref(ref, GREETING, press_enter=True))
    assert typed == {"success": True, "action": "type", "ref": ref, "element": typed["element"], "text": GREETING,
                     "pressed_enter": True, "value": GREETING}
    window.wait_for(lambda state: state["entry"] == GREETING, what="the typed text")
    assert run(access.type_ref(ref, " !", clear_first=False))["value"] == GREETING + " !"
    window.wait_for(lambda state: state["entry"] == GREETING + " !", what="the appended text")
    notes = "Zeile 1\nZeile 2 ✓"
    # Enter in a text view is a new line after the text; AT-SPI cannot focus GTK 4's: a
    # click does.
    assert run(access.type_ref(snapshot.ref("notes"), notes, press_enter=True))["pressed_enter"] is True
    window.wait_for(lambda state: state["text"] == notes + "\n", what="the multi-line text")


@pytest.mark.parametrize("toolkit", ["qt5", "gtk3"])
def test_the_keyboard_way_types_any_text_once_the_field_has_the_focus(access, windows, virtual_desktop, toolkit):
    # The way taken by fields without EditableText, asked for directly on an entry. Qt
    # dropped or swapped characters typed back to back through remapped keys.
    window = windows[toolkit]
    window.activate()
    snapshot = Snapshot(access, window)
    text = "Grüße ☃ 東京 éàü€"
    request = dict(snapshot.records[snapshot.ref("entry")], op="keys",
                   text=text, clear_first=True, press_enter=True, done="keyboard")
    output = subprocess.run(["python3", str(ACTING_PROGRAM), json.dumps(request)], env=virtual_desktop.service_env,
                            capture_output=True, text=True, timeout=30)
    assert json.loads(output.stdout) == {"success": True, "done": "keyboard", "value": text, "pressed_enter": True}
    window.wait_for(lambda state: state["entry"] == text and state["keys"][-1] == "Return", what="the typed keys")


def test_toggle_reads_the_new_state_back(access, window):
    snapshot = Snapshot(access, window)
    check = snapshot.ref("Enable sync")
    result = run(access.toggle_ref(check))
    assert (result["success"], result["action"], result["checked"]) == (True, "toggle", True)
    window.wait_for(lambda state: state["check"] is True, what="the check box")
    assert run(access.toggle_ref(check))["checked"] is False
    window.wait_for(lambda state: state["check"] is False, what="the cleared check box")
    assert run(access.toggle_ref(snapshot.ref("radio")))["checked"] is True
    assert run(access.toggle_ref(snapshot.ref("bold")))["checked"] is True
    window.wait_for(lambda state: state["radio"] == "Right" and state["toggle"] is True, what="radio and toggle")


def menu_item_ref(access, window, name):
    """The ref of the "Options" menu's item `name` in a fresh snapshot. GTK 4 lists a
    menu's items only while it is open: the menu is opened by ref first."""
    snapshot = Snapshot(access, window)
    if window.toolkit == "gtk4":
        opened = run(access.click_ref(snapshot.ref("Options")))
        assert opened["action"] == "click (coordinate fallback)", opened
        # Its items sit twelve levels down.
        snapshot = wait_until(lambda: Snapshot(access, window, max_depth=12),
                              lambda fresh: fresh.refs(menu_item_role(window.toolkit, name), name))
    return snapshot.refs(menu_item_role(window.toolkit, name), name)[0]


def menu_item_role(toolkit, name):
    """GTK 3 gives check and radio menu items roles of their own."""
    if toolkit != "gtk3" or name == "About":
        return "menu item"
    return "check menu item" if name == "Word wrap" else "radio menu item"


def wait_until(make, holds, timeout=5):
    deadline = time.monotonic() + timeout
    while True:
        made = make()
        if holds(made) or time.monotonic() > deadline:
            return made
        time.sleep(0.1)


def test_menu_items_are_clicked_and_toggled_by_ref(access, window):
    ref = menu_item_ref(access, window, "About")
    result = run(access.click_ref(ref))
    assert (result["success"], result["action"]) == (True, "click"), result
    window.wait_for(lambda state: state["clicks"]["About"] == 1, what="the menu item's click")
    wrap = run(access.toggle_ref(menu_item_ref(access, window, "Word wrap")))
    assert (wrap["success"], wrap["checked"]) == (True, True), wrap
    window.wait_for(lambda state: state["wrap"] is True, what="the check menu item")
    dark = run(access.toggle_ref(menu_item_ref(access, window, "Dark")))
    assert (dark["success"], dark["checked"]) == (True, True), dark
    window.wait_for(lambda state: state["theme"] == "Dark", what="the radio menu item")
    assert window.state()["clicks"]["About"] == 1


def test_select_picks_a_list_row_by_name(access, window):
    first_row = Snapshot(access, window).refs("list item")[-3]
    result = run(access.select_ref(first_row, "banana"))
    assert result == {"success": True, "action": "select", "ref": first_row, "element": result["element"],
                      "value": "Banana"}
    window.wait_for(lambda state: state["list"] == "Banana", what="the selected row")


def test_select_in_a_combo_box_never_reports_what_did_not_happen(access, window, virtual_desktop):
    # Qt's through its open popup and the pointer, GTK 4's with the keys; the pointer
    # resting on a GTK 4 popup would pick the row under it.
    virtual_desktop.xdotool("mousemove", "1500", "900")
    combo = "dropdown" if window.toolkit == "gtk4" else "combo"
    ref = Snapshot(access, window).ref(combo)
    result = run(access.select_ref(ref, "large"))
    assert result.get("value") == "Large", result
    window.wait_for(lambda state: state[combo] == "Large", what="the selected option")
    assert run(access.select_ref(ref, "Huge")) == {"success": False, "error": "Could not select 'Huge'", "ref": ref}
    assert run(access.select_ref(ref, "medium"))["value"] == "Medium"
    window.wait_for(lambda state: state[combo] == "Medium", what="the option chosen after a failed choice")


def test_a_gtk4_combo_box_with_unnamed_options_is_left_closed(access, windows, virtual_desktop):
    # Its options show no names even with the popup open: nothing to match.
    window = windows["gtk4"]
    snapshot = Snapshot(access, window)
    ref = snapshot.ref("combo")
    assert run(access.select_ref(ref, "Large")) == {"success": False, "error": "Could not select 'Large'", "ref": ref}
    assert window.state()["combo"] is None
    # The popup closed again: its button is no longer pressed.
    record = snapshot.records[ref]
    button = dict(record, op="checked", before=True, path=[*record["path"], 0, 0], role="push button",
                  name="GtkToggleButton")
    output = subprocess.run(["python3", str(ACTING_PROGRAM), json.dumps(button)], env=virtual_desktop.service_env,
                            capture_output=True, text=True, timeout=30)
    assert json.loads(output.stdout) == {"success": True, "checked": False}


def test_a_ref_to_a_changed_or_closed_element_acts_on_nothing(access, windows, virtual_desktop):
    window = windows["gtk3"]
    snapshot = Snapshot(access, window)
    save = snapshot.ref("Save")
    record = snapshot.records[save]
    stale = ("Ref [{}] no longer matches an element: the window changed or closed. Take a new desktop_snapshot() "
             "to get current refs.")
    before = window.state()["clicks"]["Save"]
    changed = [dict(record, name="Save as"), dict(record, role="toggle button"), dict(record, path=record["path"][:-1]),
               dict(record, path=[*record["path"][:-1], 99]), dict(record, pid=record["pid"] + 1),
               dict(record, bus_name=":1.99999")]
    for number, changed_record in enumerate(changed, 100):
        access._ref_map[number] = changed_record
        assert run(access.click_ref(number)) == {"success": False, "error": stale.format(number), "ref": number}
        assert run(access.type_ref(number, "x"))["error"] == stale.format(number)
    # The same window opened again is another process: the old refs name nothing.
    reopened = virtual_desktop.open_test_window("Act again", "gtk3")
    try:
        access._ref_map = dict(Snapshot(access, reopened).records)
        again = Snapshot(access, reopened).ref("Save")
        reopened.close()
        reopened = virtual_desktop.open_test_window("Act again", "gtk3")
        assert run(access.toggle_ref(again))["error"] == stale.format(again)
        assert reopened.state()["clicks"]["Save"] == 0
    finally:
        reopened.close()
    assert window.state()["clicks"]["Save"] == before
