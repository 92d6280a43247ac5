"""Display geometry: the scale, detection on each platform, conversion, tool definition."""

from __future__ import annotations

import logging
import subprocess
import types

import pytest

from nebrix.pc import platform_utils
from nebrix.pc import screen_operator
from nebrix.pc.screen_operator import ScreenOperatorExecutor, _get_scale_factor


@pytest.mark.parametrize("size, factor, api_size", [
    ((1920, 1080), 0.7447087010252506, (1429, 804)),
    ((2560, 1600), 0.5298695299316616, (1356, 847)),
    ((3840, 2160), 0.3723543505126253, (1429, 804)),
    ((1440, 900), 0.941990275434065, (1356, 847)),
    ((1366, 768), 1.0, (1366, 768)),
    ((1280, 800), 1.0, (1280, 800)),
    ((5000, 1000), 1568 / 5000, (1568, 313)),  # wide enough for the long edge to decide
])
def test_scale_factor_and_api_size(screen, size, factor, api_size):
    assert _get_scale_factor(*size) == factor
    info = screen(*size).get_display_info()
    assert (info["screen_width"], info["screen_height"]) == size
    assert (info["api_width"], info["api_height"]) == api_size
    assert info["scale_factor"] == round(factor, 3)


def test_scale_factor_truncates_its_arguments_and_rejects_sizes_without_area():
    assert _get_scale_factor(1920.7, 1080) == _get_scale_factor(1920, 1080)
    assert _get_scale_factor(True * 1280, 800.99) == 1.0
    with pytest.raises(ZeroDivisionError):
        _get_scale_factor(0, 1080)
    with pytest.raises(ValueError):
        _get_scale_factor(-1920, 1080)
    with pytest.raises(ValueError):  # both negative would give a negative "factor"
        _get_scale_factor(-1920, -1080)
    with pytest.raises(TypeError, match=r"Argument 'width' has incorrect type \(expected int, got str\)"):
        _get_scale_factor("1920", 1080)


def test_module_constants():
    assert (screen_operator.API_MAX_LONG_EDGE, screen_operator.API_MAX_TOTAL_PIXELS) == (1568, 1150000)
    assert screen_operator.logger is logging.getLogger("nebrix.pc.screen_operator")


def test_fresh_executor_detects_nothing_until_first_use(monkeypatch, system):
    calls = []
    monkeypatch.setattr(platform_utils, "get_screen_size_linux", lambda: calls.append(1) or (2560, 1440))
    executor = ScreenOperatorExecutor()
    assert (executor._screen_width, executor._screen_height, executor._api_width, executor._api_height,
            executor._scale_factor, executor._initialized, executor._last_screenshot_path,
            executor._display_number) == (0, 0, 0, 0, 1.0, False, None, None)
    assert calls == []
    assert executor.get_display_info()["screen_width"] == 2560
    executor.get_tool_definition()
    executor.execute_action("zoom")
    assert calls == [1]


def test_tool_definition_announces_the_api_size(screen):
    assert screen(1920, 1080).get_tool_definition() == {
        "type": "computer_20250124", "name": "computer", "display_width_px": 1429, "display_height_px": 804}
    definition = screen(1920, 1080, display_number=0).get_tool_definition()
    assert list(definition) == ["type", "name", "display_width_px", "display_height_px", "display_number"]
    assert definition["display_number"] == 0
    assert screen(1280, 800, display_number=2.9).get_tool_definition()["display_number"] == 2
    with pytest.raises(TypeError, match="Argument 'display_number' has incorrect type"):
        ScreenOperatorExecutor("1")


def test_display_info_keys_in_order(screen):
    assert list(screen(1920, 1080).get_display_info()) == [
        "screen_width", "screen_height", "api_width", "api_height", "scale_factor", "last_screenshot"]


@pytest.mark.parametrize("host_result, size", [
    ((2560, 1440), (2560, 1440)),
    ([3000.5, 2000], (3000, 2000)),
    (iter([1600, 900]), (1600, 900)),
    (None, (1920, 1080)),
    ((), (1920, 1080)),
    ((2560, 1440, 1), (1920, 1080)),
    ((2560,), (1920, 1080)),
    (("wide", "tall"), (1920, 1080)),
])
def test_linux_size_comes_from_the_host(monkeypatch, system, caplog, host_result, size):
    monkeypatch.setattr(platform_utils, "get_screen_size_linux", lambda: host_result)
    info = ScreenOperatorExecutor().get_display_info()
    assert (info["screen_width"], info["screen_height"]) == size
    assert "Could not detect" not in caplog.text


def test_linux_host_failures_give_the_default_size(monkeypatch, system):
    def broken():
        raise OSError("no X")
    monkeypatch.setattr(platform_utils, "get_screen_size_linux", broken)
    assert ScreenOperatorExecutor().get_display_info()["screen_width"] == 1920
    monkeypatch.setitem(__import__("sys").modules, "nebrix.pc.platform_utils", None)
    assert ScreenOperatorExecutor().get_display_info()["screen_height"] == 1080


def windll_with(width, height, calls):
    def metric(index):
        calls.append(("GetSystemMetrics", index))
        return (width, height)[index]
    user32 = types.SimpleNamespace(SetProcessDPIAware=lambda: calls.append(("SetProcessDPIAware",)),
                                   GetSystemMetrics=metric)
    return types.SimpleNamespace(user32=user32)


def test_windows_size_in_physical_pixels(monkeypatch, system):
    system("Windows")
    calls = []
    monkeypatch.setattr("ctypes.windll", windll_with(2560, 1600, calls), raising=False)
    info = ScreenOperatorExecutor().get_display_info()
    assert (info["screen_width"], info["screen_height"], info["api_width"]) == (2560, 1600, 1356)
    assert calls == [("SetProcessDPIAware",), ("GetSystemMetrics", 0), ("GetSystemMetrics", 1)]


def test_windows_zero_size_falls_back_with_a_warning(monkeypatch, system, caplog):
    system("Windows")
    monkeypatch.setattr("ctypes.windll", windll_with(0, 0, []), raising=False)
    with caplog.at_level(logging.INFO, "nebrix.pc.screen_operator"):
        info = ScreenOperatorExecutor().get_display_info()
    assert (info["screen_width"], info["screen_height"]) == (1920, 1080)
    messages = [(r.levelname, r.getMessage()) for r in caplog.records]
    assert messages == [("WARNING", "Could not detect screen size: division by zero. Using defaults."),
                        ("INFO", "Screen: 1920x1080, API: 1429x804, Scale: 0.745")]


def test_windows_without_windll_gives_the_default_silently(monkeypatch, system, caplog):
    system("Windows")
    monkeypatch.delattr("ctypes.windll", raising=False)
    assert ScreenOperatorExecutor().get_display_info()["screen_width"] == 1920
    assert "Could not detect" not in caplog.text


@pytest.mark.parametrize("output, size", [
    ("Graphics/Displays:\n  Color LCD:\n    Resolution: 3024 x 1964 Retina\n    Resolution: 800 x 600\n",
     (3024, 1964)),
    ("Displays:\n    Resolution: 2560 x 1600 Retina\r\n", (2560, 1600)),
    ("Displays:\n    Main Display: Yes\n", (1920, 1080)),
    ("    Resolution: auto x 1080\n    Resolution: 2560 x 1600\n", (1920, 1080)),
    ("    Resolution: unknown\n    Resolution: 1_680 x +1050\n", (1680, 1050)),
    ("", (1920, 1080)),
])
def test_macos_size_from_system_profiler(monkeypatch, system, output, size):
    system("Darwin")
    runs = []

    def run(argv, **kwargs):
        runs.append((argv, kwargs))
        return subprocess.CompletedProcess(argv, 1, stdout=output, stderr="")

    monkeypatch.setattr(subprocess, "run", run)
    info = ScreenOperatorExecutor().get_display_info()
    assert (info["screen_width"], info["screen_height"]) == size
    assert runs == [(["system_profiler", "SPDisplaysDataType"],
                     {"capture_output": True, "text": True, "timeout": 5})]


@pytest.mark.parametrize("failure", [FileNotFoundError("system_profiler"),
                                     subprocess.TimeoutExpired("system_profiler", 5)])
def test_macos_profiler_failures_give_the_default(monkeypatch, system, failure):
    system("Darwin")

    def run(argv, **kwargs):
        raise failure

    monkeypatch.setattr(subprocess, "run", run)
    assert ScreenOperatorExecutor().get_display_info()["api_width"] == 1429


def test_a_patched_detection_that_raises_is_reported(monkeypatch, caplog):
    executor = ScreenOperatorExecutor()
    def broken():
        raise RuntimeError("display server gone")
    executor._detect_screen_size = broken
    with caplog.at_level(logging.WARNING, "nebrix.pc.screen_operator"):
        assert executor.get_tool_definition()["display_width_px"] == 1429
    assert "Could not detect screen size: display server gone. Using defaults." in caplog.text
    assert executor._initialized is True


def test_a_subclass_can_replace_detection_and_conversion(gui):
    class FixedScreen(ScreenOperatorExecutor):
        def _detect_screen_size(self):
            self._screen_width, self._screen_height = 2560, 1600
            self._compute_scale()

        def _to_screen_coords(self, api_x, api_y):
            return super()._to_screen_coords(api_x, api_y)[::-1]

    executor = FixedScreen(display_number=1)
    assert executor.get_tool_definition()["display_width_px"] == 1356
    assert executor.execute_action("left_click", coordinate=[100, 200])["text"] == "Clicked at (377, 188)"


def test_screen_coordinates(screen):
    scaled = screen(1920, 1080)
    assert scaled._to_screen_coords(500, 300) == (671, 402)
    assert scaled._to_screen_coords(1429, 804) == (1918, 1079)
    assert scaled._to_screen_coords(2000, 2000) == (1919, 1079)
    assert scaled._to_screen_coords(-5, 10) == (0, 13)
    assert scaled._to_screen_coords(10**6, 10**6) == (1919, 1079)
    assert scaled._to_screen_coords(10**30, -10**30) == (1919, 0)
    assert scaled._to_screen_coords(500.9, 300.2) == (671, 402)
    with pytest.raises(TypeError, match=r"Argument 'api_x' has incorrect type \(expected int, got str\)"):
        scaled._to_screen_coords("500", 300)
    unscaled = screen(1280, 800)
    assert unscaled._to_screen_coords(5000, -3) == (5000, -3)
    assert unscaled._to_screen_coords(500.9, 300.2) == (500, 300)


def test_state_attributes_are_writable_with_their_types():
    executor = ScreenOperatorExecutor()
    executor._screen_width = 1280.6
    executor._scale_factor = 1
    executor._last_screenshot_path = "/tmp/x.png"
    assert (executor._screen_width, executor._scale_factor, executor._last_screenshot_path) == (1280, 1.0, "/tmp/x.png")
    with pytest.raises(TypeError):
        executor._screen_height = "800"
    with pytest.raises(TypeError):
        executor._last_screenshot_path = 3
