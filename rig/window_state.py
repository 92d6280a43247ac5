"""What every test window shares, whatever its toolkit: the command line, the widgets it
shows, and the state file it keeps up to date (written atomically) with what reached it.

Imported by the window programs, which run under the system python3, so it needs nothing
beyond the standard library.

State keys: ready, title, toolkit, pid, window_id (the X id as xdotool prints it, once
known), focused, clicks (per button), keys (X key names), pointer (press/release, X
button number, screen point), scrolls (up/down/left/right), entry, check, combo (the
chosen text or None), slider, geometry (screen rectangle per widget name) and, with
--full, text (the multi-line text), radio (the chosen radio button), toggle, list (the
selected row's text or None); with --dropdown (GTK 4), dropdown (the drop-down's chosen
text or None); with --menu, clicks["About"] and wrap (the check menu item) and theme (the
chosen radio menu item) of the menu bar's "Options" menu.
"""

import argparse
import ctypes
import json
import os

MAX_EVENTS = 500
COMBO_OPTIONS = ("Small", "Medium", "Large")
RADIO_OPTIONS = ("Left", "Center", "Right")
LIST_ROWS = ("Apple", "Banana", "Cherry")
NOTES_TEXT = "First line\nSecond line"
# The menu bar's one menu: a plain item, a check item and two radio items.
MENU_TITLE = "Options"
MENU_ITEM = "About"
MENU_CHECK = "Word wrap"
MENU_RADIOS = ("Light", "Dark")


def parse_arguments() -> argparse.Namespace:
    parser = argparse.ArgumentParser()
    parser.add_argument("--title", default="Editor Test")
    parser.add_argument("--state", required=True)
    parser.add_argument("--full", action="store_true",
                        help="add multi-line text, radio buttons, a toggle button and a list")
    parser.add_argument("--accessible-name", help="the window's accessible name, when not its title")
    parser.add_argument("--accessible-role", help="the window's accessible role (GTK 3), when not frame")
    parser.add_argument("--nodes", type=int, default=0,
                        help="add a generated block of about this many accessible nodes (see big_widgets)")
    parser.add_argument("--dropdown", action="store_true", help="add a GTK 4 drop-down (GTK 4 only)")
    parser.add_argument("--menu", action="store_true",
                        help="add a menu bar with a plain, a check and two radio menu items")
    parser.add_argument("--helper-first", action="store_true",
                        help="create a hidden helper X window with the same title before the real one")
    return parser.parse_args()


class StateFile:
    def __init__(self, options: argparse.Namespace, toolkit: str) -> None:
        self.path = options.state
        self.state = {
            "ready": False,
            "title": options.title,
            "toolkit": toolkit,
            "pid": os.getpid(),
            "window_id": "",
            "clicks": {"Save": 0, "Delete": 0},
            "keys": [],
            "pointer": [],
            "scrolls": [],
            "entry": "hello",
            "check": False,
            "combo": None,
            "slider": 42.0,
            "focused": False,
            "geometry": {},
        }
        if options.full:
            self.state.update(text=NOTES_TEXT, radio=RADIO_OPTIONS[0], toggle=False, list=None)
        if options.dropdown:
            self.state["dropdown"] = None
        if options.menu:
            self.state["clicks"][MENU_ITEM] = 0
            self.state.update(wrap=False, theme=MENU_RADIOS[0])

    def write(self) -> None:
        temporary = self.path + ".tmp"
        with open(temporary, "w") as handle:
            json.dump(self.state, handle)
        os.replace(temporary, self.path)

    def set(self, key: str, value) -> None:
        if self.state[key] != value:
            self.state[key] = value
            self.write()

    def record(self, key: str, item) -> None:
        events = self.state[key]
        events.append(item)
        del events[:-MAX_EVENTS]
        self.write()

    def click(self, name: str) -> None:
        self.state["clicks"][name] += 1
        self.write()

    def pointer(self, kind: str, button: int, x: float, y: float) -> None:
        self.record("pointer", {"kind": kind, "button": button, "x": round(x), "y": round(y)})

    def scroll(self, dx: float, dy: float) -> None:
        """Records a wheel turn given as deltas, positive down and to the right."""
        if dx or dy:
            self.record("scrolls", "down" if dy > 0 else "up" if dy < 0 else "right" if dx > 0 else "left")

    def show(self, window_id: int, geometry: dict) -> None:
        """Records the mapped window's id and widget rectangles; the first call makes it ready."""
        if geometry != self.state["geometry"] or not self.state["ready"]:
            self.state["window_id"] = str(window_id)
            self.state["geometry"] = geometry
            self.state["ready"] = True
            self.write()


class Xlib:
    """The few Xlib calls a toolkit does not offer: key names, moving a window and where
    it is on the screen."""

    def __init__(self) -> None:
        self.library = ctypes.CDLL("libX11.so.6")
        self.library.XOpenDisplay.restype = ctypes.c_void_p
        self.library.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.library.XDefaultRootWindow.restype = ctypes.c_ulong
        self.library.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.library.XKeysymToString.restype = ctypes.c_char_p
        self.library.XKeysymToString.argtypes = [ctypes.c_ulong]
        window, pointer = ctypes.c_ulong, ctypes.c_void_p
        self.library.XMoveWindow.argtypes = [pointer, window, ctypes.c_int, ctypes.c_int]
        self.library.XFlush.argtypes = [pointer]
        self.library.XFree.argtypes = [pointer]
        self.library.XQueryTree.argtypes = [pointer, window] + [ctypes.c_void_p] * 4
        self.library.XGetGeometry.argtypes = [pointer, window] + [ctypes.c_void_p] * 7
        self.library.XTranslateCoordinates.argtypes = [
            ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
            ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong)]
        self.display = None

    def connect(self) -> None:
        if self.display is None:
            self.display = self.library.XOpenDisplay(None)

    def move(self, window_id: int, x: int, y: int) -> None:
        """Asks the window manager to put a window's frame at (x, y)."""
        self.connect()
        self.library.XMoveWindow(self.display, window_id, x, y)
        self.library.XFlush(self.display)

    def frame_origin(self, window_id: int) -> tuple[int, int]:
        """The screen point of the frame around a window: its ancestor just below the root."""
        self.connect()
        root, parent, children, count = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p(), ctypes.c_uint()
        while self.library.XQueryTree(self.display, window_id, ctypes.byref(root), ctypes.byref(parent),
                                      ctypes.byref(children), ctypes.byref(count)):
            if children.value:
                self.library.XFree(children)
            if parent.value in (0, root.value):
                break
            window_id = parent.value
        x, y, unsigned = ctypes.c_int(), ctypes.c_int(), ctypes.c_uint()
        self.library.XGetGeometry(self.display, window_id, ctypes.byref(root), ctypes.byref(x), ctypes.byref(y),
                                  ctypes.byref(unsigned), ctypes.byref(unsigned), ctypes.byref(unsigned),
                                  ctypes.byref(unsigned))
        return x.value, y.value

    def key_name(self, keysym: int) -> str:
        name = self.library.XKeysymToString(keysym)
        return name.decode() if name else f"0x{keysym:x}"

    def origin(self, window_id: int) -> tuple[int, int]:
        """The screen point of a window's top left corner."""
        self.connect()
        root = self.library.XDefaultRootWindow(self.display)
        x, y, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
        self.library.XTranslateCoordinates(self.display, window_id, root, 0, 0, ctypes.byref(x), ctypes.byref(y),
                                           ctypes.byref(child))
        return x.value, y.value
