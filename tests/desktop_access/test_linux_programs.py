"""The Linux backend against fake walker and xdotool programs on PATH: the program the
walker receives, how its answers and failures are read, and each xdotool command."""

import ast
import asyncio
import json
import logging
import os

import pytest

INSTALL_ATSPI = "Install: sudo apt install python3-gi gir1.2-atspi-2.0 at-spi2-core"


def run(coroutine):
    return asyncio.run(coroutine)


@pytest.fixture
def atspi(access, linux):
    access._linux_atspi_available = True
    access._pyautogui_available = True
    return access


@pytest.fixture
def xdotool(access, linux):
    access._linux_xdotool_available = True
    return access


class FastTimeLimits:
    """Shrinks each child's time limit a hundredfold and records the limits asked for.

    With `started` set, the shortened limit begins only once that file exists, that is
    once the child is surely running.
    """

    def __init__(self, monkeypatch) -> None:
        self.asked = []
        self.started = None
        real_wait_for = asyncio.wait_for

        async def wait_for(awaitable, timeout):
            self.asked.append(timeout)
            while self.started is not None and not self.started.exists():
                await asyncio.sleep(0.01)
            return await real_wait_for(awaitable, timeout / 100)

        monkeypatch.setattr(asyncio, "wait_for", wait_for)


@pytest.fixture
def fast_time_limits(monkeypatch):
    return FastTimeLimits(monkeypatch)


class TestWalkerProgram:
    def program(self, programs, access, title, depth=8, **options):
        saved = programs.calls_dir / "program.py"
        programs.add("python3", f'printf %s "$2" > {saved}\necho \'{{"success": false, "error": "No window found"}}\'')
        result = run(access.snapshot(title, depth, **options))
        assert result == {"success": False, "error": f"No window found matching: {title}" if title else
                          "No window found"}
        return saved.read_text()

    def test_header_then_body(self, programs, atspi):
        program = self.program(programs, atspi, None, 3.7)
        assert program.startswith('\nimport json, sys\nimport gi\ngi.require_version("Atspi", "2.0")\n'
                                  "from gi.repository import Atspi\n\nmax_depth = 3\ntarget_title = None\ntarget_pid = None\n"
                                  "max_elements = None\nwith_states = False\nwalk_seconds = 11\n\n")
        assert "def read_tree(" in program and "def walk(" in program
        assert program.index("def read_tree(") < program.index("def walk(")
        compile(program, "walker", "exec")
        program = self.program(programs, atspi, None, max_elements=2**40, states=True)
        assert "\nmax_elements = 1099511627776\nwith_states = True\nwalk_seconds = 11\n\n" in program
        compile(program, "walker", "exec")

    @pytest.mark.parametrize("title", ['Report "Q3"\nimport os; os.system("x")  # \\', "Notes 😀 é \ud800", ""])
    def test_any_title_is_one_ascii_literal_that_reads_back_unchanged(self, programs, atspi, title):
        program = self.program(programs, atspi, title)
        assert program.isascii()
        assignments = [node for node in ast.parse(program).body if isinstance(node, ast.Assign)
                       and node.targets[0].id == "target_title"]
        assert len(assignments) == 1 and ast.literal_eval(assignments[0].value) == title


class TestWalkerAnswers:
    def test_a_good_answer_is_rendered(self, programs, atspi, walker_answer):
        programs.printing("python3", json.dumps(walker_answer((1, "push button", "Save", "", 0))) + "\n")
        result = run(atspi.snapshot())
        assert result["snapshot"] == 'Window: Editor\n\n[1] push button "Save"' and result["element_count"] == 1

    def test_a_failure_object_passes_through_and_the_refs_stay(self, programs, atspi):
        atspi._ref_map = {1: {"backend": "linux_atspi"}}
        programs.printing("python3", '{"success": false, "error": "No window found", "extra": 1}')
        assert run(atspi.snapshot()) == {"success": False, "error": "No window found", "extra": 1}
        assert atspi._ref_map == {1: {"backend": "linux_atspi"}}

    def test_no_output_reports_the_error_output(self, programs, atspi):
        programs.printing("python3", "  \n", "Traceback ...\nValueError: Namespace Atspi not available\n", 1)
        assert run(atspi.snapshot()) == {
            "success": False, "error": "AT-SPI2 failed: Traceback ...\nValueError: Namespace Atspi not available"}

    @pytest.mark.parametrize("stdout, error", [
        ("not json", "Expecting value: line 1 column 1 (char 0)"),
        ('{"success": true, "elements": []}', "'window'"),
        ("\xff\xfe[", "Expecting value: line 1 column 1 (char 0)"),
    ])
    def test_bad_answers_are_logged_and_reported(self, programs, atspi, caplog, stdout, error):
        programs.printing("python3", stdout)
        caplog.set_level(logging.ERROR, "nebrix.pc.desktop")
        assert run(atspi.snapshot()) == {"success": False, "error": error}
        assert [r.getMessage() for r in caplog.records] == [f"Linux AT-SPI2 snapshot failed: {error}"]

    def test_no_python3_at_all(self, programs, atspi, caplog):
        result = run(atspi.snapshot())
        assert result == {"success": False, "error": "[Errno 2] No such file or directory: 'python3'"}

    def test_a_walker_that_hangs_times_out_after_15_seconds_and_is_ended(self, programs, atspi, fast_time_limits):
        pid_file = programs.calls_dir / "pid"
        fast_time_limits.started = pid_file
        programs.add("python3", f"echo $$ > {pid_file}.tmp\n/bin/mv {pid_file}.tmp {pid_file}\nexec /bin/sleep 30")
        assert run(atspi.snapshot()) == {"success": False, "error": "AT-SPI2 snapshot timed out"}
        assert fast_time_limits.asked == [15]
        with pytest.raises(ProcessLookupError):
            os.kill(int(pid_file.read_text()), 0)

    def test_the_module_sets_the_time_limit_at_each_snapshot(self, programs, atspi, fast_time_limits,
                                                              monkeypatch):
        import nebrix.pc.desktop_access as desktop_module

        saved = programs.calls_dir / "program.py"
        programs.add("python3", f'printf %s "$2" > {saved}\necho \'{{"success": true, "window": "W", "elements": []}}\'')
        for limit, walk in ((60, "walk_seconds = 56\n"), (2.5, "walk_seconds = 0\n")):
            monkeypatch.setattr(desktop_module, "SNAPSHOT_TIMEOUT", limit)
            assert run(atspi.snapshot())["success"]
            assert fast_time_limits.asked[-1] == limit and walk in saved.read_text()
        for limit in (0, -1, float("nan"), float("inf")):
            monkeypatch.setattr(desktop_module, "SNAPSHOT_TIMEOUT", limit)
            assert run(atspi.snapshot()) == {"success": False,
                                             "error": "SNAPSHOT_TIMEOUT must be a positive number of seconds"}
        monkeypatch.setattr(desktop_module, "SNAPSHOT_TIMEOUT", "15")
        assert "SNAPSHOT_TIMEOUT" in run(atspi.snapshot())["error"]

    def test_a_cancelled_snapshot_ends_its_walker(self, programs, atspi):
        pid_file = programs.calls_dir / "pid"
        programs.add("python3", f"echo $$ > {pid_file}.tmp\n/bin/mv {pid_file}.tmp {pid_file}\nexec /bin/sleep 30")

        async def main():
            task = asyncio.ensure_future(atspi.snapshot())
            while not pid_file.exists():
                await asyncio.sleep(0.01)
            task.cancel()
            with pytest.raises(asyncio.CancelledError):
                await task
            pid = int(pid_file.read_text())
            for _ in range(500):  # the kill is sent; the child ends within moments
                try:
                    os.kill(pid, 0)
                except ProcessLookupError:
                    return True
                await asyncio.sleep(0.01)
            return False

        assert run(main())

    def test_without_any_tool(self, access, linux):
        assert run(access.snapshot()) == {
            "success": False,
            "error": "No Linux desktop accessibility tools available. Install xdotool: sudo apt install xdotool\n"
                     "For full accessibility tree: sudo apt install python3-gi gir1.2-atspi-2.0 at-spi2-core"}

    def test_no_fallback_to_an_xdotool_snapshot_when_the_walker_fails(self, programs, atspi):
        atspi._linux_xdotool_available = True
        programs.printing("python3", '{"success": false, "error": "Atspi gave up"}')
        programs.printing("xdotool", "123\n")
        assert run(atspi.snapshot()) == {"success": False, "error": "Atspi gave up"}
        assert programs.calls("xdotool") == []


class TestXdotool:
    def fake_x(self, programs, clients=(), active="", names=None, activates=True):
        """xprop listing `clients` (hex ids) as the window manager's, and xdotool answering
        for the active window (windowactivate makes its window active when `activates`)
        and getwindowname from `names` (printf escapes allowed)."""
        active_file = programs.calls_dir / "active"
        active_file.write_text(active)
        listed = ", ".join(hex(int(window_id)) for window_id in clients)
        programs.add("xprop", f"printf '_NET_CLIENT_LIST(WINDOW): window id # {listed}\\n'")
        cases = "".join(f'  "{window_id}") printf "{name}" ;;\n' for window_id, name in (names or {}).items())
        activate = f'printf %s "$2" > {active_file}' if activates else ":"
        programs.add("xdotool", f"""name() {{ case "$1" in
{cases}  esac; }}
case "$1" in
  search) echo 1 ;;
  getactivewindow) if [ "$2" = getwindowname ]; then name "$(/bin/cat {active_file})"; echo; \
else /bin/cat {active_file}; echo; fi ;;
  getwindowname) name "$2"; echo ;;
  windowactivate) {activate} ;;
esac""")

    def test_snapshot_by_title_takes_the_managed_window(self, programs, xdotool):
        self.fake_x(programs, clients=["111", "222"], names={"111": "Other", "222": "Editor Test"})
        xdotool._ref_map = {1: {"backend": "linux_atspi"}}
        xdotool._ref_counter = 1
        assert run(xdotool.snapshot("Editor")) == {
            "success": True, "window": "Editor Test", "window_id": "222",
            "snapshot": "Window: Editor Test (id: 222)\n\nNote: Full accessibility tree requires AT-SPI2.\n"
                        f"{INSTALL_ATSPI}\nFor now, use coordinate-based interaction via desktop_click(x, y).",
            "element_count": 0, "platform": "linux_xdotool",
            "hint": "Install AT-SPI2 for full element tree, or use screenshot + coordinate clicks."}
        assert xdotool._ref_map == {} and xdotool._ref_counter == 0
        assert programs.calls("xprop") == [["-root", "_NET_CLIENT_LIST"]]
        assert ["search", "--name", "Editor"] not in programs.calls("xdotool")

    def test_snapshot_without_title_takes_the_active_window(self, programs, xdotool):
        self.fake_x(programs, active="77", names={"77": "Terminal"})
        assert run(xdotool.snapshot(""))["window"] == "Terminal"
        assert programs.calls("xdotool")[0] == ["getactivewindow"]

    def test_snapshot_with_no_window_leaves_the_refs(self, programs, xdotool):
        self.fake_x(programs)
        xdotool._ref_map = {1: {"backend": "linux_atspi"}}
        assert run(xdotool.snapshot("nothing")) == {"success": False, "error": "No window found"}
        assert xdotool._ref_map == {1: {"backend": "linux_atspi"}}

    def test_list_holds_every_managed_window_once_up_to_50(self, programs, xdotool):
        ids = [str(100 + i) for i in range(60)]
        names = {window_id: f"Window {window_id}" for window_id in ids if window_id != "103"}
        self.fake_x(programs, clients=ids, names=names)
        result = run(xdotool.list_windows())
        examined = [window_id for window_id in ids[:50] if window_id != "103"]
        assert result == {"success": True, "windows": [{"id": i, "title": f"Window {i}"} for i in examined],
                          "count": len(examined)}
        assert programs.calls("xdotool") == [["getwindowname", i] for i in ids[:50]]

    def test_no_client_list(self, programs, xdotool):
        programs.printing("xprop", "_NET_CLIENT_LIST:  not found.\n")
        assert run(xdotool.list_windows()) == {"success": True, "windows": [], "count": 0}

    def test_a_title_that_is_not_utf8_is_read_as_latin1_and_costs_no_other_window(self, programs, xdotool):
        self.fake_x(programs, clients=["1", "2"], active="1", names={"1": "Caf\\351", "2": "Plain"})
        assert run(xdotool.list_windows())["windows"] == [{"id": "1", "title": "Café"}, {"id": "2", "title": "Plain"}]
        assert run(xdotool.get_focused_window()) == {"success": True, "title": "Café"}
        assert run(xdotool.focus_window("Café")) == {"success": True, "window": "Café", "window_id": "1"}

    def test_focus_is_read_back(self, programs, xdotool):
        self.fake_x(programs, clients=["41", "42"], active="41", names={"41": "Other", "42": "Editor Test"})
        assert run(xdotool.get_focused_window()) == {"success": True, "title": "Other"}
        assert run(xdotool.focus_window("Edit")) == {"success": True, "window": "Edit", "window_id": "42"}
        assert ["windowactivate", "42"] in programs.calls("xdotool")
        assert run(xdotool.get_focused_window()) == {"success": True, "title": "Editor Test"}

    def test_a_window_that_does_not_become_active_is_a_failure(self, programs, xdotool, monkeypatch):
        self.fake_x(programs, clients=["41"], active="9", names={"41": "Stubborn"}, activates=False)
        real_sleep = asyncio.sleep
        monkeypatch.setattr(asyncio, "sleep", lambda seconds: real_sleep(0))
        assert run(xdotool.focus_window("Stubborn")) == {
            "success": False, "error": 'Window "Stubborn" (id: 41) did not become active'}

    @pytest.mark.parametrize("title, window_id", [
        ("*notes.txt - Editor", "2"), ("C++ Primer (5th ed.)", "3"), ("[Draft] Report", "4"), ("Report$", "1"),
        ("notes", "2"), ("primer (5th", "3")])
    def test_titles_with_expression_characters(self, programs, xdotool, title, window_id):
        names = {"1": "Report", "2": "*notes.txt - Editor", "3": "C++ Primer (5th ed.)", "4": "[Draft] Report"}
        self.fake_x(programs, clients=["1", "2", "3", "4"], active="1", names=names)
        result = run(xdotool.focus_window(title))
        assert result == {"success": True, "window": title, "window_id": window_id}
        if title in names.values():
            assert run(xdotool.snapshot(title))["window_id"] == window_id

    def test_focus_without_a_match(self, programs, xdotool):
        self.fake_x(programs, clients=["5"], names={"5": "Something"})
        assert run(xdotool.focus_window("Nope")) == {"success": False, "error": "No window matching: Nope"}

    def test_flags_false_give_fixed_messages(self, access, linux):
        assert run(access.get_focused_window()) == {"success": False, "error": "xdotool not available"}
        assert run(access.list_windows()) == {"success": False, "error": "No window listing tool available"}
        assert run(access.focus_window("x")) == {"success": False, "error": "xdotool not available"}

    def test_tools_vanished_after_probing(self, programs, xdotool):
        missing = {"success": False, "error": "[Errno 2] No such file or directory: 'xdotool'"}
        no_xprop = {"success": False, "error": "[Errno 2] No such file or directory: 'xprop'"}
        assert run(xdotool.list_windows()) == no_xprop
        assert run(xdotool.focus_window("x")) == no_xprop
        assert run(xdotool.get_focused_window()) == missing
        assert run(xdotool.snapshot()) == missing

    def test_a_hanging_xdotool_is_reported_with_a_message(self, programs, xdotool, fast_time_limits):
        programs.add("xdotool", "exec /bin/sleep 30")
        assert run(xdotool.get_focused_window()) == {"success": False, "error": "xdotool timed out after 5 seconds"}
        assert fast_time_limits.asked == [5]
