"""Screenshots on real virtual screens of several sizes: the image the model receives
and latest.png hold exactly the pixels of the library path (pyautogui's capture,
Pillow's bicubic resize to the API size), whichever capture the executor took."""

from __future__ import annotations

import base64
import io
import shutil

import pytest
from PIL import Image

from desktop_scene import desktop_scene, show_on_root
from nebrix.pc import platform_utils
from nebrix.pc.screen_operator import ScreenOperatorExecutor
from rig import VirtualDesktop

pytestmark = pytest.mark.desktop


@pytest.fixture
def library(virtual_desktop, monkeypatch):
    """pyautogui, imported against the session's desktop (it keeps that connection for
    its input functions), capturing as in an X11 session with scrot. pyscreeze looks for
    scrot once, when first imported: an earlier test may have imported it while PATH
    held only fake programs."""
    import pyautogui
    import pyscreeze

    assert shutil.which("scrot"), "scrot is part of the test desktop"
    monkeypatch.setattr(pyscreeze, "RUNNING_X11", True)
    monkeypatch.setattr(pyscreeze, "SCROT_EXISTS", True)
    return pyautogui


@pytest.fixture
def grabs(monkeypatch) -> list:
    """Records each in-process grab of the X screen."""
    from PIL import ImageGrab

    calls = []
    real_grab = ImageGrab.grab

    def grab(*args, **kwargs):
        calls.append(kwargs)
        return real_grab(*args, **kwargs)

    monkeypatch.setattr(ImageGrab, "grab", grab)
    return calls


def decoded(data: bytes) -> Image.Image:
    image = Image.open(io.BytesIO(data))
    image.load()
    return image


@pytest.mark.parametrize("width, height, api_size", [
    (1920, 1080, (1429, 804)),
    (1441, 901, (1356, 847)),
    (1366, 768, (1366, 768)),  # fits the API limits as it is
    (1023, 767, (1023, 767)),
])
def test_same_pixels_as_the_library_path(library, grabs, monkeypatch, tmp_path, width, height, api_size):
    monkeypatch.setattr(platform_utils, "get_screen_size_linux", lambda: (width, height))
    monkeypatch.setenv("HOME", str(tmp_path))
    monkeypatch.chdir(tmp_path)  # pyscreeze writes its scrot capture in the working directory
    with VirtualDesktop(width, height) as screen:
        monkeypatch.setenv("DISPLAY", screen.display)
        connection = show_on_root(desktop_scene(width, height), screen.display)
        try:
            result = ScreenOperatorExecutor().execute_action("screenshot")
            captured = library.screenshot()
        finally:
            connection.close()
    assert grabs == [{"xdisplay": screen.display}]
    expected = captured if api_size == (width, height) else captured.resize(api_size, resample=Image.Resampling.BICUBIC)
    assert list(result) == ["type", "base64", "media_type"]
    image = decoded(base64.b64decode(result["base64"]))
    assert (image.mode, image.size) == ("RGB", api_size)
    assert image.tobytes() == expected.tobytes()
    with Image.open(tmp_path / ".nebrix" / "screenshots" / "latest.png") as on_disk:
        assert (on_disk.mode, on_disk.size) == ("RGB", api_size)
        assert on_disk.tobytes() == expected.tobytes()


def test_a_replaced_capture_is_called(library, grabs, monkeypatch, tmp_path):
    """A host's tests that patch pyautogui.screenshot get their image, not the screen."""
    monkeypatch.setattr(platform_utils, "get_screen_size_linux", lambda: (1280, 800))
    monkeypatch.setenv("HOME", str(tmp_path))
    painted = Image.new("RGB", (1280, 800), (12, 34, 56))
    monkeypatch.setattr(library, "screenshot", lambda: painted)
    result = ScreenOperatorExecutor().execute_action("screenshot")
    assert decoded(base64.b64decode(result["base64"])).tobytes() == painted.tobytes()
    assert grabs == []


def test_no_grab_where_the_library_would_not_read_the_x_screen(library, grabs, monkeypatch, tmp_path):
    """Without scrot or gnome-screenshot pyscreeze cannot capture: the platform command
    answers, as it did before there was an in-process grab."""
    import pyscreeze

    monkeypatch.setattr(pyscreeze, "SCROT_EXISTS", False)
    monkeypatch.setattr(pyscreeze, "GNOMESCREENSHOT_EXISTS", False)
    monkeypatch.setattr(platform_utils, "get_screen_size_linux", lambda: (1920, 1080))
    monkeypatch.setenv("HOME", str(tmp_path))
    result = ScreenOperatorExecutor().execute_action("screenshot")
    assert decoded(base64.b64decode(result["base64"])).size == (1429, 804)
    assert grabs == []


def test_a_failing_grab_falls_back_to_the_library(library, monkeypatch, tmp_path):
    from PIL import ImageGrab

    def broken(**kwargs):
        raise OSError("X connection failed")

    monkeypatch.setattr(ImageGrab, "grab", broken)
    monkeypatch.setattr(platform_utils, "get_screen_size_linux", lambda: (1920, 1080))
    monkeypatch.setenv("HOME", str(tmp_path))
    monkeypatch.chdir(tmp_path)
    result = ScreenOperatorExecutor().execute_action("screenshot")
    assert result["type"] == "image"
    assert decoded(base64.b64decode(result["base64"])).size == (1429, 804)
