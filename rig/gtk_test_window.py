"""The GTK 3 test window, run by a python3 that has Debian's GObject bindings:

    python3 gtk_test_window.py --title "Editor Test" --state STATE.json [--full] [--helper-first]

It shows a "Save" button, a text entry holding "hello", a check box "Enable sync", a
label "Ready", a disabled "Delete" button, a combo box and a slider; --full adds a
multi-line text, radio buttons "Left" "Center" "Right", a toggle button "Bold" and a
list. What reaches it goes to STATE.json (see window_state). With --helper-first a
hidden 10x10 X window with the same title is created before the real one, so a search
by title lists the helper first.
"""

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
gi.require_version("GdkX11", "3.0")
from gi.repository import Gdk, GdkX11, GLib, Gtk  # noqa: E402

from window_state import COMBO_OPTIONS, LIST_ROWS, NOTES_TEXT, RADIO_OPTIONS, StateFile, parse_arguments  # noqa: E402


class TestWindow:
    def __init__(self, options) -> None:
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

        box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=8, margin=16)
        self.widgets = {}
        save = Gtk.Button(label="Save")
        save.connect("clicked", self.on_click, "Save")
        entry = Gtk.Entry(text="hello")
        entry.connect("changed", lambda widget: self.states.set("entry", widget.get_text()))
        check = Gtk.CheckButton(label="Enable sync")
        check.connect("toggled", lambda widget: self.states.set("check", widget.get_active()))
        label = Gtk.Label(label="Ready")
        delete = Gtk.Button(label="Delete")
        delete.set_sensitive(False)
        delete.connect("clicked", self.on_click, "Delete")
        combo = Gtk.ComboBoxText()
        for option in COMBO_OPTIONS:
            combo.append_text(option)
        combo.connect("changed", lambda widget: self.states.set("combo", widget.get_active_text()))
        slider = Gtk.Scale.new_with_range(Gtk.Orientation.HORIZONTAL, 0, 100, 1)
        slider.set_value(42)
        slider.connect("value-changed", lambda widget: self.states.set("slider", widget.get_value()))
        for name, widget in (("Save", save), ("entry", entry), ("Enable sync", check),
                             ("Ready", label), ("Delete", delete), ("combo", combo), ("slider", slider)):
            box.pack_start(widget, False, False, 0)
            self.widgets[name] = widget
        if options.full:
            self.add_full_widgets(box)
        self.window.add(box)
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

    def add_full_widgets(self, box: Gtk.Box) -> None:
        text = Gtk.TextView()
        text.get_buffer().set_text(NOTES_TEXT)
        text.get_buffer().connect("changed", lambda buffer: self.states.set(
            "text", buffer.get_text(buffer.get_start_iter(), buffer.get_end_iter(), True)))
        radios = Gtk.Box(spacing=8)
        group = None
        for option in RADIO_OPTIONS:
            radio = Gtk.RadioButton.new_with_label_from_widget(group, option)
            group = group or radio
            radio.connect("toggled", self.on_radio, option)
            radios.pack_start(radio, False, False, 0)
            self.widgets[option] = radio
        toggle = Gtk.ToggleButton(label="Bold")
        toggle.connect("toggled", lambda widget: self.states.set("toggle", widget.get_active()))
        rows = Gtk.ListBox()
        for row in LIST_ROWS:
            rows.add(Gtk.Label(label=row, xalign=0))
        rows.unselect_all()
        rows.connect("row-selected", self.on_row)
        for name, widget in (("text", text), ("radios", radios), ("Bold", toggle), ("list", rows)):
            box.pack_start(widget, False, False, 0)
            if name != "radios":
                self.widgets[name] = widget

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

    def on_click(self, _button, name: str) -> None:
        self.states.click(name)

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
        direction = event.direction
        if direction == Gdk.ScrollDirection.SMOOTH:
            _, dx, dy = event.get_scroll_deltas()
            name = "down" if dy > 0 else "up" if dy < 0 else "right" if dx > 0 else "left"
        else:
            name = direction.value_nick
        self.states.record("scrolls", name)
        return False

    def on_radio(self, radio, option: str) -> None:
        if radio.get_active():
            self.states.set("radio", option)

    def on_row(self, _rows, row) -> None:
        self.states.set("list", row.get_child().get_label() if row is not None else None)

    def on_active(self, window, _param) -> None:
        self.states.set("focused", window.is_active())


def main() -> None:
    TestWindow(parse_arguments())
    Gtk.main()


if __name__ == "__main__":
    main()
