"""Brings up a private X desktop with accessibility and tears it down by PID.

The pieces start in order, each waited on until it signals readiness: Xvfb (writes its
display number), a D-Bus session bus, the AT-SPI bus launcher (owns org.a11y.Bus), the
AT-SPI registry (owns org.a11y.atspi.Registry on the accessibility bus) and openbox
(sets _NET_SUPPORTING_WM_CHECK on the root window; xdotool's window activation needs a
window manager). The bus address also goes into the root window's AT_SPI_BUS property,
where Qt programs look for it. Every process runs in its own session with its output in
a log file, so none holds a pipe that the caller reads, and stop() kills each process
group.

Test windows (GTK 3, GTK 4, Qt 5, and xmessage without accessibility) open one at a time
or side by side, and are returned only once each is managed by the window manager and,
but for xmessage, registered on the AT-SPI bus with a frame of its title.

`env` is the environment a desktop client needs; `apply_to_process()` puts it into
os.environ for in-process clients such as pyautogui, which connects to $DISPLAY when it
is first imported. The desktop's own processes run without the sanitizer preload of a
sanitized test run (the AT-SPI bus launcher does not come up under it). A directory whose `python3` is the system interpreter (the one with
the GObject bindings of AT-SPI2 and GTK) comes first on PATH.
"""

from __future__ import annotations

import json
import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path
from typing import NamedTuple

SYSTEM_PYTHON = "/usr/bin/python3"
AT_SPI_BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
AT_SPI_REGISTRY = "/usr/libexec/at-spi2-registryd"
REQUIRED_PROGRAMS = ("Xvfb", "openbox", "dbus-daemon", "dbus-send", "xprop", "xwininfo", "xdotool", "scrot", "xclip",
                     "xmessage")
TREE_DUMP_SCRIPT = Path(__file__).with_name("atspi_tree_dump.py")
TEST_WINDOW_SCRIPTS = {toolkit: Path(__file__).with_name(name) for toolkit, name in (
    ("gtk3", "gtk_test_window.py"), ("gtk4", "gtk4_test_window.py"), ("qt5", "qt_test_window.py"))}
BINDINGS_PROBE = """
import gi
gi.require_version('Atspi', '2.0')
gi.require_version('Gtk', '3.0')
from gi.repository import Atspi, Gtk
assert '4.0' in gi.Repository.get_default().enumerate_versions('Gtk'), 'no GTK 4 bindings'
import PyQt5.QtWidgets
"""
# One (bus name, object path) pair in dbus-send's print of an accessible's children.
ACCESSIBLE_REFERENCE = re.compile(r'string "([^"]*)"\s+object path "([^"]*)"')
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
        self._bus_pids: dict[str, int] = {}
        self._workdir: Path | None = None
        self._saved_environ: dict[str, str] | None = None
        self._windows: list[DesktopWindow] = []

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
        # Qt programs join AT-SPI only when told to.
        env.update(XDG_RUNTIME_DIR=str(runtime_dir), GDK_BACKEND="x11", XDG_SESSION_TYPE="x11", QT_QPA_PLATFORM="xcb",
                   QT_ACCESSIBILITY="1", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   PATH=f"{bin_dir}{os.pathsep}{os.environ.get('PATH', '')}")
        # GTK 4 draws with software OpenGL here otherwise: slower to start and busier.
        env.setdefault("GSK_RENDERER", "cairo")
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
        probe = subprocess.run([SYSTEM_PYTHON, "-c", BINDINGS_PROBE],
                               env={k: v for k, v in os.environ.items() if k not in SANITIZER_VARIABLES},
                               capture_output=True, text=True)
        if probe.returncode != 0:
            raise DesktopUnavailable("the system python3 lacks the AT-SPI2/GTK/Qt bindings: " + probe.stderr[-500:])

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
                                 method, *args], env=self.service_env, capture_output=True, encoding="utf-8",
                                errors="replace", timeout=5)
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
        self.run("xprop", "-root", "-f", "AT_SPI_BUS", "8s", "-set", "AT_SPI_BUS", address)

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
        result = subprocess.run(list(argv), env=self.service_env, capture_output=True, encoding="utf-8",
                                errors="replace", timeout=timeout)
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

    def client_windows(self) -> list[str]:
        """The windows the window manager manages (_NET_CLIENT_LIST), as decimal ids like xdotool's."""
        output = self.run("xprop", "-root", "_NET_CLIENT_LIST")
        return [str(int(token.rstrip(","), 16)) for token in output.split() if token.startswith("0x")]

    def accessible_frames(self, pid: int) -> list[str] | None:
        """The names of the top-level accessibles of process `pid`, or None while it is not
        registered with the AT-SPI registry. Plain D-Bus calls: no bindings needed here."""
        bus = self.env["AT_SPI_BUS_ADDRESS"]
        applications = self._bus_call(bus, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
                                      "org.a11y.atspi.Accessible.GetChildren")
        for name, path in ACCESSIBLE_REFERENCE.findall(applications):
            if self._bus_pid(name) == pid:
                frames = self._bus_call(bus, name, path, "org.a11y.atspi.Accessible.GetChildren")
                return [self._accessible_name(frame_bus, frame_path)
                        for frame_bus, frame_path in ACCESSIBLE_REFERENCE.findall(frames)]
        return None

    def accessible_tree(self, pid: int, reader: str = "atspi", *, max_depth: int | None = None, repeat: int = 1,
                        timeout: float = 300) -> dict:
        """The accessible tree of process `pid` as atspi_tree_dump prints it ({"seconds": [...],
        "nodes": [...]}), read `repeat` times by the reader named ("atspi", "fast", "uncached")."""
        argv = ["python3", str(TREE_DUMP_SCRIPT), str(pid), "--reader", reader, "--repeat", str(repeat)]
        if max_depth is not None:
            argv += ["--max-depth", str(max_depth)]
        # "python3" on the desktop's PATH is the interpreter with the AT-SPI bindings.
        result = subprocess.run(argv, env=self.service_env, capture_output=True, text=True, timeout=timeout)
        if result.returncode != 0:
            raise RuntimeError(f"reading the tree of {pid} failed: {result.stderr.strip()[-2000:]}")
        return json.loads(result.stdout)

    def _bus_pid(self, name: str) -> int:
        if name not in self._bus_pids:
            reply = self._bus_call(self.env["AT_SPI_BUS_ADDRESS"], "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                   "org.freedesktop.DBus.GetConnectionUnixProcessID", f"string:{name}")
            if "uint32" not in reply:
                return 0
            self._bus_pids[name] = int(reply.split("uint32")[1].split()[0])
        return self._bus_pids[name]

    def _accessible_name(self, bus_name: str, path: str) -> str:
        reply = self._bus_call(self.env["AT_SPI_BUS_ADDRESS"], bus_name, path, "org.freedesktop.DBus.Properties.Get",
                               "string:org.a11y.atspi.Accessible", "string:Name")
        return reply.split('"', 1)[1].rsplit('"', 1)[0] if reply.count('"') >= 2 else ""

    def open_test_window(self, title: str = "Editor Test", toolkit: str = "gtk3", *, full: bool = False,
                         helper_first: bool = False, accessible_name: str | None = None,
                         accessible_role: str | None = None, nodes: int = 0, timeout: float = 15) -> DesktopWindow:
        """Opens one window and returns it ready and focused (see open_windows)."""
        return self.open_windows([WindowRequest(title, toolkit, accessible_name, accessible_role, nodes)], full=full,
                                 helper_first=helper_first, timeout=timeout)[0]

    def open_windows(self, windows, *, full: bool = False, helper_first: bool = False,
                     timeout: float = 30) -> list[DesktopWindow]:
        """Starts windows side by side, each given as a title (GTK 3), a WindowRequest or the
        tuple of its fields, and waits until each is mapped and managed and (but for
        xmessage) registered on the AT-SPI bus with its frame. The last one is then
        activated and has the focus on return. `full` adds the further widgets,
        `helper_first` (GTK 3) a hidden helper window of the same title ahead of each real
        one."""
        opened = []
        try:
            for given in windows:
                request = WindowRequest(given) if isinstance(given, str) else WindowRequest(*given)
                window = (PlainWindow(self, request.title) if request.toolkit == "xmessage" else
                          TestWindow(self, request, full=full, helper_first=helper_first))
                opened.append(window)
                self._windows.append(window)
            deadline = time.monotonic() + timeout
            for window in opened:
                try:
                    wait_until(window.ready, deadline - time.monotonic(), "", interval=0.05)
                except DesktopUnavailable as error:
                    if window.process.poll() is not None:
                        raise
                    raise DesktopUnavailable(f"window {window.title!r} did not come up: {window.pending}") from error
            if opened:
                opened[-1].activate(deadline - time.monotonic())
        except BaseException:
            for window in opened:
                window.close()
            raise
        return opened


class WindowRequest(NamedTuple):
    """A window to open. toolkit: "gtk3", "gtk4", "qt5" or "xmessage" (plain X, no
    accessibility). accessible_name: the frame's name when not the title ("" for none; Qt
    falls back to the title then). accessible_role: the frame's role when not "frame", as
    AT-SPI names it ("alert", "file chooser", ...; GTK 3 only). nodes: adds a generated
    block of about that many accessible nodes (a big window). dropdown: adds a drop-down
    (GTK 4 only). menu: adds a menu bar with a plain, a check and two radio menu items."""

    title: str
    toolkit: str = "gtk3"
    accessible_name: str | None = None
    accessible_role: str | None = None
    nodes: int = 0
    dropdown: bool = False
    menu: bool = False


class DesktopWindow:
    """A program with one top-level window on the virtual desktop, ended by close()."""

    __test__ = False  # not a pytest test class

    def __init__(self, desktop: VirtualDesktop, title: str, argv: list[str], log: str) -> None:
        self.desktop = desktop
        self.title = title
        with desktop._log(log) as log_file:
            self.process = subprocess.Popen(argv, env=desktop.service_env, stdin=subprocess.DEVNULL, stdout=log_file,
                                            stderr=log_file, start_new_session=True)
        self.window_id = ""
        self.pending = "not started"  # what ready() waits for

    def _check_running(self) -> None:
        if self.process.poll() is not None:
            raise DesktopUnavailable(f"window {self.title!r} exited with {self.process.returncode} (its output is in "
                                     f"{self.desktop._workdir}/*.log)")

    def _waiting(self, pending: str) -> bool:
        self.pending = pending
        return False

    def ready(self) -> bool:
        raise NotImplementedError

    def is_active(self) -> bool:
        return self.desktop.xdotool("getactivewindow") == self.window_id

    def activate(self, timeout: float = 5) -> None:
        """Gives the window the focus and waits until it has it."""
        self.desktop.xdotool("windowactivate", "--sync", self.window_id)
        wait_until(self.is_active, timeout, f"window {self.title!r} to take the focus")

    def use_latin1_title(self) -> None:
        """Replaces the X title by its Latin-1 bytes (not valid UTF-8 when it has accents),
        the way an old X program names its window; the accessible name stays as it was."""
        self.desktop.run("xprop", "-id", self.window_id, "-remove", "_NET_WM_NAME")
        subprocess.run([b"xprop", b"-id", self.window_id.encode(), b"-f", b"WM_NAME", b"8s", b"-set", b"WM_NAME",
                        self.title.encode("latin-1")], env=self.desktop.service_env, check=True, timeout=10,
                       capture_output=True)

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


class PlainWindow(DesktopWindow):
    """An xmessage window: plain X, nothing on the AT-SPI bus."""

    def __init__(self, desktop: VirtualDesktop, title: str) -> None:
        super().__init__(desktop, title, ["xmessage", "-title", title, "-geometry", "+120+100",
                                          f"This is {title}."], "xmessage")

    def ready(self) -> bool:
        # xmessage sets no _NET_WM_PID: its window is the managed xmessage window of that
        # title that no other PlainWindow has taken.
        self._check_running()
        taken = {window.window_id for window in self.desktop._windows if isinstance(window, PlainWindow)}
        for window_id in set(self.desktop.client_windows()) - taken:
            try:
                if (self.desktop.run("xprop", "-id", window_id, "WM_CLASS").endswith('"xmessage", "Xmessage"\n')
                        and self.desktop.xdotool("getwindowname", window_id) == self.title):
                    self.window_id = window_id
                    return True
            except RuntimeError:  # a window that has just gone away
                continue
        return self._waiting("no managed xmessage window of that title")


class TestWindow(DesktopWindow):
    """A test window in a child process (see window_state); `state()` reads what it recorded."""

    def __init__(self, desktop: VirtualDesktop, request: WindowRequest, *, full: bool = False,
                 helper_first: bool = False) -> None:
        title, self.toolkit = request.title, request.toolkit
        self.accessible_name = title if request.accessible_name is None else request.accessible_name
        self._state_path = Path(tempfile.mkstemp(prefix="window-", suffix=".json", dir=desktop._workdir)[1])
        self._state_path.unlink()
        argv = [SYSTEM_PYTHON, str(TEST_WINDOW_SCRIPTS[self.toolkit]), "--title", title, "--state",
                str(self._state_path)]
        argv += ["--full"] * full + ["--helper-first"] * helper_first + ["--dropdown"] * request.dropdown
        argv += ["--menu"] * request.menu
        if request.nodes:
            argv += ["--nodes", str(request.nodes)]
        for option, value in (("--accessible-name", request.accessible_name), ("--accessible-role", request.accessible_role)):
            if value is not None:
                argv += [option, value]
        super().__init__(desktop, title, argv, f"{self.toolkit}-window")

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

    def ready(self) -> bool:
        self._check_running()
        self.window_id = self.state().get("window_id", "")
        if not self.window_id:
            return self._waiting("the window has not reported itself mapped")
        if self.window_id not in self.desktop.client_windows():
            return self._waiting(f"the window manager does not manage {self.window_id}")
        frames = self.desktop.accessible_frames(self.process.pid)
        if frames is None:
            return self._waiting("the program is not registered on the AT-SPI bus")
        # Qt names a window by its title when its accessible name is empty.
        return bool({self.accessible_name, self.title} & set(frames)) or self._waiting(
            f"its accessible frames are named {frames}")

    def is_active(self) -> bool:
        return bool(self.state().get("focused")) and super().is_active()

    def center_of(self, widget: str) -> tuple[int, int]:
        """The screen point at the middle of a widget ("Save", "entry", "slider", ...)."""
        x, y, width, height = self.state()["geometry"][widget]
        return x + width // 2, y + height // 2

    def close(self) -> None:
        super().close()
        self._state_path.unlink(missing_ok=True)
