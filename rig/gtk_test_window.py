"""The GTK 3 test window, run by a python3 that has Debian's GObject bindings:

    python3 gtk_test_window.py --title "Editor Test" --state STATE.json

It shows a "Save" button, a text entry holding "hello", a check box "Enable sync", a
label "Ready", a disabled "Delete" button, a combo box and a slider, and keeps STATE.json
up to date (written atomically) with what reached it: clicks per button, key presses,
pointer buttons, scrolls, the entry text, the check box, combo and slider values, and
the screen rectangle of each widget.
"""

import argparse
import json
import os

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

MAX_EVENTS = 500


class TestWindow:
    def __init__(self, title: str, state_path: str) -> None:
        self.state_path = state_path
        self.state = {
            "ready": False,
            "title": title,
            "pid": os.getpid(),
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
        self.last_pointer_event = None
        self.window = Gtk.Window(title=title)
        self.window.set_default_size(640, 420)
        self.window.move(80, 60)
        self.window.add_events(Gdk.EventMask.SCROLL_MASK | Gdk.EventMask.SMOOTH_SCROLL_MASK
                               | Gdk.EventMask.BUTTON_PRESS_MASK | Gdk.EventMask.BUTTON_RELEASE_MASK
                               | Gdk.EventMask.KEY_PRESS_MASK)
        self.window.connect("destroy", Gtk.main_quit)
        self.window.connect("key-press-event", self.on_key)
        self.window.connect("button-press-event", self.on_pointer, "press")
        self.window.connect("button-release-event", self.on_pointer, "release")
        self.window.connect("scroll-event", self.on_scroll)
        self.window.connect("notify::is-active", self.on_active)

        box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=8, margin=16)
        self.widgets = {}
        save = Gtk.Button(label="Save")
        save.connect("clicked", self.on_click, "Save")
        self.entry = Gtk.Entry(text="hello")
        self.entry.connect("changed", self.on_entry)
        check = Gtk.CheckButton(label="Enable sync")
        check.connect("toggled", self.on_check)
        label = Gtk.Label(label="Ready")
        delete = Gtk.Button(label="Delete")
        delete.set_sensitive(False)
        delete.connect("clicked", self.on_click, "Delete")
        combo = Gtk.ComboBoxText()
        for option in ("Small", "Medium", "Large"):
            combo.append_text(option)
        combo.connect("changed", self.on_combo)
        slider = Gtk.Scale.new_with_range(Gtk.Orientation.HORIZONTAL, 0, 100, 1)
        slider.set_value(42)
        slider.connect("value-changed", self.on_slider)
        for name, widget in (("Save", save), ("entry", self.entry), ("Enable sync", check),
                             ("Ready", label), ("Delete", delete), ("combo", combo), ("slider", slider)):
            box.pack_start(widget, False, False, 0)
            self.widgets[name] = widget
        self.window.add(box)
        self.window.show_all()
        GLib.timeout_add(100, self.refresh_geometry)

    def write(self) -> None:
        temporary = self.state_path + ".tmp"
        with open(temporary, "w") as handle:
            json.dump(self.state, handle)
        os.replace(temporary, self.state_path)

    def record(self, key: str, item) -> None:
        events = self.state[key]
        events.append(item)
        del events[:-MAX_EVENTS]
        self.write()

    def refresh_geometry(self) -> bool:
        gdk_window = self.window.get_window()
        if gdk_window is None or not self.window.get_mapped():
            return True
        _, origin_x, origin_y = gdk_window.get_origin()
        geometry = {}
        for name, widget in self.widgets.items():
            allocation = widget.get_allocation()
            geometry[name] = [origin_x + allocation.x, origin_y + allocation.y,
                              allocation.width, allocation.height]
        if geometry != self.state["geometry"] or not self.state["ready"]:
            self.state["geometry"] = geometry
            self.state["ready"] = True
            self.write()
        return True

    def on_click(self, _button, name: str) -> None:
        self.state["clicks"][name] += 1
        self.write()

    def on_key(self, _widget, event) -> bool:
        self.record("keys", Gdk.keyval_name(event.keyval))
        return False

    def on_pointer(self, _widget, event, kind: str) -> bool:
        # An event that a child window passes on arrives again at the toplevel.
        identity = (kind, event.button, event.time)
        if identity != self.last_pointer_event:
            self.last_pointer_event = identity
            self.record("pointer", {"kind": kind, "button": event.button,
                                    "x": round(event.x_root), "y": round(event.y_root)})
        return False

    def on_scroll(self, _widget, event) -> bool:
        direction = event.direction
        if direction == Gdk.ScrollDirection.SMOOTH:
            _, dx, dy = event.get_scroll_deltas()
            name = "down" if dy > 0 else "up" if dy < 0 else "right" if dx > 0 else "left"
        else:
            name = direction.value_nick
        self.record("scrolls", name)
        return False

    def on_entry(self, entry) -> None:
        self.state["entry"] = entry.get_text()
        self.write()

    def on_check(self, check) -> None:
        self.state["check"] = check.get_active()
        self.write()

    def on_combo(self, combo) -> None:
        self.state["combo"] = combo.get_active_text()
        self.write()

    def on_slider(self, slider) -> None:
        self.state["slider"] = slider.get_value()
        self.write()

    def on_active(self, window, _param) -> None:
        self.state["focused"] = window.is_active()
        self.write()


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--title", default="Editor Test")
    parser.add_argument("--state", required=True)
    options = parser.parse_args()
    TestWindow(options.title, options.state)
    Gtk.main()


if __name__ == "__main__":
    main()
