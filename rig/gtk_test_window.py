"""The GTK 3 test window, run by a python3 that has Debian's GObject bindings:

    python3 gtk_test_window.py --title "Editor Test" --state STATE.json [--full] [--helper-first]
        [--accessible-name NAME] [--accessible-role ROLE] [--nodes N]

It shows a "Save" button, a text entry holding "hello", a check box "Enable sync", a
label "Ready", a disabled "Delete" button, a combo box and a slider; --full adds a
multi-line text, radio buttons "Left" "Center" "Right", a toggle button "Bold" and a
list, --nodes N a generated block of about N accessible nodes (see big_widgets). What
reaches it goes to STATE.json (see window_state). With --helper-first a hidden 10x10 X
window with the same title is created before the real one, so a search by title lists
the helper first. The frame's accessible name and role (an AT-SPI role
name such as "alert") can differ from the title and "frame".
"""

import gi

gi.require_version("Atk", "1.0")
gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
gi.require_version("GdkX11", "3.0")
from gi.repository import Atk, Gdk, GdkX11, GLib, Gtk  # noqa: E402

import big_widgets  # noqa: E402
import gtk_widgets  # noqa: E402
from window_state import StateFile, parse_arguments  # noqa: E402


class TestWindow:
    def __init__(self, options) -> None:
        if options.dropdown:
            raise SystemExit("--dropdown is a GTK 4 window option")
        self.states = StateFile(options, "gtk3")
        self.last_pointer_event = None
        if options.helper_first:
            self.helper = self.create_helper(options.title)
        self.window = Gtk.Window(title=options.title)
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

        box, self.widgets = gtk_widgets.build(Gtk, self.states, options.full, menu=options.menu)
        if options.nodes:
            box.pack_start(big_widgets.gtk_block(Gtk, options.nodes), True, True, 0)
        self.window.add(box)
        if options.accessible_name is not None:
            self.window.get_accessible().set_name(options.accessible_name)
        if options.accessible_role is not None:
            self.window.get_accessible().set_role(Atk.role_for_name(options.accessible_role))
        self.window.show_all()
        GLib.timeout_add(100, self.refresh_geometry)

    @staticmethod
    def create_helper(title: str) -> Gdk.Window:
        attributes = Gdk.WindowAttr()
        attributes.window_type = Gdk.WindowType.TOPLEVEL
        attributes.wclass = Gdk.WindowWindowClass.INPUT_OUTPUT
        attributes.width = attributes.height = 10
        helper = Gdk.Window.new(None, attributes, 0)
        helper.set_title(title)
        return helper

    def refresh_geometry(self) -> bool:
        gdk_window = self.window.get_window()
        if gdk_window is None or not self.window.get_mapped():
            return True
        _, origin_x, origin_y = gdk_window.get_origin()
        geometry = {}
        for name, widget in self.widgets.items():
            allocation = widget.get_allocation()
            x, y = widget.translate_coordinates(self.window, 0, 0)
            geometry[name] = [origin_x + x, origin_y + y, allocation.width, allocation.height]
        self.states.show(GdkX11.X11Window.get_xid(gdk_window), geometry)
        return True

    def on_key(self, _widget, event) -> bool:
        self.states.record("keys", Gdk.keyval_name(event.keyval))
        return False

    def on_pointer(self, _widget, event, kind: str) -> bool:
        # An event that a child window passes on arrives again at the toplevel.
        identity = (kind, event.button, event.time)
        if identity != self.last_pointer_event:
            self.last_pointer_event = identity
            self.states.pointer(kind, event.button, event.x_root, event.y_root)
        return False

    def on_scroll(self, _widget, event) -> bool:
        if event.direction == Gdk.ScrollDirection.SMOOTH:
            _, dx, dy = event.get_scroll_deltas()
            self.states.scroll(dx, dy)
        else:
            self.states.record("scrolls", event.direction.value_nick)
        return False

    def on_active(self, window, _param) -> None:
        self.states.set("focused", window.is_active())


def main() -> None:
    TestWindow(parse_arguments())
    Gtk.main()


if __name__ == "__main__":
    main()
