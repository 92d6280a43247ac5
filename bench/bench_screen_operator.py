"""Screen operator: a 1920x1080 screenshot as the model receives it, ours against the
same library calls made directly from Python, with the time of each stage; and the cost
of dispatching a cheap action.

    python bench/bench_screen_operator.py     (brings up its own virtual desktop)
"""

from __future__ import annotations

import base64
import io
import os
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent))

from rig import VirtualDesktop  # noqa: E402
from runner import Comparison  # noqa: E402


def python_screenshot(pyautogui, image_module, api_size):
    """The screenshot action written in Python with the same library calls."""
    image = pyautogui.screenshot()
    image = image.resize(api_size, resample=image_module.Resampling.BICUBIC)
    buffer = io.BytesIO()
    image.save(buffer, format="PNG", optimize=True)
    data = base64.b64encode(buffer.getvalue()).decode("ascii")
    directory = Path.home() / ".nebrix" / "screenshots"
    directory.mkdir(parents=True, exist_ok=True)
    image.save(str(directory / "latest.png"), format="PNG")
    return {"type": "image", "base64": data, "media_type": "image/png"}


class PythonDispatch:
    """Dispatch as a Python class does it: handler by name, every error a result."""

    def __init__(self, pyautogui, scale_factor):
        self.pyautogui = pyautogui
        self.scale_factor = scale_factor

    def execute_action(self, action, **params):
        try:
            handler = getattr(self, f"_action_{action}", None)
            if handler is None:
                return {"type": "error", "error": f"Unknown action: {action}"}
            return handler(**params)
        except Exception as error:
            return {"type": "error", "error": f"Action {action} failed: {error}"}

    def _action_cursor_position(self):
        x, y = self.pyautogui.position()
        return {"type": "text",
                "text": f"Cursor position: ({int(x * self.scale_factor)}, {int(y * self.scale_factor)})"}


def main() -> None:
    with VirtualDesktop() as desktop, tempfile.TemporaryDirectory() as home:
        desktop.apply_to_process()
        os.environ["HOME"] = home
        os.environ["XDG_SESSION_TYPE"] = "x11"  # so pyautogui captures as it does in an X11 session
        window = desktop.open_test_window()
        import pyautogui
        from PIL import Image

        from nebrix.pc.screen_operator import ScreenOperatorExecutor

        executor = ScreenOperatorExecutor()
        info = executor.get_display_info()
        api_size = (info["api_width"], info["api_height"])
        assert executor.execute_action("screenshot")["type"] == "image"

        with Comparison(f"screenshot {info['screen_width']}x{info['screen_height']} -> "
                        f"{api_size[0]}x{api_size[1]}", rounds=15, round_seconds=0.2) as bench:
            bench.compare("execute_action('screenshot')", lambda: executor.execute_action("screenshot"),
                          lambda: python_screenshot(pyautogui, Image, api_size), rival_name="python")

        captured = pyautogui.screenshot()
        scaled = captured.resize(api_size, resample=Image.Resampling.BICUBIC)

        # The capture (a scrot run) varies most from call to call; without it the rest of
        # the work, all of it the same library calls, compares more steadily.
        real_capture = pyautogui.screenshot
        pyautogui.screenshot = captured.copy
        try:
            with Comparison("the same with a fixed capture (resize, encode, write)", rounds=15,
                            round_seconds=0.2) as bench:
                bench.compare("execute_action('screenshot')", lambda: executor.execute_action("screenshot"),
                              lambda: python_screenshot(pyautogui, Image, api_size), rival_name="python")
        finally:
            pyautogui.screenshot = real_capture
        target = Path(home) / "stage.png"

        def encode():
            buffer = io.BytesIO()
            scaled.save(buffer, format="PNG", optimize=True)
            return base64.b64encode(buffer.getvalue())

        with Comparison("where a screenshot's time goes (each stage alone)", rounds=5, round_seconds=0.2) as stages:
            stages.time("capture (pyautogui.screenshot)", pyautogui.screenshot)
            stages.time("resize (bicubic)", lambda: captured.resize(api_size, resample=Image.Resampling.BICUBIC))
            stages.time("encode (PNG optimize + base64)", encode)
            stages.time("write (PNG to latest.png)", lambda: scaled.save(str(target), format="PNG"))

        # Ways to the same pixels for less: an in-memory X capture instead of a scrot
        # subprocess and a PNG round trip; the optimized PNG, already made for the model,
        # written to latest.png instead of a second encoding.
        from PIL import ImageGrab

        same = ImageGrab.grab().tobytes() == pyautogui.screenshot().tobytes()
        optimized = base64.b64decode(encode())
        with Comparison(f"alternatives giving the same image (in-memory capture identical: {same})",
                        rounds=5, round_seconds=0.2) as alternatives:
            alternatives.time("capture (PIL.ImageGrab.grab, XCB)", ImageGrab.grab)
            alternatives.time("write (the optimized PNG bytes)", lambda: target.write_bytes(optimized))

        rival = PythonDispatch(pyautogui, executor._scale_factor)
        with Comparison("dispatch of cheap actions") as bench:
            bench.compare("cursor_position", lambda: executor.execute_action("cursor_position"),
                          lambda: rival.execute_action("cursor_position"), rival_name="python")
            bench.compare("unknown action", lambda: executor.execute_action("zoom"),
                          lambda: rival.execute_action("zoom"), rival_name="python")
        window.close()


if __name__ == "__main__":
    main()
