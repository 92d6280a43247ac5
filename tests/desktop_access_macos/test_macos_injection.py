"""No value placed in a script can change the script's statements: for hostile values in
every place where one is inserted, the script read as AppleScript has the same code as
with a harmless value, and the value is exactly one string literal that reads back as
the value itself."""

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from macos_fakes import (CLICK, FOCUS, FRONTMOST, KEY, TREE, TYPE, WINDOW_NAME, WINDOW_SEARCH,
                         assert_values_in_own_literals, record, run, tokenize)

HOSTILE = [
    'say "hello"',
    "C:\\dir\\",
    "\\",
    '"',
    "two\nlines\r\nand\ttab",
    '" & (do shell script "id") & "',
    '\\" & quit & \\"',
    '" -- the rest is a comment',
    '"(* open comment',
    '«event sysoexec» "id"',
    "Ünïcödé 日本語 😀",
    "bell\a escape\x1b[31m del\x7f line separator\u2028end",
    "",
]
MARKER = "marker"


def window_title_search(mac, osascript, value):
    osascript.answer(WINDOW_SEARCH, "")
    run(mac.snapshot(value))
    return osascript.script(WINDOW_SEARCH)


def tree_process(mac, osascript, value):
    osascript.answer(FRONTMOST, value)
    osascript.answer(TREE, "")
    run(mac.snapshot())
    return osascript.script(TREE)


def element_action(match, run_action, **fields):
    def place(mac, osascript, value):
        mac._ref_map = {1: record(**{**{"title": "Save"}, **{k: value if v is None else v for k, v in fields.items()}})}
        osascript.answer(match, "clicked")
        run(run_action(mac, value))
        return osascript.script(match)
    return place


def click(mac, value):
    return mac.click_ref(1)


def type_hello(mac, value):
    return mac.type_ref(1, "hello", press_enter=True)


def type_value(mac, value):
    return mac.type_ref(1, value)


def focused_window_process(mac, osascript, value):
    osascript.answer(FRONTMOST, value)
    osascript.answer(WINDOW_NAME, "")
    run(mac.get_focused_window())
    return osascript.script(WINDOW_NAME)


def focus_title(mac, osascript, value):
    osascript.answer(FOCUS, "")
    run(mac.focus_window(value))
    return osascript.script(FOCUS)


def key(mac, osascript, value):
    osascript.answer(KEY, "")
    run(mac.press_key(value))
    return osascript.script(KEY)


def key_of_combination(mac, osascript, value):
    osascript.answer(KEY, "")
    run(mac.press_key("cmd+shift+" + value))
    return osascript.script(KEY)


# name: (place, whether an empty value is inserted there, how the script holds the value)
PLACES = {
    "window title of the search": (window_title_search, False, str),
    "process of the tree": (tree_process, False, str),
    "process of the click": (element_action(CLICK, click, app=None), True, str),
    "title of the clicked element": (element_action(CLICK, click, title=None), False, str),
    "description of the clicked element": (element_action(CLICK, click, title="", description=None), False, str),
    "process of the typing": (element_action(TYPE, type_hello, app=None), True, str),
    "title of the typed-into element": (element_action(TYPE, type_hello, title=None), False, str),
    "typed text": (element_action(TYPE, type_value), True, str),
    "process of the focused window": (focused_window_process, False, str),
    "window title to focus": (focus_title, True, str),
    "key": (key, True, str.lower),
    "key of a combination": (key_of_combination, True, str.lower),
}


@pytest.mark.parametrize("place, value", [
    pytest.param(place, value, id=f"{place}-{value!r}")
    for place, (_, takes_empty, _) in PLACES.items() for value in HOSTILE if value or takes_empty])
def test_value_stays_one_literal(mac, osascript, place, value):
    insert, _, held_as = PLACES[place]
    reference = insert(mac, osascript, MARKER)
    osascript.reset()
    script = insert(mac, osascript, value)
    assert_values_in_own_literals(script, reference, {held_as(MARKER): held_as(value)})


@settings(max_examples=40, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(text=st.text(st.characters(blacklist_categories=["Cs"], blacklist_characters="\0"), max_size=40))
def test_any_typed_text_reads_back(mac, osascript, text):
    mac._ref_map = {1: record("Save")}
    osascript.reset()
    osascript.answer(TYPE, "typed")
    run(mac.type_ref(1, text))
    tokens = tokenize(osascript.script(TYPE))
    typed = tokens.index(("string", "typed"))
    assert tokens[typed - 3][1].endswith("\nkeystroke ") and tokens[typed - 2] == ("string", text)


def test_line_breaks_and_tabs_are_written_as_escapes(mac, osascript):
    mac._ref_map = {1: record("Save")}
    osascript.answer(TYPE, "typed")
    run(mac.type_ref(1, "a\nb\rc\td\x0be"))
    assert 'keystroke "a\\nb\\rc\\td\x0be"\n' in osascript.script(TYPE)


class TestValuesThatCannotBeSent:
    def test_nul_fails_before_osascript_starts(self, mac, osascript):
        result = run(mac.snapshot("a\0b"))
        assert result == {"success": False, "error": "embedded null byte"}
        mac._ref_map = {1: record("Save")}
        assert run(mac.type_ref(1, "\0")) == {"success": False, "error": "embedded null byte", "ref": 1}
        assert osascript.calls() == []

    def test_lone_surrogate(self, mac, osascript):
        mac._ref_map = {1: record("Save")}
        result = run(mac.type_ref(1, "x\ud800"))
        assert result["success"] is False and "surrogates not allowed" in result["error"]
        assert osascript.calls() == []


class TestTokenizer:
    def test_literals_and_escapes(self):
        assert tokenize('a "b\\"\\\\\\n\\r\\t" & "" c') == [
            ("code", "a "), ("string", 'b"\\\n\r\t'), ("code", " & "), ("string", ""), ("code", " c")]

    @pytest.mark.parametrize("script", ['"open', '"bad \\x"', '"ends in \\', 'x -- "y"', '"a" (* b *)'])
    def test_rejects(self, script):
        with pytest.raises(ValueError):
            tokenize(script)

    def test_a_value_that_escaped_is_caught(self):
        reference = 'tell process "marker"'
        with pytest.raises(AssertionError):
            assert_values_in_own_literals('tell process "x" & quit & ""', reference, {"marker": '" & quit & "'})
