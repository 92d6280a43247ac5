"""The walker program's own logic (window choice, depth limit, values, failures),
run by the real interpreter over made-up accessible trees."""

import asyncio
import json
import shlex
import sys
from pathlib import Path

import pytest

FAKE_BINDINGS = Path(__file__).with_name("fake_atspi")


def node(role, name="", children=(), **details):
    return {"role": role, "name": name, "children": list(children), **details}


def frame(name, *children, **details):
    return node("frame", name, children, **details)


def app(name, *windows, pid=None):
    return node("application", name, windows, **({} if pid is None else {"pid": pid}))


@pytest.fixture
def walk(access, linux, programs, tmp_path, monkeypatch):
    """walk(tree, title=None, depth=8): the snapshot of `tree` (a list of applications)."""
    access._linux_atspi_available = True
    programs.add("python3", f"PYTHONPATH={shlex.quote(str(FAKE_BINDINGS))} exec {shlex.quote(sys.executable)} \"$@\"")
    tree_file = tmp_path / "tree.json"
    monkeypatch.setenv("FAKE_ATSPI_TREE", str(tree_file))

    def snapshot(tree, title=None, depth=8, **options):
        tree_file.write_text(json.dumps(tree))
        return asyncio.run(access.snapshot(title, depth, **options))

    return snapshot


def fake_x(programs, windows, active=""):
    """xprop and xdotool for X windows given as {decimal id: (title, pid)}."""
    listed = ", ".join(hex(int(window_id)) for window_id in windows)
    programs.printing("xprop", f"_NET_CLIENT_LIST(WINDOW): window id # {listed}\n")
    names = "".join(f'  "{i}") printf %s {shlex.quote(title)} ;;\n' for i, (title, _) in windows.items())
    pids = "".join(f'  "{i}") echo {pid} ;;\n' for i, (_, pid) in windows.items())
    programs.add("xdotool", f"""case "$1" in
  getactivewindow) echo {active} ;;
  getwindowname) case "$2" in
{names}  esac ;;
  getwindowpid) case "$2" in
{pids}  esac ;;
esac""")


def lines(result):
    assert result["success"], result
    return result["snapshot"].split("\n")[2:]


class TestWindowChoice:
    TREE = [
        app("panel", node("panel", "Top bar")),
        app("mail", frame("Inbox - Mail", node("label", "inbox")),
            node("dialog", "Save changes?", [node("label", "dialog")], states=["active"])),
        app("editor", None, frame("Editor", node("label", "editor"), states=["active"])),
    ]

    def test_the_active_frame_window_or_dialog(self, walk):
        result = walk(self.TREE)
        assert result["window"] == "Save changes?" and lines(result) == ["  label: dialog"]

    @pytest.mark.parametrize("role", ["file chooser", "alert", "window", "filler"])
    def test_every_top_level_window_role_counts(self, walk, role):
        tree = [app("a", frame("Main"), node(role, "Open File", [node("label", "pick")], states=["active"]))]
        assert walk(tree)["window"] == "Open File"

    def test_a_title_matches_case_insensitively_as_a_substring(self, walk):
        assert walk(self.TREE, "EDIT")["window"] == "Editor"

    def test_an_exact_title_wins_over_a_longer_one_holding_it(self, walk):
        tree = [app("a", frame("Editor Test")), app("b", frame("Editor"))]
        assert walk(tree, "Editor")["window"] == "Editor"
        assert walk(tree, "editor")["window"] == "Editor Test"

    def test_no_other_window_stands_in(self, walk):
        assert walk(self.TREE, "nothing") == {"success": False, "error": "No window found matching: nothing"}
        inactive = [app("a", node("dialog", "Dialog"), frame(""), node("window", "Plain window"))]
        assert walk(inactive) == {"success": False, "error": "No window found"}

    def test_the_window_of_a_process(self, walk, programs):
        """With X naming another title (or no accessible window active), the application
        of the X window's process gives its active or only window."""
        windows = {"7": ("Notes - X title", 4242)}
        fake_x(programs, windows, active="7")
        tree = [app("other", frame("Other", states=["active"]), pid=1),
                app("notes", frame("", node("label", "body")), pid=4242)]
        result = walk(tree, "Notes - X title")
        assert result["window"] == "Notes - X title" and lines(result) == ["  label: body"]
        assert walk(tree, "Notes")["window"] == "Notes - X title"
        idle = [app("notes", frame("one"), frame("two", states=["active"]), pid=4242)]
        assert walk(idle)["window"] == "two"
        several = [app("notes", frame("one"), frame("two"), pid=4242)]
        assert walk(several) == {"success": False,
                                 "error": "The focused window exposes no accessibility tree: Notes - X title"}
        assert walk(several, "Notes - X") == {"success": False, "error": "No window found matching: Notes - X"}

    def test_a_focused_window_without_accessibility_is_named(self, walk, programs):
        fake_x(programs, {"9": ("xmessage", 777)}, active="9")
        tree = [app("editor", frame("Editor"), pid=1)]
        assert walk(tree) == {"success": False, "error": "The focused window exposes no accessibility tree: xmessage"}
        assert walk(tree, "xmess") == {"success": False, "error": "No window found matching: xmess"}

    def test_no_window_at_all(self, walk, access):
        access._ref_map = {1: {"backend": "linux_atspi"}}
        assert walk([app("daemon")]) == {"success": False, "error": "No window found"}
        assert access._ref_map == {1: {"backend": "linux_atspi"}}

    def test_unreadable_windows_and_applications_are_passed_over(self, walk):
        tree = [node("application", "broken", [frame("x")], fail=["children"]),
                app("half", frame("Bad", fail=["states"]), frame("Good", states=["active"]))]
        assert walk(tree)["window"] == "Good"

    def test_an_unnamed_window_is_unknown(self, walk):
        assert walk([app("a", frame("", states=["active"]))])["window"] == "Unknown"


class TestWalk:
    def test_depth_limit_and_indentation(self, walk):
        deep = node("label", "depth 6")
        for depth in range(5, 0, -1):
            deep = node("panel", f"depth {depth}", [deep])
        window = frame("W", deep, states=["active"])
        assert lines(walk([app("a", window)], depth=5)) == [
            "frame: W", "  panel: depth 1", "    panel: depth 2", "      panel: depth 3", "        panel: depth 4",
            "        panel: depth 5"]
        assert lines(walk([app("a", window)], depth=0)) == ["frame: W"]
        assert walk([app("a", window)], depth=-1)["snapshot"] == "Window: W\n"

    def test_refs_values_and_names(self, walk):
        window = frame("W", node("push button", "OK"), node("push button", "Off", states=[]),
                       node("push button", "", description="Close"), node("slider", "Volume", value=42),
                       node("spin button", "Count", legacy_value=True, value=3),
                       node("entry", "", text="x" * 1500), node("password text", "Password", text="secret"),
                       node("text", "Notes", text="Notes"), node("label", ""), node("image", "ignored"),
                       node("heading", "", description="Described"), states=["active"])
        assert lines(walk([app("a", window)])) == [
            "frame: W", '  [1] push button "OK"', '  [2] push button "Close"', '  [3] slider "Volume" value="42.0"',
            '  [4] spin button "Count" value="3.0"', '  [5] entry value="' + "x" * 100 + '"',
            '  [6] password text "Password"', '  [7] text "Notes"', "  heading: Described"]

    def test_disabled_elements_keep_their_children(self, walk):
        window = frame("W", node("combo box", "Size", [node("menu item", "Large")], states=[]), states=["active"])
        assert lines(walk([app("a", window)])) == ["frame: W", '    [1] menu item "Large"']

    def test_unreadable_states_count_as_enabled(self, walk):
        window = frame("W", node("check box", "Sync", fail=["states"]), states=["active"])
        assert lines(walk([app("a", window)])) == ["frame: W", '  [1] check box "Sync"']

    def test_a_failing_node_is_left_out_with_its_subtree_and_the_walk_goes_on(self, walk):
        window = frame("W", node("panel", "p", [node("push button", "lost")], fail=["role"]),
                       node("panel", "kids", [node("link", "first"), node("link", "second")], fail=["child"]),
                       None, node("link", "after"), states=["active"])
        assert lines(walk([app("a", window)])) == ["frame: W", "  panel: kids", '    [1] link "first"',
                                                   '  [2] link "after"']


class TestOptions:
    WINDOW = frame("W", node("link", "a"), node("label", "between"), node("push button", "Off", states=[]),
                   node("link", "b"), node("panel", "p", [node("link", "c")]), states=["active"])

    def test_a_bound_stops_the_walk_after_its_last_element(self, walk, access):
        result = walk([app("a", self.WINDOW)], max_elements=2)
        assert lines(result) == ["frame: W", '  [1] link "a"', "  label: between", '  [2] link "b"',
                                 "... more elements not shown"]
        assert result["element_count"] == 2 and sorted(access._ref_map) == [1, 2]
        assert lines(walk([app("a", self.WINDOW)], max_elements=1)) == ["frame: W", '  [1] link "a"',
                                                                        "... more elements not shown"]
        # Nothing left to show: no closing line.
        assert walk([app("a", self.WINDOW)], max_elements=3)["snapshot"].endswith('    [3] link "c"')

    def test_states_and_disabled_elements(self, walk):
        window = frame("W", node("check box", "Sync", states=["sensitive", "checked", "focused"]),
                       node("push button", "", states=["pressed"]),
                       node("tree item", "Folder", states=["enabled", "expandable", "selected"]),
                       node("tree item", "Open", states=["enabled", "expandable", "expanded"]),
                       node("label", "Ready", states=["focused"]), states=["active"])
        assert lines(walk([app("a", window)], states=True)) == [
            "frame: W", '  [1] check box "Sync" (checked, focused)', "  push button: (disabled, pressed)",
            '  [2] tree item "Folder" (selected, collapsed)', '  [3] tree item "Open" (expanded)', "  label: Ready"]
        assert lines(walk([app("a", self.WINDOW)], states=True))[3] == "  push button: Off (disabled)"

    def test_out_of_time_the_walk_answers_what_it_read(self, walk, access):
        window = frame("W", node("link", "a"), node("panel", "slow", [node("link", "b")], slow=60),
                       node("link", "never"), states=["active"])
        access._ref_map = {5: {"backend": "linux_atspi"}}
        assert walk([app("a", window)]) == {
            "success": False, "error": "AT-SPI2 snapshot timed out",
            "partial_snapshot": 'Window: W\n\nframe: W\n  [1] link "a"\n  panel: slow'}
        assert list(access._ref_map) == [1] and access._ref_map[1]["name"] == "a"


def test_the_linux_backend_passes_on_only_the_options_given(access, linux, recorder):
    """A host may replace the AT-SPI2 snapshot with a two-argument function."""
    access._linux_atspi_available = True
    access._snapshot_linux_atspi = recorder.method("atspi")
    asyncio.run(access.snapshot("W", 3))
    calls = []

    async def with_options(title, depth, **options):
        calls.append((title, depth, options))
        return {}

    access._snapshot_linux_atspi = with_options
    asyncio.run(access.snapshot("W", 3, states=True, max_elements=5))
    assert recorder.calls == [("atspi", ("W", 3))] and calls == [("W", 3, {"states": True, "max_elements": 5})]


@pytest.mark.parametrize("bound, error", [(0, ValueError), ("5", TypeError)])
def test_the_walker_takes_only_a_bound_of_at_least_one(access, bound, error):
    with pytest.raises(error):
        asyncio.run(access._snapshot_linux_atspi(None, 8, max_elements=bound))
