"""The GTK 4 test window, run by the system python3:

    python3 gtk4_test_window.py --title "Editor Test" --state STATE.json [--full]

The same widgets and state file as the GTK 3 window (see gtk_test_window and
window_state). GTK 4 cannot place its window nor tell its screen position, so the
window goes where the window manager puts it, and the screen rectangles come from the
X window's origin (read through Xlib) plus each widget's bounds inside the surface.
"""

import ctypes

import gi

gi.require_version("Gtk", "4.0")
gi.require_version("Gdk", "4.0")
gi.require_version("GdkX11", "4.0")
from gi.repository import Gdk, GdkX11, GLib, Gtk  # noqa: E402

from window_state import (COMBO_OPTIONS, LIST_ROWS, NOTES_TEXT, RADIO_OPTIONS, StateFile, Xlib,  # noqa: E402
                          parse_arguments)

class Events:
    """GdkEvent through the C library: this PyGObject hands a signal's event over as None
    and cannot convert GdkEvent subtypes, so the legacy controller's event is read here."""

    def __init__(self) -> None:
        self.library = ctypes.CDLL("libgtk-4.so.1")
        pointer = ctypes.c_void_p
        double_pointer = ctypes.POINTER(ctypes.c_double)
        for name, result, arguments in (
                ("gtk_event_controller_get_current_event", pointer, [pointer]),
                ("gdk_event_get_event_type", ctypes.c_int, [pointer]),
                ("gdk_event_get_position", ctypes.c_int, [pointer, double_pointer, double_pointer]),
                ("gdk_key_event_get_keyval", ctypes.c_uint, [pointer]),
                ("gdk_button_event_get_button", ctypes.c_uint, [pointer]),
                ("gdk_scroll_event_get_direction", ctypes.c_int, [pointer]),
                ("gdk_scroll_event_get_deltas", None, [pointer, double_pointer, double_pointer])):
            function = getattr(self.library, name)
            function.restype, function.argtypes = result, arguments
        ctypes.pythonapi.PyCapsule_GetPointer.restype = pointer
        ctypes.pythonapi.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]

    def current(self, controller) -> int:
        address = ctypes.pythonapi.PyCapsule_GetPointer(controller.__gpointer__, None)
        return self.library.gtk_event_controller_get_current_event(address)

    @staticmethod
    def pair(function, event) -> tuple[float, float] | None:
        """Calls a getter that fills two doubles; None when it reports failure."""
        first, second = ctypes.c_double(), ctypes.c_double()
        found = function(event, ctypes.byref(first), ctypes.byref(second))
        return (first.value, second.value) if found is None or found else None


SCROLL_NAMES = {Gdk.ScrollDirection.UP: "up", Gdk.ScrollDirection.DOWN: "down",
                Gdk.ScrollDirection.LEFT: "left", Gdk.ScrollDirection.RIGHT: "right"}


class TestWindow:
    def __init__(self, options, loop: GLib.MainLoop) -> None:
        if options.helper_first:
            raise SystemExit("--helper-first is a GTK 3 window option")
        self.states = StateFile(options, "gtk4")
        self.xlib = Xlib()
        self.events = Events()
        self.window = Gtk.Window(title=options.title)
        self.window.set_default_size(640, 420)
        self.window.connect("close-request", lambda _window: loop.quit() or False)
        self.window.connect("notify::is-active", lambda window, _param: self.states.set("focused", window.is_active()))
        # Sees every event before the widgets do, and passes it on.
        events = Gtk.EventControllerLegacy()
        events.set_propagation_phase(Gtk.PropagationPhase.CAPTURE)
        events.connect("event", self.on_event)
        self.window.add_controller(events)

        box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=8)
        for side in ("top", "bottom", "start", "end"):
            getattr(box, f"set_margin_{side}")(16)
        self.widgets = {}
        save = Gtk.Button(label="Save")
        save.connect("clicked", lambda _button: self.states.click("Save"))
        entry = Gtk.Entry(text="hello")
        entry.connect("changed", lambda widget: self.states.set("entry", widget.get_text()))
        check = Gtk.CheckButton(label="Enable sync")
        check.connect("toggled", lambda widget: self.states.set("check", widget.get_active()))
        label = Gtk.Label(label="Ready")
        delete = Gtk.Button(label="Delete")
        delete.set_sensitive(False)
        delete.connect("clicked", lambda _button: self.states.click("Delete"))
        combo = Gtk.ComboBoxText()
        for option in COMBO_OPTIONS:
            combo.append_text(option)
        combo.connect("changed", lambda widget: self.states.set("combo", widget.get_active_text()))
        slider = Gtk.Scale.new_with_range(Gtk.Orientation.HORIZONTAL, 0, 100, 1)
        slider.set_value(42)
        slider.connect("value-changed", lambda widget: self.states.set("slider", widget.get_value()))
        for name, widget in (("Save", save), ("entry", entry), ("Enable sync", check),
                             ("Ready", label), ("Delete", delete), ("combo", combo), ("slider", slider)):
            box.append(widget)
            self.widgets[name] = widget
        if options.full:
            self.add_full_widgets(box)
        self.window.set_child(box)
        self.window.present()
        GLib.timeout_add(100, self.refresh_geometry)

    def add_full_widgets(self, box: Gtk.Box) -> None:
        text = Gtk.TextView()
        text.get_buffer().set_text(NOTES_TEXT)
        text.get_buffer().connect("changed", lambda buffer: self.states.set(
            "text", buffer.get_text(buffer.get_start_iter(), buffer.get_end_iter(), True)))
        radios = Gtk.Box(spacing=8)
        group = None
        for option in RADIO_OPTIONS:
            radio = Gtk.CheckButton(label=option, active=group is None)
            radio.set_group(group)
            group = group or radio
            radio.connect("toggled", self.on_radio, option)
            radios.append(radio)
            self.widgets[option] = radio
        toggle = Gtk.ToggleButton(label="Bold")
        toggle.connect("toggled", lambda widget: self.states.set("toggle", widget.get_active()))
        rows = Gtk.ListBox()
        for row in LIST_ROWS:
            rows.append(Gtk.Label(label=row, xalign=0))
        rows.unselect_all()
        rows.connect("row-selected", self.on_row)
        for name, widget in (("text", text), ("radios", radios), ("Bold", toggle), ("list", rows)):
            box.append(widget)
            if name != "radios":
                self.widgets[name] = widget

    def surface_origin(self) -> tuple[float, float] | None:
        """The screen point of the window's (0, 0), or None while it is not mapped."""
        surface = self.window.get_surface()
        if surface is None or not self.window.get_mapped():
            return None
        x, y = self.xlib.origin(GdkX11.X11Surface.get_xid(surface))
        # Client-side decorations put the window's own (0, 0) inside the surface.
        offset_x, offset_y = self.window.get_surface_transform()
        return x + offset_x, y + offset_y

    def refresh_geometry(self) -> bool:
        origin = self.surface_origin()
        if origin is None:
            return True
        geometry = {}
        for name, widget in self.widgets.items():
            found, bounds = widget.compute_bounds(self.window)
            if found:
                geometry[name] = [round(origin[0] + bounds.get_x()), round(origin[1] + bounds.get_y()),
                                  round(bounds.get_width()), round(bounds.get_height())]
        self.states.show(GdkX11.X11Surface.get_xid(self.window.get_surface()), geometry)
        return True

    def on_event(self, controller, _event) -> bool:
        event = self.events.current(controller)
        kind = self.events.library.gdk_event_get_event_type(event)
        if kind == Gdk.EventType.KEY_PRESS:
            self.states.record("keys", Gdk.keyval_name(self.events.library.gdk_key_event_get_keyval(event)))
        elif kind in (Gdk.EventType.BUTTON_PRESS, Gdk.EventType.BUTTON_RELEASE):
            origin = self.surface_origin()
            position = self.events.pair(self.events.library.gdk_event_get_position, event)
            if origin is not None and position is not None:
                # Event positions are relative to the surface, not to the window's (0, 0).
                offset_x, offset_y = self.window.get_surface_transform()
                self.states.pointer("press" if kind == Gdk.EventType.BUTTON_PRESS else "release",
                                    self.events.library.gdk_button_event_get_button(event),
                                    origin[0] - offset_x + position[0], origin[1] - offset_y + position[1])
        elif kind == Gdk.EventType.SCROLL:
            direction = self.events.library.gdk_scroll_event_get_direction(event)
            if direction == Gdk.ScrollDirection.SMOOTH:
                dx, dy = self.events.pair(self.events.library.gdk_scroll_event_get_deltas, event)
                if dx or dy:
                    self.states.record("scrolls", "down" if dy > 0 else "up" if dy < 0 else
                                       "right" if dx > 0 else "left")
            else:
                self.states.record("scrolls", SCROLL_NAMES[Gdk.ScrollDirection(direction)])
        return False

    def on_radio(self, radio, option: str) -> None:
        if radio.get_active():
            self.states.set("radio", option)

    def on_row(self, _rows, row) -> None:
        self.states.set("list", row.get_child().get_label() if row is not None else None)


def main() -> None:
    options = parse_arguments()
    Gtk.init()
    loop = GLib.MainLoop()
    TestWindow(options, loop)
    loop.run()


if __name__ == "__main__":
    main()
