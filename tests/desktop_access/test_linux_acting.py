"""Linux actions by ref against a fake acting program (python3 on PATH) and a fake
xdotool: the request the program receives, and how each of its answers becomes a
result. The real program is exercised on real windows in tests/rig/test_act_by_ref.py."""

import asyncio
import json

import pytest

SAVE = {"role": "push button", "name": "Save", "value": "", "backend": "linux_atspi", "bus_name": ":1.7",
        "pid": 4242, "path": [0, 0, 3]}
STALE = "Ref [1] no longer matches an element: the window changed or closed. Take a new desktop_snapshot() to get " \
        "current refs."


def run(coroutine):
    return asyncio.run(coroutine)


@pytest.fixture
def acting(access, linux, programs):
    access._linux_atspi_available = True
    access._ref_map = {1: dict(SAVE)}
    return access


def answering(programs, *answers):
    """A fake python3 that saves each request and answers the given objects in turn."""
    programs.calls_dir.joinpath("count").write_text("0")
    lines = [f'[ "$n" = {number} ] && echo {json.dumps(json.dumps(answer))}' for number, answer in enumerate(answers)]
    count = programs.calls_dir / "count"
    programs.add("python3", f'n=$(/bin/cat {count}); echo $((n + 1)) > {count}\n' + "\n".join(lines) + "\nexit 0")


def requests(programs):
    return [json.loads(call[2]) for call in programs.calls("python3")]


def test_the_request_names_the_element_and_any_text_arrives_whole(acting, programs):
    answering(programs, {"success": True, "done": "editable", "value": "Grüße ☃ 東京 \ud83c", "pressed_enter": False})
    text = "Grüße ☃ 東京 \ud83c"
    result = run(acting.type_ref(1, text, clear_first=False))
    assert result == {"success": True, "action": "type", "ref": 1, "element": 'push button "Save"', "text": text,
                      "pressed_enter": False, "value": text}
    request = programs.calls("python3")[0][2]
    assert request.isascii()
    assert json.loads(request) == {"op": "type", "bus_name": ":1.7", "pid": 4242, "path": [0, 0, 3],
                                   "role": "push button", "name": "Save", "text": text, "clear_first": False,
                                   "press_enter": False}


def test_a_record_that_cannot_find_its_element_is_stale_and_runs_nothing(acting, programs):
    answering(programs)
    for record in ({"role": "push button", "name": "Save", "value": "", "backend": "linux_atspi"},
                   dict(SAVE, path=[]), dict(SAVE, path=[0, "1"]), dict(SAVE, pid="4242")):
        acting._ref_map = {1: record}
        assert run(acting.click_ref(1)) == {"success": False, "error": STALE, "ref": 1}
        assert run(acting.toggle_ref(1))["error"] == STALE
    assert programs.calls("python3") == []


@pytest.mark.parametrize("answer, expected", [
    ({"success": False, "stale": True}, STALE),
    ({"success": False, "error": "Could not select 'Huge'"}, "Could not select 'Huge'"),
])
def test_failed_answers(acting, programs, answer, expected):
    answering(programs, answer)
    assert run(acting.select_ref(1, "Huge")) == {"success": False, "error": expected, "ref": 1}


def test_a_program_that_prints_nothing_reports_its_error_output(acting, programs):
    programs.printing("python3", "", "ValueError: Namespace Atspi not available\n", 1)
    assert run(acting.click_ref(1)) == {"success": False, "ref": 1,
                                        "error": "AT-SPI2 failed: ValueError: Namespace Atspi not available"}


def test_without_an_action_the_pointer_clicks_in_the_element_window(acting, programs):
    acting._linux_xdotool_available = True
    programs.add("xdotool", 'case "$1" in search) echo 77;; getwindowname) echo Editor;; esac')
    answering(programs, {"success": True, "done": None, "rectangle": [100, 40, 101, 41], "window_relative": False,
                         "window": "Editor"})
    assert run(acting.click_ref(1)) == {"success": True, "action": "click (coordinate fallback)", "ref": 1,
                                        "element": 'push button "Save"', "coordinates": (150, 60)}
    assert programs.calls("xdotool") == [["search", "--onlyvisible", "--pid", "4242"], ["getwindowname", "77"],
                                         ["windowactivate", "--sync", "77"],
                                         ["mousemove", "--sync", "150", "60", "click", "1"]]


def test_a_window_relative_place_adds_the_window_origin_and_toggle_reads_back(acting, programs):
    acting._linux_xdotool_available = True
    programs.add("xdotool", 'case "$1" in search) echo 77;; getwindowname) echo Other;; esac')
    programs.printing("xwininfo", "  Absolute upper-left X:  81\n  Absolute upper-left Y:  80\n")
    answering(programs, {"success": True, "done": None, "rectangle": [20, 104, 600, 16], "window_relative": True,
                         "window": "Editor", "checked": False}, {"success": True, "checked": True})
    assert run(acting.toggle_ref(1)) == {"success": True, "action": "toggle", "ref": 1,
                                         "element": 'push button "Save"', "checked": True}
    assert programs.calls("xdotool")[-1] == ["mousemove", "--sync", "401", "192", "click", "1"]
    assert [request["op"] for request in requests(programs)] == ["toggle", "checked"]
    assert requests(programs)[1]["before"] is False


def test_no_place_or_no_pointer_is_reported_not_guessed(acting, programs):
    answering(programs, {"success": True, "done": None, "rectangle": [1, 2, 3, 4], "window_relative": False},
              {"success": True, "done": None, "rectangle": None, "window_relative": False})
    assert run(acting.click_ref(1, double_click=True)) == {
        "success": False, "error": "PyAutoGUI not available for clicking. Install: pip install pyautogui", "ref": 1}
    acting._linux_xdotool_available = True
    assert run(acting.click_ref(1)) == {
        "success": False, "ref": 1, "error": "Direct element clicking via AT-SPI2 is not yet supported. Use screenshot + "
        "coordinate-based click instead: desktop click x=100 y=200",
        "hint": "Take a screenshot first, then click at the element's coordinates."}
    assert [request["op"] for request in requests(programs)] == ["place", "click"]


def test_keys_wait_for_the_window_to_be_activated(acting, programs):
    acting._linux_xdotool_available = True
    programs.add("xdotool", 'case "$1" in search) echo 77;; getwindowname) echo Editor;; esac')
    answering(programs, {"success": True, "done": "editable", "focus_needed": True, "text": None, "window": "Editor"},
              {"success": True, "done": "editable", "value": "hi", "pressed_enter": True})
    assert run(acting.type_ref(1, "hi", press_enter=True))["pressed_enter"] is True
    assert ["windowactivate", "--sync", "77"] in programs.calls("xdotool")
    keys = requests(programs)[1]
    assert (keys["op"], keys["text"], keys["done"], keys["press_enter"]) == ("keys", None, "editable", True)


def test_an_option_picked_in_an_open_list_counts_only_once_the_combo_box_shows_it(acting, programs):
    acting._pyautogui_available = False
    acting._linux_xdotool_available = True
    programs.add("xdotool", 'case "$1" in search) echo 77;; getwindowname) echo Editor;; esac')
    popup = {"success": True, "done": None, "rectangle": [0, 0, 10, 10], "window_relative": False, "window": "Editor",
             "popup": True, "value": "Large"}
    answering(programs, popup, {"success": True, "shows": True}, popup, {"success": True, "shows": False})
    assert run(acting.select_ref(1, "large")) == {"success": True, "action": "select", "ref": 1,
                                                  "element": 'push button "Save"', "value": "Large"}
    assert run(acting.select_ref(1, "large")) == {"success": False, "error": "Could not select 'large'", "ref": 1}
    # The open list closes when its window is activated: the pointer goes straight there.
    assert [call[0] for call in programs.calls("xdotool")] == ["mousemove", "mousemove"]
    assert [request["value"] for request in requests(programs)] == ["large", "Large", "large", "Large"]
