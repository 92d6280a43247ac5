"""The product wheel installed into fresh venvs, beside a host's own nebrix package.

The wheel of this runtime comes from NEBRIX_WHEEL (`make test` sets it to the repaired
wheel that tools/wheel builds); without it these tests are skipped.
"""

from __future__ import annotations

import base64
import hashlib
import json
import os
import shutil
import subprocess
import sys
import textwrap
import zipfile
from pathlib import Path

import pytest

WHEEL = os.environ.get("NEBRIX_WHEEL", "")
pytestmark = pytest.mark.skipif(not WHEEL, reason="NEBRIX_WHEEL not set: build the wheel with tools/wheel")

MODULES = ["nebrix.pc.desktop_access", "nebrix.core.scheduler", "nebrix.pc.screen_operator",
           "nebrix.workers.source_inspector"]
HOST_DATA = "/srv/the-host/data"
HOST_FILES = {
    "nebrix/__init__.py": '"""The host\'s own package."""\n',
    "nebrix/config.py": textwrap.dedent(f'''\
        from pathlib import Path


        def nebrix_dir():
            return Path("{HOST_DATA}")
        '''),
    "nebrix/core/__init__.py": "",
    "nebrix/pc/__init__.py": "",
    "nebrix/pc/platform_utils.py": textwrap.dedent('''\
        def get_screen_size_linux():
            return None


        def get_screenshot_command():
            return None
        '''),
    "nebrix/workers/__init__.py": "",
}
COMPILERS = ["cc", "c++", "gcc", "g++", "clang", "clang++"]
# What the modules run on the virtual desktop, linked into a PATH without compilers.
DESKTOP_PROGRAMS = ["python3", "xdotool", "scrot", "xclip", "xsel", "xdpyinfo"]


def record_hash(data: bytes) -> str:
    return "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()


def build_host_wheel(directory: Path) -> Path:
    """A minimal host distribution, written as a wheel by hand (no build backend needed)."""
    dist_info = "the_host-1.0.dist-info"
    files = {name: text.encode() for name, text in HOST_FILES.items()}
    files[f"{dist_info}/METADATA"] = b"Metadata-Version: 2.1\nName: the-host\nVersion: 1.0\n"
    files[f"{dist_info}/WHEEL"] = b"Wheel-Version: 1.0\nGenerator: hand\nRoot-Is-Purelib: true\nTag: py3-none-any\n"
    record = "".join(f"{name},{record_hash(data)},{len(data)}\n" for name, data in files.items())
    files[f"{dist_info}/RECORD"] = (record + f"{dist_info}/RECORD,,\n").encode()
    path = directory / "the_host-1.0-py3-none-any.whl"
    with zipfile.ZipFile(path, "w") as archive:
        for name, data in files.items():
            archive.writestr(name, data)
    return path


class Venv:
    def __init__(self, root: Path, env: dict[str, str] | None = None) -> None:
        subprocess.run([sys.executable, "-m", "venv", str(root)], check=True)
        self.python = root / "bin" / "python"
        self.env = env
        self.site = Path(self.run("import sysconfig; print(sysconfig.get_paths()['purelib'])").strip())

    def pip(self, *args: str) -> str:
        return subprocess.run([str(self.python), "-m", "pip", "--disable-pip-version-check", *args],
                              check=True, capture_output=True, text=True, env=self.env).stdout

    def run(self, code: str, **options) -> str:
        result = subprocess.run([str(self.python), "-c", code], capture_output=True, text=True, env=self.env,
                                **options)
        assert result.returncode == 0, result.stderr
        return result.stdout

    def host_files(self) -> dict[str, bytes]:
        return {name: (self.site / name).read_bytes() for name in HOST_FILES if (self.site / name).exists()}


@pytest.fixture(scope="module")
def host_wheel(tmp_path_factory):
    return build_host_wheel(tmp_path_factory.mktemp("host"))


def worker_answers(venv: Venv, lines: list[str]) -> list[dict]:
    result = subprocess.run([str(venv.python), "-m", "nebrix.workers.source_inspector"], input="\n".join(lines) + "\n",
                            capture_output=True, text=True, timeout=60, env=venv.env, check=True)
    return [json.loads(line) for line in result.stdout.splitlines()]


@pytest.mark.parametrize("host_first", [True, False], ids=["host-then-ours", "ours-then-host"])
def test_installs_beside_the_host_package_and_leaves_it_alone(tmp_path, host_wheel, host_first):
    venv = Venv(tmp_path / "venv")
    for wheel in ([host_wheel, WHEEL] if host_first else [WHEEL, host_wheel]):
        venv.pip("install", "--no-index", "--no-deps", str(wheel))
    expected = {name: text.encode() for name, text in HOST_FILES.items()}
    assert venv.host_files() == expected

    # Every module loads from the venv and works with the host's own nebrix.config.
    report = json.loads(venv.run(textwrap.dedent(f"""\
        import importlib, json
        modules = [importlib.import_module(name) for name in {MODULES!r}]
        from nebrix.core.scheduler import Scheduler
        import nebrix.config
        print(json.dumps({{"files": [m.__file__ for m in modules], "config": nebrix.config.__file__,
                           "state": str(Scheduler()._storage_path)}}))
        """), cwd=tmp_path))
    assert all(path.startswith(str(venv.site)) for path in report["files"]), report["files"]
    assert report["config"] == str(venv.site / "nebrix" / "config.py")
    assert report["state"] == f"{HOST_DATA}/scheduler.json"

    source = tmp_path / "sample.py"
    source.write_text("def greet(name):\n    return name\n")
    answers = worker_answers(venv, [json.dumps({"action": "find_functions", "path": str(source)}),
                                    '{"action": "quit"}'])
    assert answers[0]["success"] is True
    assert answers[1] == {"success": True, "result": "goodbye"}

    # Our distribution owns only our modules and their stubs.
    listing = venv.pip("show", "-f", "nebrix-native")
    owned = [line.strip() for line in listing.split("Files:", 1)[1].splitlines() if line.strip()]
    ours = [name for name in owned if ".dist-info/" not in name and not name.startswith("..")]
    assert ours and not set(ours) & set(HOST_FILES)
    assert all(name.startswith(("nebrix/pc/desktop_access.", "nebrix/pc/screen_operator.",
                                "nebrix/core/scheduler.", "nebrix/workers/source_inspector/",
                                "nebrix_native.libs/")) for name in ours), ours
    assert not any(name.endswith(("__init__.py", "py.typed")) or "_support_probe" in name for name in ours)

    venv.pip("uninstall", "-y", "nebrix-native")
    assert venv.host_files() == expected
    assert not (venv.site / "nebrix" / "workers" / "source_inspector").exists()


@pytest.mark.desktop
def test_wheel_works_in_a_fresh_venv_without_a_compiler(tmp_path, host_wheel, virtual_desktop):
    venv = Venv(tmp_path / "venv")
    # What a host's environment has already: its own package and the packages the
    # screen operator drives (these come from the package index, before PATH is cut).
    venv.pip("install", "--no-deps", str(host_wheel))
    venv.pip("install", "pyautogui", "Pillow", "python-xlib")

    tools = tmp_path / "bin"
    tools.mkdir()
    for program in DESKTOP_PROGRAMS:
        found = shutil.which(program)
        if found:
            (tools / program).symlink_to(found)
    venv.env = {**os.environ, "PATH": f"{venv.python.parent}:{tools}", "HOME": str(tmp_path / "home")}
    assert venv.run(f"import shutil; print([c for c in {COMPILERS!r} if shutil.which(c)])").strip() == "[]"
    venv.pip("install", "--no-index", "--no-deps", WHEEL)

    answer = json.loads(venv.run(textwrap.dedent(f"""\
        import importlib, json
        for name in {MODULES!r}:
            importlib.import_module(name)
        from nebrix.pc.screen_operator import ScreenOperatorExecutor
        result = ScreenOperatorExecutor().execute_action(action="screenshot")
        print(json.dumps(result))
        """), cwd=tmp_path, timeout=120))
    assert answer["type"] == "image", answer
    assert base64.b64decode(answer["base64"]).startswith(b"\x89PNG\r\n\x1a\n")
    assert (tmp_path / "home" / ".nebrix" / "screenshots" / "latest.png").is_file()
    assert worker_answers(venv, ['{"action": "quit"}']) == [{"success": True, "result": "goodbye"}]
