"""Brings up a private X desktop with accessibility and tears it down by PID.

The pieces start in order, each waited on until it signals readiness: Xvfb (writes its
display number), a D-Bus session bus, the AT-SPI bus launcher (owns org.a11y.Bus), the
AT-SPI registry (owns org.a11y.atspi.Registry on the accessibility bus) and openbox
(sets _NET_SUPPORTING_WM_CHECK on the root window; xdotool's window activation needs a
window manager). Every process runs in its own session with its output in a log file,
so none holds a pipe that the caller reads, and stop() kills each process group.

`env` is the environment a desktop client needs; `apply_to_process()` puts it into
os.environ for in-process clients such as pyautogui, which connects to $DISPLAY when it
is first imported. The desktop's own processes run without the sanitizer preload of a
sanitized test run (the AT-SPI bus launcher does not come up under it). A directory whose `python3` is the system interpreter (the one with
the GObject bindings of AT-SPI2 and GTK) comes first on PATH.
"""

from __future__ import annotations

import json
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

SYSTEM_PYTHON = "/usr/bin/python3"
AT_SPI_BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
AT_SPI_REGISTRY = "/usr/libexec/at-spi2-registryd"
REQUIRED_PROGRAMS = ("Xvfb", "openbox", "dbus-daemon", "dbus-send", "xprop", "xdotool", "scrot", "xclip")
TEST_WINDOW_SCRIPT = Path(__file__).with_name("gtk_test_window.py")
SANITIZER_VARIABLES = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC")


class DesktopUnavailable(RuntimeError):
    """A part of the virtual desktop is missing or did not come up."""


def wait_until(condition, timeout: float, what: str, interval: float = 0.02):
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise DesktopUnavailable(f"timed out waiting for {what}")
        time.sleep(interval)


class VirtualDesktop:
    def __init__(self, width: int = 1920, height: int = 1080) -> None:
        self.width = width
        self.height = height
        self.display = ""
        self.env: dict[str, str] = {}
        self._processes: list[subprocess.Popen] = []
        self._pids: list[int] = []
        self._workdir: Path | None = None
        self._saved_environ: dict[str, str] | None = None
        self._windows: list[TestWindow] = []

    # -- lifecycle ------------------------------------------------------------------

    def start(self) -> VirtualDesktop:
        self.check_requirements()
        self._workdir = Path(tempfile.mkdtemp(prefix="nebrix-desktop-"))
        runtime_dir = self._workdir / "runtime"
        runtime_dir.mkdir(mode=0o700)
        bin_dir = self._workdir / "bin"
        bin_dir.mkdir()
        (bin_dir / "python3").symlink_to(SYSTEM_PYTHON)
        env = {k: v for k, v in os.environ.items() if k not in ("NO_AT_BRIDGE", "DBUS_SESSION_BUS_ADDRESS",
                                                                  "AT_SPI_BUS_ADDRESS", "WAYLAND_DISPLAY")}
        # XDG_SESSION_TYPE as an X11 login sets it (pyscreeze picks its capture method by it).
        env.update(XDG_RUNTIME_DIR=str(runtime_dir), GDK_BACKEND="x11", XDG_SESSION_TYPE="x11",
                   PATH=f"{bin_dir}{os.pathsep}{os.environ.get('PATH', '')}")
        self.env = env
        try:
            self._start_xvfb()
            self._start_session_bus()
            self._start_accessibility()
            self._start_window_manager()
        except BaseException:
            self.stop()
            raise
        return self

    def stop(self) -> None:
        for window in list(self._windows):
            window.close()
        for process in reversed(self._processes):
            self._kill_group(process.pid)
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass
        for pid in self._pids:
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        self._processes.clear()
        self._pids.clear()
        self.restore_process()
        if self._workdir is not None:
            shutil.rmtree(self._workdir, ignore_errors=True)
            self._workdir = None

    def __enter__(self) -> VirtualDesktop:
        return self.start()

    def __exit__(self, *exc_info) -> None:
        self.stop()

    def apply_to_process(self) -> None:
        """Makes this desktop the one the current process talks to."""
        if self._saved_environ is None:
            self._saved_environ = dict(os.environ)
        os.environ.clear()
        os.environ.update(self.env)

    def restore_process(self) -> None:
        if self._saved_environ is not None:
            os.environ.clear()
            os.environ.update(self._saved_environ)
            self._saved_environ = None

    @staticmethod
    def check_requirements() -> None:
        missing = [name for name in REQUIRED_PROGRAMS if shutil.which(name) is None]
        missing += [path for path in (AT_SPI_BUS_LAUNCHER, AT_SPI_REGISTRY, SYSTEM_PYTHON) if not os.path.exists(path)]
        if missing:
            raise DesktopUnavailable("missing desktop programs: " + ", ".join(missing))
        probe = subprocess.run([SYSTEM_PYTHON, "-c", "import gi; gi.require_version('Atspi', '2.0'); "
                                "gi.require_version('Gtk', '3.0'); from gi.repository import Atspi, Gtk"],
                               env={k: v for k, v in os.environ.items() if k not in SANITIZER_VARIABLES},
                               capture_output=True, text=True)
        if probe.returncode != 0:
            raise DesktopUnavailable("the system python3 lacks the AT-SPI2/GTK bindings: " + probe.stderr[-500:])

    @property
    def service_env(self) -> dict[str, str]:
        """`env` without a sanitizer's preload: for the desktop's own programs."""
        return {k: v for k, v in self.env.items() if k not in SANITIZER_VARIABLES}

    # -- pieces ---------------------------------------------------------------------

    def _log(self, name: str):
        return open(self._workdir / f"{name}.log", "ab")

    def _spawn(self, argv: list[str], name: str, **kwargs) -> subprocess.Popen:
        with self._log(name) as log:
            process = subprocess.Popen(argv, env=self.service_env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                       start_new_session=True, **kwargs)
        self._processes.append(process)
        return process

    def _start_xvfb(self) -> None:
        read_end, write_end = os.pipe()
        try:
            process = self._spawn(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                   f"{self.width}x{self.height}x24", "-nolisten", "tcp"],
                                  "xvfb", pass_fds=(write_end,))
            os.close(write_end)
            write_end = -1
            number = b""
            deadline = time.monotonic() + 10
            while not number.endswith(b"\n"):
                remaining = deadline - time.monotonic()
                if remaining <= 0 or process.poll() is not None:
                    raise DesktopUnavailable("Xvfb did not report its display")
                ready, _, _ = select.select([read_end], [], [], remaining)
                if ready:
                    chunk = os.read(read_end, 16)
                    if not chunk:
                        raise DesktopUnavailable("Xvfb closed its display pipe")
                    number += chunk
        finally:
            os.close(read_end)
            if write_end >= 0:
                os.close(write_end)
        self.display = f":{number.decode().strip()}"
        self.env["DISPLAY"] = self.display

    def _start_session_bus(self) -> None:
        with tempfile.TemporaryFile(dir=self._workdir) as output, self._log("dbus") as log:
            subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"],
                           env=self.service_env, stdin=subprocess.DEVNULL, stdout=output, stderr=log, check=True,
                           timeout=10)
            output.seek(0)
            lines = output.read().decode().split()
        address, pid = lines[0], int(lines[1])
        self._pids.append(pid)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address

    def _bus_call(self, bus: str, destination: str, path: str, method: str, *args: str) -> str:
        result = subprocess.run(["dbus-send", f"--bus={bus}", "--print-reply", f"--dest={destination}", path,
                                 method, *args], env=self.service_env, capture_output=True, text=True, timeout=5)
        return result.stdout if result.returncode == 0 else ""

    def _name_owned(self, bus: str, name: str) -> bool:
        reply = self._bus_call(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus.NameHasOwner", f"string:{name}")
        return "boolean true" in reply

    def _start_accessibility(self) -> None:
        session = self.env["DBUS_SESSION_BUS_ADDRESS"]
        self._spawn([AT_SPI_BUS_LAUNCHER, "--launch-immediately"], "at-spi-bus")
        wait_until(lambda: self._name_owned(session, "org.a11y.Bus"), 10, "the AT-SPI bus launcher")
        reply = self._bus_call(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress")
        address = reply.split('"')[1] if '"' in reply else ""
        if not address:
            raise DesktopUnavailable("the AT-SPI bus has no address")
        self.env["AT_SPI_BUS_ADDRESS"] = address
        # Started here rather than by D-Bus activation, so stop() can end it.
        self._spawn([AT_SPI_REGISTRY], "at-spi-registry")
        wait_until(lambda: self._name_owned(address, "org.a11y.atspi.Registry"), 10, "the AT-SPI registry")

    def _start_window_manager(self) -> None:
        self._spawn(["openbox", "--sm-disable"], "openbox")

        def managed() -> bool:
            result = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.service_env,
                                    capture_output=True, text=True, timeout=5)
            return "window id" in result.stdout

        wait_until(managed, 10, "the window manager")

    @staticmethod
    def _kill_group(pid: int) -> None:
        try:
            os.killpg(pid, signal.SIGTERM)
        except (ProcessLookupError, PermissionError):
            pass

    # -- helpers for tests ------------------------------------------------------------

    def run(self, *argv: str, timeout: float = 10) -> str:
        """Runs a desktop program against this display and returns its output."""
        result = subprocess.run(list(argv), env=self.service_env, capture_output=True, text=True, timeout=timeout)
        if result.returncode != 0:
            raise RuntimeError(f"{argv[0]} failed ({result.returncode}): {result.stderr.strip()}")
        return result.stdout

    def xdotool(self, *args: str) -> str:
        return self.run("xdotool", *args).strip()

    def pointer(self) -> tuple[int, int]:
        fields = dict(part.split(":") for part in self.xdotool("getmouselocation").split())
        return int(fields["x"]), int(fields["y"])

    def active_window_name(self) -> str:
        return self.xdotool("getactivewindow", "getwindowname")

    def scrot(self, path: Path) -> Path:
        self.run("scrot", "--overwrite", str(path))
        return path

    def open_test_window(self, title: str = "Editor Test", timeout: float = 15) -> TestWindow:
        window = TestWindow(self, title)
        self._windows.append(window)
        try:
            window.wait_ready(timeout)
        except BaseException:
            window.close()
            raise
        return window


class TestWindow:
    """The GTK test window in a child process; `state()` reads what it has recorded."""

    __test__ = False  # not a pytest test class

    def __init__(self, desktop: VirtualDesktop, title: str) -> None:
        self.desktop = desktop
        self.title = title
        self._state_path = Path(tempfile.mkstemp(prefix="window-", suffix=".json", dir=desktop._workdir)[1])
        self._state_path.unlink()
        with desktop._log("test-window") as log:
            self.process = subprocess.Popen([SYSTEM_PYTHON, str(TEST_WINDOW_SCRIPT), "--title", title,
                                             "--state", str(self._state_path)], env=desktop.service_env,
                                            stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                            start_new_session=True)
        self.window_id = ""

    def state(self) -> dict:
        try:
            return json.loads(self._state_path.read_text())
        except (FileNotFoundError, json.JSONDecodeError):
            return {}

    def wait_for(self, predicate, timeout: float = 5, what: str = "the test window") -> dict:
        """Waits until predicate(state) holds and returns that state."""
        def check():
            state = self.state()
            return state if state and predicate(state) else None

        return wait_until(check, timeout, what)

    def wait_ready(self, timeout: float) -> None:
        def ready():
            if self.process.poll() is not None:
                raise DesktopUnavailable(f"the test window exited with {self.process.returncode}")
            state = self.state()
            return state.get("ready") and state.get("focused")

        wait_until(ready, timeout, f"window {self.title!r} to show and take focus")
        self.window_id = self.desktop.xdotool("search", "--name", f"^{self.title}$").split()[0]

    def center_of(self, widget: str) -> tuple[int, int]:
        """The screen point at the middle of a widget ("Save", "entry", "slider", ...)."""
        x, y, width, height = self.state()["geometry"][widget]
        return x + width // 2, y + height // 2

    def close(self) -> None:
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self in self.desktop._windows:
            self.desktop._windows.remove(self)
        self._state_path.unlink(missing_ok=True)
