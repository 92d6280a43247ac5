"""Screenshots without a desktop: a real Pillow image from a stand-in capture, and the
fallback commands of each platform through a recording subprocess.run."""

from __future__ import annotations

import base64
import io
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest
from PIL import Image

from nebrix.pc import platform_utils


@pytest.fixture
def home(monkeypatch, tmp_path) -> Path:
    monkeypatch.setenv("HOME", str(tmp_path))
    return tmp_path


def gradient(width: int, height: int) -> Image.Image:
    image = Image.linear_gradient("L").resize((width, height)).convert("RGB")
    image.paste((200, 30, 30), (width // 4, height // 4, width // 2, height // 2))
    return image


def decoded(result) -> Image.Image:
    assert list(result) == ["type", "base64", "media_type"]
    assert result["type"] == "image" and result["media_type"] == "image/png"
    data = result["base64"]
    assert "\n" not in data
    raw = base64.b64decode(data, validate=True)
    assert raw.startswith(b"\x89PNG\r\n\x1a\n")
    image = Image.open(io.BytesIO(raw))
    image.load()
    return image


def expected_scaled(image: Image.Image, size) -> bytes:
    return image.resize(size, resample=Image.Resampling.BICUBIC).tobytes()


def test_capture_is_scaled_encoded_and_saved(screen, gui, home):
    source = gradient(1920, 1080)
    gui.screenshot = lambda: source
    executor = screen(1920, 1080)
    assert executor.get_display_info()["last_screenshot"] is None
    image = decoded(executor.execute_action("screenshot"))
    assert image.size == (1429, 804)
    assert image.tobytes() == expected_scaled(source, (1429, 804))
    saved = home / ".nebrix" / "screenshots" / "latest.png"
    with Image.open(saved) as on_disk:
        assert on_disk.tobytes() == image.tobytes()
    assert executor.get_display_info()["last_screenshot"] == str(saved)


def test_unscaled_capture_keeps_its_size(screen, gui, home):
    source = gradient(1280, 800)
    gui.screenshot = lambda: source
    image = decoded(screen(1280, 800).execute_action("screenshot"))
    assert image.size == (1280, 800) and image.tobytes() == source.tobytes()


def test_an_unwritable_home_fails_through_the_dispatch_guard(screen, gui, home, caplog):
    gui.screenshot = lambda: gradient(64, 40)
    (home / ".nebrix").write_text("not a directory")
    result = screen(1280, 800).execute_action("screenshot")
    assert result["type"] == "error" and result["error"].startswith("Action screenshot failed: ")
    assert "Action screenshot failed" in caplog.text


def test_an_unwritable_latest_png_reads_as_pillow_would_say_it(screen, gui, home):
    gui.screenshot = lambda: gradient(64, 40)
    latest_png = home / ".nebrix" / "screenshots" / "latest.png"
    latest_png.mkdir(parents=True)
    executor = screen(1280, 800)
    result = executor.execute_action("screenshot")
    assert result == {"type": "error", "error": f"Action screenshot failed: [Errno 21] Is a directory: '{latest_png}'"}
    assert executor.get_display_info()["last_screenshot"] is None


class Commands:
    """subprocess.run stand-in: records argv and keyword arguments, writes `image` to the
    last argument (the output file) unless told to fail."""

    def __init__(self, image: Image.Image | None) -> None:
        self.image = image
        self.runs: list[tuple[list, dict]] = []
        self.failure: Exception | None = None

    @staticmethod
    def output_path(argv) -> str:
        if argv[0] != "powershell":
            return argv[-1]
        quoted = argv[-1].partition("$bmp.Save('")[2].removesuffix("')}")
        return quoted.replace("''", "'")

    def __call__(self, argv, **kwargs):
        self.runs.append((argv, kwargs))
        if self.failure is not None:
            raise self.failure
        if self.image is not None:
            self.image.save(self.output_path(argv), format="PNG")
        return subprocess.CompletedProcess(argv, 0)


@pytest.fixture
def commands(monkeypatch, gui):
    """No in-process capture; the platform command 'captures' a 1920x1080 image."""
    monkeypatch.setitem(sys.modules, "pyautogui", None)
    recorder = Commands(gradient(1920, 1080))
    monkeypatch.setattr(subprocess, "run", recorder)
    return recorder


def latest(home: Path) -> str:
    return str(home / ".nebrix" / "screenshots" / "latest.png")


def test_linux_fallback_runs_scrot_and_scales_the_file(screen, commands, home):
    executor = screen(1920, 1080)
    image = decoded(executor.execute_action("screenshot"))
    assert commands.runs == [(["scrot", "-o", latest(home)], {"timeout": 5, "check": True})]
    assert image.size == (1429, 804)
    assert image.tobytes() == expected_scaled(commands.image, (1429, 804))
    with Image.open(latest(home)) as on_disk:
        assert on_disk.size == (1429, 804)
    assert executor.get_display_info()["last_screenshot"] == latest(home)


def test_linux_fallback_uses_the_host_command(screen, commands, home, monkeypatch):
    monkeypatch.setattr(platform_utils, "get_screenshot_command", lambda: ("grab-screen",))
    decoded(screen(1920, 1080).execute_action("screenshot"))
    assert commands.runs[0][0] == ["grab-screen", latest(home)]
    monkeypatch.setattr(platform_utils, "get_screenshot_command", lambda: ["import", "-window", "root"])
    decoded(screen(1920, 1080).execute_action("screenshot"))
    assert commands.runs[1][0] == ["import", "-window", "root", latest(home)]


def test_unscaled_fallback_leaves_the_file_as_written(screen, commands, home):
    commands.image = gradient(1280, 800)
    as_written = io.BytesIO()
    commands.image.save(as_written, format="PNG")
    image = decoded(screen(1280, 800).execute_action("screenshot"))
    assert image.tobytes() == commands.image.tobytes()
    assert Path(latest(home)).read_bytes() == as_written.getvalue()


def test_macos_fallback(screen, commands, home, system):
    executor = screen(1920, 1080)
    system("Darwin")
    assert decoded(executor.execute_action("screenshot")).size == (1429, 804)
    assert commands.runs == [(["screencapture", "-x", latest(home)], {"timeout": 5, "check": True})]


def test_windows_fallback_quotes_the_path(screen, commands, monkeypatch, tmp_path, system):
    home = tmp_path / "O'Brien's"
    home.mkdir()
    monkeypatch.setenv("HOME", str(home))
    executor = screen(1920, 1080)
    system("Windows")
    assert decoded(executor.execute_action("screenshot")).size == (1429, 804)
    [(argv, kwargs)] = commands.runs
    escaped = latest(home).replace("'", "''")
    assert argv == ["powershell", "-Command",
                    "Add-Type -AssemblyName System.Windows.Forms;[System.Windows.Forms.Screen]::PrimaryScreen | "
                    "ForEach-Object {$bmp = New-Object System.Drawing.Bitmap($_.Bounds.Width, $_.Bounds.Height);"
                    "$g = [System.Drawing.Graphics]::FromImage($bmp);$g.CopyFromScreen($_.Bounds.Location, "
                    "[System.Drawing.Point]::Empty, $_.Bounds.Size);$bmp.Save('" + escaped + "')}"]
    assert kwargs == {"timeout": 10, "check": True}


def test_fallback_on_an_unknown_system(screen, commands, home, system):
    executor = screen(1920, 1080)
    system("FreeBSD")
    assert executor.execute_action("screenshot") == {"type": "error", "error": "No screenshot method for FreeBSD"}
    assert commands.runs == []


@pytest.mark.parametrize("failure, message", [
    (subprocess.CalledProcessError(2, ["scrot"]), "Command '['scrot']' returned non-zero exit status 2."),
    (FileNotFoundError(2, "No such file or directory"), "[Errno 2] No such file or directory"),
    (subprocess.TimeoutExpired(["scrot"], 5), "Command '['scrot']' timed out after 5 seconds"),
])
def test_fallback_failures_are_results(screen, commands, home, caplog, failure, message):
    executor = screen(1920, 1080)
    commands.failure = failure
    result = executor.execute_action("screenshot")
    assert result == {"type": "error", "error": "Screenshot fallback failed: " + message}
    assert executor.get_display_info()["last_screenshot"] is None
    assert "failed" not in caplog.text


def test_fallback_with_an_unreadable_image(screen, commands, home):
    commands.image = None  # the command "succeeds" and writes nothing
    result = screen(1920, 1080).execute_action("screenshot")
    assert result["error"].startswith("Screenshot fallback failed: ")


def test_capture_errors_fall_back_silently(screen, gui, commands, home, monkeypatch, caplog):
    def broken():
        raise OSError("XGetImage failed")
    gui.screenshot = broken
    monkeypatch.setitem(sys.modules, "pyautogui", gui)
    assert decoded(screen(1920, 1080).execute_action("screenshot")).size == (1429, 804)
    assert len(commands.runs) == 1
    assert caplog.text == ""


# PowerShell ends a single-quoted string at any of these characters, unless the next
# character is one of them too: then the pair stands for the second one.
POWERSHELL_QUOTES = "'\u2018\u2019\u201a\u201b"

FAKE_POWERSHELL = f'''#!{sys.executable}
"""Records its arguments; reads the path out of $bmp.Save('...') the way PowerShell
tokenizes a single-quoted string and copies $NEBRIX_TEST_IMAGE there. Anything after the
string but ")}}" would be more script: that fails as a parse error would."""
import json, os, shutil, sys

QUOTES = {POWERSHELL_QUOTES!r}
script = sys.argv[-1]
with open(os.environ["NEBRIX_TEST_RECORD"], "w", encoding="utf-8") as record:
    head, found, rest = script.partition("$bmp.Save(")
    path, i = [], 1
    if found and rest[:1] in QUOTES:
        while i < len(rest):
            c = rest[i]
            i += 1
            if c in QUOTES:
                if i < len(rest) and rest[i] in QUOTES:
                    c = rest[i]
                    i += 1
                else:
                    break
            path.append(c)
    json.dump({{"argv": sys.argv[1:], "head": head, "path": "".join(path), "tail": rest[i:]}}, record)
if rest[i:] != ")}}":
    sys.exit("ParserError: unexpected token")
shutil.copyfile(os.environ["NEBRIX_TEST_IMAGE"], "".join(path))
'''


@pytest.mark.parametrize("name", [
    "O'Brien", "O\u2019Brien", "\u2018quoted\u2019 \u201alow\u201b", "''\u2019\u2019'",
    "x\u2019);Start-Process calc;(\u2019", "x');Start-Process calc;('",
])
def test_powershell_reads_back_the_path_it_was_given(screen, monkeypatch, tmp_path, system, name):
    monkeypatch.setitem(sys.modules, "pyautogui", None)
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    fake = bin_dir / "powershell"
    fake.write_text(FAKE_POWERSHELL, encoding="utf-8")
    fake.chmod(0o755)
    monkeypatch.setenv("PATH", f"{bin_dir}{os.pathsep}{os.environ['PATH']}")
    gradient(1920, 1080).save(tmp_path / "screen.png")
    monkeypatch.setenv("NEBRIX_TEST_IMAGE", str(tmp_path / "screen.png"))
    monkeypatch.setenv("NEBRIX_TEST_RECORD", str(tmp_path / "record.json"))
    home = tmp_path / name
    home.mkdir()
    monkeypatch.setenv("HOME", str(home))
    executor = screen(1920, 1080)
    system("Windows")

    assert decoded(executor.execute_action("screenshot")).size == (1429, 804)
    record = json.loads((tmp_path / "record.json").read_text(encoding="utf-8"))
    assert record["path"] == latest(home)
    assert record["argv"][0] == "-Command" and len(record["argv"]) == 2
    assert record["head"] == ("Add-Type -AssemblyName System.Windows.Forms;[System.Windows.Forms.Screen]::PrimaryScreen"
                              " | ForEach-Object {$bmp = New-Object System.Drawing.Bitmap($_.Bounds.Width, "
                              "$_.Bounds.Height);$g = [System.Drawing.Graphics]::FromImage($bmp);$g.CopyFromScreen("
                              "$_.Bounds.Location, [System.Drawing.Point]::Empty, $_.Bounds.Size);")
