"""The GTK 4 test window, run by the system python3:

    python3 gtk4_test_window.py --title "Editor Test" --state STATE.json [--full] [--accessible-name NAME]
        [--nodes N]

The same widgets and state file as the GTK 3 window (see gtk_test_window and
window_state). GTK 4 cannot place its window nor tell its screen position, so the
window is moved through Xlib once mapped and reports itself ready once it is there; the
screen rectangles come from the X window's origin (read through Xlib) plus each widget's
bounds inside the surface.
"""

import ctypes

import gi

gi.require_version("Gtk", "4.0")
gi.require_version("Gdk", "4.0")
gi.require_version("GdkX11", "4.0")
from gi.repository import Gdk, GdkX11, GLib, Gtk  # noqa: E402

import big_widgets  # noqa: E402
import gtk_widgets  # noqa: E402
from window_state import StateFile, Xlib, parse_arguments  # noqa: E402

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


WINDOW_POSITION = (80, 60)
SCROLL_NAMES = {Gdk.ScrollDirection.UP: "up", Gdk.ScrollDirection.DOWN: "down",
                Gdk.ScrollDirection.LEFT: "left", Gdk.ScrollDirection.RIGHT: "right"}


class TestWindow:
    def __init__(self, options, loop: GLib.MainLoop) -> None:
        if options.helper_first or options.accessible_role:
            raise SystemExit("--helper-first and --accessible-role are GTK 3 window options")
        self.states = StateFile(options, "gtk4")
        self.xlib = Xlib()
        self.events = Events()
        self.placement_attempts = 0
        self.is_placed = False
        self.window = Gtk.Window(title=options.title)
        self.window.set_default_size(640, 420)
        self.window.connect("close-request", lambda _window: loop.quit() or False)
        self.window.connect("notify::is-active", lambda window, _param: self.states.set("focused", window.is_active()))
        # Sees every event before the widgets do, and passes it on.
        events = Gtk.EventControllerLegacy()
        events.set_propagation_phase(Gtk.PropagationPhase.CAPTURE)
        events.connect("event", self.on_event)
        self.window.add_controller(events)

        box, self.widgets = gtk_widgets.build(Gtk, self.states, options.full, options.dropdown, options.menu)
        if options.nodes:
            box.append(big_widgets.gtk_block(Gtk, options.nodes))
        self.window.set_child(box)
        if options.accessible_name is not None:
            self.window.update_property([Gtk.AccessibleProperty.LABEL], [options.accessible_name])
        self.window.present()
        GLib.timeout_add(100, self.refresh_geometry)

    def placed(self) -> bool:
        """Moves the mapped window where the GTK 3 and Qt windows go (GTK 4 has no way to
        place a window) and tells whether it is there, or has been asked often enough."""
        if self.is_placed:
            return True
        xid = GdkX11.X11Surface.get_xid(self.window.get_surface())
        if self.xlib.frame_origin(xid) == WINDOW_POSITION or self.placement_attempts >= 20:
            self.is_placed = True
            return True
        if self.placement_attempts % 5 == 0:
            self.xlib.move(xid, *WINDOW_POSITION)
        self.placement_attempts += 1
        return False

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
        if origin is None or not self.placed():
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
                self.states.scroll(*self.events.pair(self.events.library.gdk_scroll_event_get_deltas, event))
            else:
                self.states.record("scrolls", SCROLL_NAMES[Gdk.ScrollDirection(direction)])
        return False


def main() -> None:
    options = parse_arguments()
    Gtk.init()
    loop = GLib.MainLoop()
    TestWindow(options, loop)
    loop.run()


if __name__ == "__main__":
    main()
