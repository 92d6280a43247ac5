"""Screen operator: a screenshot as the model receives it, ours against the library path
written in Python (pyautogui.screenshot, bicubic resize, PNG with optimize, base64,
latest.png), timed interleaved on virtual screens of 1920x1080, 2560x1440 and 3840x2160
showing a desktop-like picture, with and without the in-process capture; then where
the time goes, stage by stage; and the cost of dispatching a cheap action.

    python bench/bench_screen_operator.py [WIDTHxHEIGHT ...]   (brings up its own screens)
"""

from __future__ import annotations

import base64
import io
import os
import sys
import tempfile
import threading
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent))
sys.path.insert(0, str(HERE.parent / "tests" / "screen_operator"))

from desktop_scene import desktop_scene, show_on_root  # noqa: E402
from rig import VirtualDesktop  # noqa: E402
from runner import Comparison  # noqa: E402

SIZES = ((1920, 1080), (2560, 1440), (3840, 2160))


def library_screenshot(pyautogui, api_size, scaled: bool):
    """The screenshot action written in Python with the library calls."""
    image = pyautogui.screenshot()
    if scaled:
        image = image.resize(api_size, resample=3)
    buffer = io.BytesIO()
    image.save(buffer, format="PNG", optimize=True)
    data = base64.b64encode(buffer.getvalue()).decode("ascii")
    directory = Path.home() / ".nebrix" / "screenshots"
    directory.mkdir(parents=True, exist_ok=True)
    image.save(str(directory / "latest.png"), format="PNG")
    return {"type": "image", "base64": data, "media_type": "image/png"}


def banded_resize(image, api_size):
    """Bicubic resize in two horizontal bands on two threads (Pillow releases the GIL
    while it resamples). Identical to one resize only at some sizes."""
    from PIL import Image

    width, height = image.size
    middle = api_size[1] // 2
    split = middle * height / api_size[1]
    bands = [None, None]

    def lower():
        bands[1] = image.resize((api_size[0], api_size[1] - middle), resample=3, box=(0, split, width, height))

    worker = threading.Thread(target=lower)
    worker.start()
    bands[0] = image.resize((api_size[0], middle), resample=3, box=(0, 0, width, split))
    worker.join()
    result = Image.new(image.mode, api_size)
    result.paste(bands[0], (0, 0))
    result.paste(bands[1], (0, middle))
    return result


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


def bench_screen(width: int, height: int, pyautogui, home: Path) -> None:
    from PIL import Image, ImageGrab

    from nebrix.pc import platform_utils
    from nebrix.pc.screen_operator import ScreenOperatorExecutor

    with VirtualDesktop(width, height) as screen:
        os.environ["DISPLAY"] = screen.display
        connection = show_on_root(desktop_scene(width, height), screen.display)
        try:
            platform_utils.get_screen_size_linux = lambda: (width, height)
            executor = ScreenOperatorExecutor()
            info = executor.get_display_info()
            api_size = (info["api_width"], info["api_height"])
            scaled = info["scale_factor"] < 1.0
            ours = executor.execute_action("screenshot")
            theirs = library_screenshot(pyautogui, api_size, scaled)
            same = Image.open(io.BytesIO(base64.b64decode(ours["base64"]))).tobytes() == \
                Image.open(io.BytesIO(base64.b64decode(theirs["base64"]))).tobytes()
            title = f"screenshot {width}x{height} -> {api_size[0]}x{api_size[1]} (same pixels: {same})"
            with Comparison(title, rounds=9, round_seconds=0.3) as bench:
                bench.compare("in-process capture", lambda: executor.execute_action("screenshot"),
                              lambda: library_screenshot(pyautogui, api_size, scaled), rival_name="library")
                # A capture that is not the library's own function is always called as it is.
                library_capture = pyautogui.screenshot
                pyautogui.screenshot = lambda: library_capture()
                try:
                    bench.compare("without it (pyautogui.screenshot)", lambda: executor.execute_action("screenshot"),
                                  lambda: library_screenshot(pyautogui, api_size, scaled), rival_name="library")
                finally:
                    pyautogui.screenshot = library_capture

            captured = ImageGrab.grab(xdisplay=screen.display)
            image = captured.resize(api_size, resample=3) if scaled else captured
            optimized, fast = io.BytesIO(), io.BytesIO()
            image.save(optimized, format="PNG", optimize=True)
            image.save(fast, format="PNG", compress_level=1)
            target = home / "stage.png"
            print(f"   PNG size: optimize {len(optimized.getvalue())} bytes, "
                  f"compress_level 1 {len(fast.getvalue())} bytes")

            def encode(**options):
                buffer = io.BytesIO()
                image.save(buffer, format="PNG", **options)
                return buffer

            with Comparison("  stages, each alone (library | ours)", rounds=5, round_seconds=0.2) as stages:
                stages.time("capture: pyautogui.screenshot (scrot)", pyautogui.screenshot)
                stages.time("capture: PIL.ImageGrab.grab (XCB)", lambda: ImageGrab.grab(xdisplay=screen.display))
                if scaled:
                    stages.time("resize: bicubic", lambda: captured.resize(api_size, resample=3))
                    identical = banded_resize(captured, api_size).tobytes() == image.tobytes()
                    stages.time(f"resize: 2 bands, 2 threads (same: {identical})",
                                lambda: banded_resize(captured, api_size))
                stages.time("encode: PNG optimize", lambda: encode(optimize=True))
                stages.time("encode: PNG compress_level=1", lambda: encode(compress_level=1))
                stages.time("base64 of the PNG (Python's)", lambda: base64.b64encode(fast.getvalue()))
                stages.time("write: Pillow PNG to latest.png", lambda: image.save(str(target), format="PNG"))
                stages.time("write: the returned PNG's bytes", lambda: target.write_bytes(fast.getvalue()))
        finally:
            connection.close()


def main() -> None:
    sizes = [tuple(int(n) for n in arg.split("x")) for arg in sys.argv[1:]] or SIZES
    with VirtualDesktop() as desktop, tempfile.TemporaryDirectory() as home:
        desktop.apply_to_process()
        os.environ["HOME"] = home
        os.chdir(home)  # pyscreeze writes its scrot capture in the working directory
        import pyautogui  # connects its input functions to this desktop

        from nebrix.pc.screen_operator import ScreenOperatorExecutor

        for width, height in sizes:
            bench_screen(width, height, pyautogui, Path(home))
        os.environ["DISPLAY"] = desktop.display

        executor = ScreenOperatorExecutor()
        rival = PythonDispatch(pyautogui, executor.get_display_info()["scale_factor"])
        with Comparison("dispatch of cheap actions") as bench:
            bench.compare("cursor_position", lambda: executor.execute_action("cursor_position"),
                          lambda: rival.execute_action("cursor_position"), rival_name="python")
            bench.compare("unknown action", lambda: executor.execute_action("zoom"),
                          lambda: rival.execute_action("zoom"), rival_name="python")


if __name__ == "__main__":
    main()
