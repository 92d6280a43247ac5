"""Rendering a walker answer into the snapshot text and the ref map."""

import pytest

HINT = "Use ref numbers to interact: desktop_click_ref(1), desktop_type_ref(2, 'text'), etc."


def render(access, answer):
    return access._render_atspi_answer(answer)


def test_editor_window(access, walker_answer):
    answer = walker_answer((0, "frame", "Editor", "", 0), (1, "push button", "Save", "", 1),
                           (2, "text", "", "hello", 2), (0, "label", "Ready", "", 2))
    answer.update(bus_name=":1.42", pid=4242)
    answer["elements"][1]["path"] = [0, 3]
    answer["elements"][2]["path"] = [0, 3, 1]
    result = render(access, answer)
    assert result == {
        "success": True, "window": "Editor",
        "snapshot": 'Window: Editor\n\nframe: Editor\n  [1] push button "Save"\n    [2] text value="hello"\n'
                    "    label: Ready",
        "element_count": 2, "platform": "linux_atspi", "hint": HINT,
    }
    assert access._ref_map == {
        1: {"role": "push button", "name": "Save", "value": "", "backend": "linux_atspi", "bus_name": ":1.42",
            "pid": 4242, "path": [0, 3]},
        2: {"role": "text", "name": "", "value": "hello", "backend": "linux_atspi", "bus_name": ":1.42",
            "pid": 4242, "path": [0, 3, 1]},
    }
    assert [list(record) for record in access._ref_map.values()] == [
        ["role", "name", "value", "backend", "bus_name", "pid", "path"]] * 2
    assert access._ref_counter == 2


def test_refs_are_renumbered_in_answer_order_and_replace_the_old_map(access, walker_answer):
    access._ref_map = {1: {"backend": "pywinauto"}, 9: {"backend": "pywinauto"}}
    result = render(access, walker_answer((7, "link", "a", "", 0), (0, "label", "", "", 0), (3, "link", "b", "", 0)))
    assert result["snapshot"] == 'Window: Editor\n\n[1] link "a"\n[2] link "b"'
    assert sorted(access._ref_map) == [1, 2] and result["element_count"] == 2


def test_values_names_and_indentation(access, walker_answer):
    long_value = "é" * 150
    long_name = "ü" * 250
    result = render(access, walker_answer(
        (1, "slider", "42.0", "42.0", 0),     # a value equal to the name is not repeated
        (1, "text", "", long_value, 1),        # cut to 100 characters, no ellipsis
        (1, "push button", long_name, "", 5),  # interactive names are never cut; depth 5 indents like 4
        (0, "label", long_name, "", 7),        # context names are cut to 200 characters
        (0, "panel", "p", "", -2),
    ))
    lines = result["snapshot"].split("\n")
    assert lines[2] == '[1] slider "42.0"'
    assert lines[3] == '  [2] text value="' + "é" * 100 + '"'
    assert lines[4] == '        [3] push button "' + long_name + '"'
    assert lines[5] == "        label: " + "ü" * 200
    assert lines[6] == "panel: p"


def test_texts_are_printed_unchanged_but_on_one_line(access, walker_answer):
    result = render(access, walker_answer((1, "entry", 'say "hi"\nnow', "\ud800 odd", 0), window="Ünïcode 😀"))
    assert result["snapshot"] == 'Window: Ünïcode 😀\n\n[1] entry "say "hi" now" value="\ud800 odd"'
    assert access._ref_map[1] == {"role": "entry", "name": 'say "hi"\nnow', "value": "\ud800 odd",
                                  "backend": "linux_atspi", "bus_name": "", "pid": None, "path": []}


def test_line_breaks_and_blanks(access, walker_answer):
    result = render(access, walker_answer(
        (1, "text", "Notes", "first line\nsecond\r\nthird\rfourth\u2028fifth\n\n", 0),
        (0, "label", "  Two-line\ntooltip  ", "", 0),
        (0, "label", " \n\t ", "", 0),             # blanks only: no name, no line
        (1, "push button", "\n ", "", 0),           # listed, without a name
        (1, "slider", " 5 ", "5", 0),                # equal once stripped
        (0, "label", "[9] push button \"Fake\"\nlabel: injected", "", 0),
        window="Doc\nTitle"))
    assert result["snapshot"].split("\n") == [
        "Window: Doc Title", "", '[1] text "Notes" value="first line second third fourth fifth"',
        "label: Two-line tooltip", "[2] push button", '[3] slider "5"',
        'label: [9] push button "Fake" label: injected']


@pytest.mark.parametrize("answer, snapshot", [
    ({"success": True, "window": "Empty"}, "Window: Empty\n"),
    ({"success": True, "window": "Nulls", "elements": [{"ref": 1, "role": "link", "name": None}]},
     'Window: Nulls\n\n[1] link'),
    ({"success": True, "window": "Partial", "elements": [{"role": "label", "name": "x"}]}, "Window: Partial\n\nlabel: x"),
])
def test_missing_fields_take_defaults(access, answer, snapshot):
    assert render(access, answer)["snapshot"] == snapshot


def test_an_odd_process_id_or_path_reads_as_unknown(access, walker_answer):
    answer = walker_answer((1, "link", "a", "", 0), (1, "link", "b", "", 0))
    answer.update(bus_name=None, pid=True)
    answer["elements"][0]["path"] = "0/1"
    render(access, answer)
    assert [(record["bus_name"], record["pid"], record["path"]) for record in access._ref_map.values()] == [
        ("", None, [])] * 2


@pytest.mark.parametrize("answer, error", [
    ({"success": True}, KeyError),
    ({"success": True, "window": "W", "elements": {"ref": 1}}, TypeError),
    ({"success": True, "window": "W", "elements": [["link"]]}, TypeError),
    ({"success": True, "window": "W", "elements": [{"ref": 1, "depth": 1.5}]}, TypeError),
])
def test_malformed_answers_raise_and_leave_the_refs(access, answer, error):
    access._ref_map = {1: {"backend": "linux_atspi"}}
    with pytest.raises(error):
        render(access, answer)
    assert access._ref_map == {1: {"backend": "linux_atspi"}}
