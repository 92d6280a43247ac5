"""The controller core: construction, argument checks, probing once, ref lookup and routing."""

import asyncio
import logging
import sys
import threading

import pytest

from nebrix.pc.desktop_access import DesktopAccess

LONG_NOT_FOUND = "Ref [{}] not found. Take a new desktop_snapshot() to get current refs."


def run(coroutine):
    return asyncio.run(coroutine)


class TestConstruction:
    def test_fresh_object_has_no_refs_and_has_not_probed(self):
        access = DesktopAccess()
        assert vars(access) == {
            "_ref_map": {}, "_ref_counter": 0, "_uia_available": False, "_pywinauto_available": False,
            "_pyautogui_available": False, "_macos_available": False, "_linux_atspi_available": False,
            "_linux_xdotool_available": False, "_initialized": False,
        }

    def test_constructor_takes_no_arguments(self):
        with pytest.raises(TypeError):
            DesktopAccess(1)

    def test_each_object_has_its_own_ref_map(self):
        first, second = DesktopAccess(), DesktopAccess()
        first._ref_map[1] = {"backend": "linux_atspi"}
        assert second._ref_map == {}

    def test_public_operations_are_coroutines(self, access, linux):
        coroutine = access.list_windows()
        assert asyncio.iscoroutine(coroutine)
        assert run(coroutine) == {"success": False, "error": "No window listing tool available"}


class TestArguments:
    @pytest.mark.parametrize("call, name, expected, value", [
        (lambda a: a.snapshot(max_depth="3"), "max_depth", "int", "3"),
        (lambda a: a.snapshot(5), "window_title", "str", 5),
        (lambda a: a.click_ref("1"), "ref", "int", "1"),
        (lambda a: a.type_ref(1, b"x"), "text", "str", b"x"),
        (lambda a: a.select_ref(1, None), "value", "str", None),
        (lambda a: a.focus_window(["Editor"]), "title", "str", ["Editor"]),
        (lambda a: a.press_key(13), "key", "str", 13),
        (lambda a: a.scroll_window("up", "5"), "amount", "int", "5"),
        (lambda a: a.scroll_window(1), "direction", "str", 1),
    ])
    def test_wrong_types_raise_at_call_time(self, access, call, name, expected, value):
        with pytest.raises(TypeError) as caught:
            call(access)
        assert str(caught.value) == (f"Argument '{name}' has incorrect type "
                                     f"(expected {expected}, got {type(value).__name__})")
        assert access._ref_map == {}

    def test_unknown_keyword_and_missing_argument(self, access):
        with pytest.raises(TypeError, match="unexpected keyword argument 'depth'"):
            access.snapshot(depth=3)
        with pytest.raises(TypeError):
            access.click_ref()

    def test_numbers_are_truncated_and_flags_take_truth_values(self, access, linux, recorder):
        access._snapshot_linux = recorder.method("snapshot")
        access._click_ref_linux = recorder.method("click")
        access._ref_map = {3: {"backend": "linux_atspi"}}
        run(access.snapshot(max_depth=3.9))
        run(access.click_ref(3.0, double_click=[1]))
        assert recorder.calls == [("snapshot", (None, 3)), ("click", (3, {"backend": "linux_atspi"}, True))]
        assert type(recorder.calls[0][1][1]) is int

    def test_defaults(self, access, linux, recorder):
        access._snapshot_linux = recorder.method("snapshot")
        run(access.snapshot())
        assert recorder.calls == [("snapshot", (None, 8))]


class TestSnapshotOptions:
    @pytest.mark.parametrize("options, forwarded", [
        ({"states": False, "max_elements": None}, {}),
        ({"states": 1}, {"states": True}),
        ({"max_elements": 200}, {"max_elements": 200}),
        ({"states": True, "max_elements": 10**30}, {"states": True, "max_elements": 10**30}),
    ])
    def test_only_options_that_differ_from_their_defaults_are_forwarded(self, access, linux, options,
                                                                        forwarded):
        calls = []

        async def backend(window_title, max_depth, **keywords):
            calls.append((window_title, max_depth, keywords))
            return {"success": True}

        access._snapshot_linux = backend
        assert run(access.snapshot("Editor", 3, **options)) == {"success": True}
        assert calls == [("Editor", 3, forwarded)]
        assert all(type(value) in (bool, int) for value in calls[0][2].values())

    def test_a_two_argument_backend_still_works_with_the_defaults(self, access, linux, recorder):
        access._snapshot_linux = recorder.method("snapshot")
        run(access.snapshot(states=False, max_elements=None))
        assert recorder.calls == [("snapshot", (None, 8))]

    @pytest.mark.parametrize("value, error, text", [
        (True, TypeError, "Argument 'max_elements' has incorrect type (expected int, got bool)"),
        (2.0, TypeError, "Argument 'max_elements' has incorrect type (expected int, got float)"),
        ("5", TypeError, "Argument 'max_elements' has incorrect type (expected int, got str)"),
        (0, ValueError, "Argument 'max_elements' must be at least 1 (got 0)"),
        (-3, ValueError, "Argument 'max_elements' must be at least 1 (got -3)"),
    ])
    def test_a_bound_that_is_not_a_positive_int_raises_at_call_time(self, access, value, error, text):
        with pytest.raises(error) as caught:
            access.snapshot(max_elements=value)
        assert str(caught.value) == text

    def test_options_are_keyword_only(self, access):
        with pytest.raises(TypeError, match=r"takes at most 2 positional arguments \(3 given\)"):
            access.snapshot(None, 8, True)


class TestProbing:
    def test_first_call_probes_once_and_later_calls_do_not(self, linux, programs, caplog):
        access = DesktopAccess()
        caplog.set_level(logging.DEBUG, "nebrix.pc.desktop")
        first = run(access.snapshot())
        second = run(access.snapshot())
        assert access._initialized and first == second
        assert first["error"].startswith("No Linux desktop accessibility tools available. Install xdotool")
        warnings = [r.getMessage() for r in caplog.records if r.levelno == logging.WARNING]
        assert warnings == ["No Linux desktop control tools found. Install: sudo apt install xdotool "
                            "(or: pip install pyatspi)"]

    def test_linux_probe_finds_xdotool_and_working_bindings(self, linux, programs, caplog):
        programs.printing("xdotool")
        programs.printing("python3")
        caplog.set_level(logging.INFO, "nebrix.pc.desktop")
        access = DesktopAccess()
        access._ensure_init()
        assert access._linux_xdotool_available and access._linux_atspi_available
        assert programs.calls("python3") == [["-c", "import gi; gi.require_version('Atspi', '2.0'); "
                                                    "from gi.repository import Atspi"]]
        assert [r.getMessage() for r in caplog.records] == [
            "xdotool available for Linux desktop control", "AT-SPI2 accessibility available for Linux"]

    def test_linux_probe_of_bindings_that_fail_is_silent(self, linux, programs, caplog):
        programs.printing("python3", stderr="ModuleNotFoundError: No module named 'gi'", status=1)
        programs.printing("xdotool")
        caplog.set_level(logging.DEBUG, "nebrix.pc.desktop")
        access = DesktopAccess()
        access._ensure_init()
        assert not access._linux_atspi_available and access._linux_xdotool_available
        assert all("AT-SPI2" not in r.getMessage() for r in caplog.records)

    def test_linux_probe_falls_back_to_a_system_interpreter_with_the_bindings(self, linux, programs, monkeypatch):
        programs.printing("python3", stderr="ModuleNotFoundError: No module named 'gi'", status=1)
        system = programs.printing("system-python3")
        monkeypatch.setattr("nebrix.pc.desktop_access._SYSTEM_PYTHONS", ("/nonexistent/python3", str(system)))
        access = DesktopAccess()
        access._ensure_init()
        assert access._linux_atspi_available and access._linux_atspi_python == str(system)
        assert len(programs.calls("python3")) == 1 and len(programs.calls("system-python3")) == 1

    def test_linux_probe_keeps_path_python3_first(self, linux, programs, monkeypatch):
        programs.printing("python3")
        system = programs.printing("system-python3")
        monkeypatch.setattr("nebrix.pc.desktop_access._SYSTEM_PYTHONS", (str(system),))
        access = DesktopAccess()
        access._ensure_init()
        assert access._linux_atspi_python == "python3" and programs.calls("system-python3") == []

    def test_an_error_in_a_probe_propagates_and_is_not_repeated(self, linux):
        access = DesktopAccess()
        calls = []

        def failing_probe():
            calls.append(1)
            raise RuntimeError("probe broke")

        access._init_linux = failing_probe
        with pytest.raises(RuntimeError, match="probe broke"):
            run(access.list_windows())
        assert run(access.list_windows())["success"] is False
        assert calls == [1]

    def test_windows_probe_prefers_pywinauto_and_never_imports_uiautomation(self, monkeypatch, caplog):
        monkeypatch.setattr("nebrix.pc.desktop_access.SYSTEM", "Windows")
        monkeypatch.setitem(sys.modules, "pywinauto", type(sys)("pywinauto"))
        sys.modules["pywinauto"].Desktop = object
        imported = []
        real_import = __builtins__["__import__"] if isinstance(__builtins__, dict) else __builtins__.__import__

        def watching_import(name, *args, **kwargs):
            imported.append(name)
            return real_import(name, *args, **kwargs)

        monkeypatch.setattr("builtins.__import__", watching_import)
        caplog.set_level(logging.INFO, "nebrix.pc.desktop")
        access = DesktopAccess()
        access._ensure_init()
        assert access._pywinauto_available and access._uia_available
        assert "uiautomation" not in imported
        assert [r.getMessage() for r in caplog.records] == ["pywinauto UIA backend available"]

    def test_windows_probe_falls_back_to_uiautomation(self, monkeypatch, caplog):
        monkeypatch.setattr("nebrix.pc.desktop_access.SYSTEM", "Windows")
        monkeypatch.setitem(sys.modules, "pywinauto", None)
        monkeypatch.setitem(sys.modules, "uiautomation", type(sys)("uiautomation"))
        caplog.set_level(logging.INFO, "nebrix.pc.desktop")
        access = DesktopAccess()
        access._ensure_init()
        assert access._uia_available and not access._pywinauto_available
        assert [(r.levelname, r.getMessage()) for r in caplog.records] == [
            ("WARNING", "pywinauto not installed — run: pip install pywinauto"),
            ("INFO", "uiautomation library available")]

    def test_macos_probe_looks_for_osascript(self, monkeypatch, programs, caplog):
        monkeypatch.setattr("nebrix.pc.desktop_access.SYSTEM", "Darwin")
        caplog.set_level(logging.INFO, "nebrix.pc.desktop")
        missing = DesktopAccess()
        missing._ensure_init()
        programs.printing("osascript")
        found = DesktopAccess()
        found._ensure_init()
        assert not missing._macos_available and found._macos_available
        assert [r.getMessage() for r in caplog.records] == [
            "osascript not found — macOS accessibility unavailable", "macOS AppleScript accessibility available"]

    @pytest.mark.parametrize("failure", ["raise KeyError('DISPLAY')", "raise OSError('cannot open display')",
                                         "raise ImportError('no pyautogui')"])
    def test_any_failure_to_import_pyautogui_means_not_available(self, linux, programs, tmp_path, monkeypatch,
                                                                 caplog, failure):
        (tmp_path / "pyautogui.py").write_text(failure + "\n")
        monkeypatch.syspath_prepend(str(tmp_path))
        monkeypatch.delitem(sys.modules, "pyautogui", raising=False)
        caplog.set_level(logging.DEBUG, "nebrix.pc.desktop")
        access = DesktopAccess()
        assert run(access.scroll_window()) == {"success": False, "error": "PyAutoGUI not available for scrolling"}
        debug = [r.getMessage() for r in caplog.records if r.levelno == logging.DEBUG]
        assert len(debug) == 1 and debug[0].startswith("pyautogui not available: ")
        assert not access._pyautogui_available


class TestRefLookup:
    def test_missing_refs_answer_long_and_short_texts(self, linux):
        access = DesktopAccess()
        assert run(access.click_ref(1)) == {"success": False, "error": LONG_NOT_FOUND.format(1)}
        assert access._initialized
        assert run(access.type_ref(2, "x")) == {"success": False, "error": LONG_NOT_FOUND.format(2)}
        assert run(access.select_ref(3, "x")) == {"success": False, "error": "Ref [3] not found."}
        assert run(access.toggle_ref(4)) == {"success": False, "error": "Ref [4] not found."}

    @pytest.mark.parametrize("record, method", [
        ({"backend": "macos", "title": "Save"}, "_click_ref_macos"),
        ({"role": "push button", "backend": "linux_atspi"}, "_click_ref_linux"),
        ({"element": 1, "backend": "uiautomation"}, "_click_ref_windows"),
        ({"element": 1}, "_click_ref_windows"),
    ])
    def test_click_goes_back_to_the_backend_that_made_the_ref(self, access, recorder, record, method):
        setattr(access, method, recorder.method(method))
        access._ref_map = {2: record}
        assert run(access.click_ref(2, True)) == {"from": method}
        assert recorder.calls == [(method, (2, record, True))]

    @pytest.mark.parametrize("record, method", [
        ({"backend": "macos"}, "_type_ref_macos"),
        ({"backend": "linux_atspi"}, "_type_ref_linux"),
        ({"element": 1, "backend": "pywinauto"}, "_type_ref_windows"),
        ({"element": 1, "backend": "uiautomation"}, "_type_ref_windows"),
        ({"element": 1}, "_type_ref_windows"),
    ])
    def test_type_routes_by_backend(self, access, recorder, record, method):
        setattr(access, method, recorder.method(method))
        access._ref_map = {1: record}
        assert run(access.type_ref(1, "hi")) == {"from": method}
        assert recorder.calls == [(method, (1, record, "hi", True, False))]

    def test_type_and_select_unsupported_backends(self, access):
        access._ref_map = {1: {"backend": "other"}, 2: {"backend": "macos"}}
        assert run(access.type_ref(1, "x")) == {"success": False, "error": "Type not supported on this backend yet",
                                                "ref": 1}
        assert run(access.select_ref(2, "x")) == {"success": False, "error": "Select not yet supported on macos",
                                                  "ref": 2}

    def test_toggle_on_macos_is_a_single_click(self, access, recorder):
        access.click_ref = recorder.method("click_ref", {"success": True, "action": "click"})
        access._ref_map = {5: {"backend": "macos"}}
        assert run(access.toggle_ref(5)) == {"success": True, "action": "click"}
        assert recorder.calls == [("click_ref", (5,))]

    def test_linux_select_and_toggle_go_to_the_linux_backend(self, access, recorder):
        access._select_ref_linux = recorder.method("select")
        access._toggle_ref_linux = recorder.method("toggle")
        record = {"backend": "linux_atspi"}
        access._ref_map = {5: record}
        assert run(access.select_ref(5, "Large")) == {"from": "select"}
        assert run(access.toggle_ref(5)) == {"from": "toggle"}
        assert recorder.calls == [("select", (5, record, "Large")), ("toggle", (5, record))]

    def test_select_and_toggle_run_the_windows_action_in_the_executor(self, access):
        threads = []

        def select(element, backend, value):
            threads.append(("select", element, backend, value, threading.current_thread()))

        def toggle(element, backend):
            threads.append(("toggle", element, backend, threading.current_thread()))

        access._select_element_sync = select
        access._toggle_element_sync = toggle
        access._ref_map = {1: {"element": "combo", "control_type": "ComboBox", "name": "Size",
                               "backend": "uiautomation"},
                           2: {"element": "box", "control_type": "CheckBox", "name": "Sync"}}
        assert run(access.select_ref(1, "Large")) == {"success": True, "action": "select", "ref": 1,
                                                      "element": 'ComboBox "Size"', "value": "Large"}
        assert run(access.toggle_ref(2)) == {"success": True, "action": "toggle", "ref": 2,
                                             "element": 'CheckBox "Sync"'}
        assert threads[0][:4] == ("select", "combo", "uiautomation", "Large")
        assert threads[1][:3] == ("toggle", "box", "pywinauto")
        assert all(entry[-1] is not threading.main_thread() for entry in threads)

    def test_errors_of_select_and_toggle_become_results(self, access):
        def fail(*args):
            raise RuntimeError("Could not select 'Huge'")

        access._select_element_sync = fail
        access._toggle_element_sync = fail
        access._ref_map = {1: {"element": "combo", "control_type": "ComboBox", "name": "Size"}, 2: {}}
        assert run(access.select_ref(1, "Huge")) == {"success": False, "error": "Could not select 'Huge'", "ref": 1}
        assert run(access.toggle_ref(1)) == {"success": False, "error": "Could not select 'Huge'", "ref": 1}
        # A record without an element is reported, not raised.
        assert run(access.toggle_ref(2)) == {"success": False, "error": "'element'", "ref": 2}

    def test_cancellation_is_not_turned_into_a_result(self, access):
        access._ref_map = {1: {"element": 1}}
        started = threading.Event()
        release = threading.Event()

        def slow(element, backend):
            started.set()
            release.wait(5)

        access._toggle_element_sync = slow

        async def main():
            task = asyncio.ensure_future(access.toggle_ref(1))
            while not started.is_set():
                await asyncio.sleep(0.001)
            task.cancel()
            try:
                with pytest.raises(asyncio.CancelledError):
                    await task
            finally:
                release.set()

        run(main())


class TestPlatformRouting:
    @pytest.mark.parametrize("system, suffix", [("Windows", "windows"), ("Darwin", "macos"), ("Linux", "linux"),
                                                ("FreeBSD", "linux")])
    def test_window_operations_follow_system_at_call_time(self, access, recorder, monkeypatch, system, suffix):
        monkeypatch.setattr("nebrix.pc.desktop_access.SYSTEM", system)
        for name in ("snapshot", "get_focused_window", "list_windows", "focus_window"):
            setattr(access, f"_{name}_{suffix}", recorder.method(name))
        assert run(access.snapshot("Editor", 2)) == {"from": "snapshot"}
        assert run(access.get_focused_window()) == {"from": "get_focused_window"}
        assert run(access.list_windows()) == {"from": "list_windows"}
        assert run(access.focus_window("Editor")) == {"from": "focus_window"}
        assert recorder.calls == [("snapshot", ("Editor", 2)), ("get_focused_window", ()), ("list_windows", ()),
                                  ("focus_window", ("Editor",))]

    @pytest.mark.parametrize("system", ["Windows", "Darwin"])
    def test_backends_not_built_yet_answer_cleanly(self, access, monkeypatch, system):
        monkeypatch.setattr("nebrix.pc.desktop_access.SYSTEM", system)
        access._ref_map = {1: {"element": 1, "backend": "pywinauto"}, 2: {"backend": "macos"}}
        results = [run(access.snapshot()), run(access.list_windows()), run(access.get_focused_window()),
                   run(access.focus_window("x")), run(access.click_ref(1)), run(access.type_ref(2, "x")),
                   run(access.select_ref(1, "x")), run(access.toggle_ref(1))]
        for result in results:
            assert result["success"] is False and isinstance(result["error"], str) and result["error"]
