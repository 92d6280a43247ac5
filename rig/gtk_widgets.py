"""The test windows' widgets, built alike for GTK 3 and GTK 4 (the caller passes the Gtk
it has loaded) and wired to the state file."""

from window_state import (COMBO_OPTIONS, LIST_ROWS, MENU_CHECK, MENU_ITEM, MENU_RADIOS, MENU_TITLE, NOTES_TEXT,
                          RADIO_OPTIONS, StateFile)


def adder(Gtk):
    """add(container, widget) for the Gtk given: GTK 4 appends, GTK 3 packs a box's
    children at their natural size."""
    gtk4 = Gtk.get_major_version() == 4

    def add(container, widget) -> None:
        if gtk4:
            container.append(widget)
        elif isinstance(container, Gtk.Box):
            container.pack_start(widget, False, False, 0)
        else:
            container.add(widget)

    return add


def gtk3_menu_bar(Gtk, states: StateFile):
    """The menu bar: "Options" holding a plain item, a check item and two radio items."""
    menu = Gtk.Menu()
    item = Gtk.MenuItem(label=MENU_ITEM)
    item.connect("activate", lambda _item: states.click(MENU_ITEM))
    check = Gtk.CheckMenuItem(label=MENU_CHECK)
    check.connect("toggled", lambda widget: states.set("wrap", widget.get_active()))
    menu.append(item)
    menu.append(check)
    group = None
    for option in MENU_RADIOS:
        radio = Gtk.RadioMenuItem.new_with_label_from_widget(group, option)
        radio.connect("toggled", lambda widget, option=option: widget.get_active() and states.set("theme", option))
        group = group or radio
        menu.append(radio)
    title = Gtk.MenuItem(label=MENU_TITLE)
    title.set_submenu(menu)
    bar = Gtk.MenuBar()
    bar.append(title)
    return bar


def gtk4_menu_bar(Gtk, states: StateFile):
    """The same menu bar from a menu model and the window's actions: a boolean state makes
    the check item, a string state the radio items."""
    from gi.repository import Gio, GLib

    actions = Gio.SimpleActionGroup()
    about = Gio.SimpleAction.new("about", None)
    about.connect("activate", lambda _action, _value: states.click(MENU_ITEM))
    wrap = Gio.SimpleAction.new_stateful("wrap", None, GLib.Variant.new_boolean(False))
    wrap.connect("change-state", lambda action, value: (action.set_state(value),
                                                         states.set("wrap", value.get_boolean())))
    theme = Gio.SimpleAction.new_stateful("theme", GLib.VariantType.new("s"), GLib.Variant.new_string(MENU_RADIOS[0]))
    theme.connect("change-state", lambda action, value: (action.set_state(value),
                                                          states.set("theme", value.get_string())))
    for action in (about, wrap, theme):
        actions.add_action(action)
    menu = Gio.Menu()
    menu.append(MENU_ITEM, "menu.about")
    menu.append(MENU_CHECK, "menu.wrap")
    for option in MENU_RADIOS:
        menu.append(option, f"menu.theme::{option}")
    model = Gio.Menu()
    model.append_submenu(MENU_TITLE, menu)
    bar = Gtk.PopoverMenuBar.new_from_model(model)
    bar.insert_action_group("menu", actions)
    return bar


def build(Gtk, states: StateFile, full: bool, dropdown: bool = False, menu: bool = False):
    """Returns the box holding the widgets, and the widgets by the names the state file's
    geometry uses. `dropdown` (GTK 4) adds a drop-down after them, `menu` a menu bar
    above them."""
    gtk4 = Gtk.get_major_version() == 4
    add = adder(Gtk)

    box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=8)
    for side in ("top", "bottom", "start", "end"):
        getattr(box, f"set_margin_{side}")(16)
    if menu:
        add(box, (gtk4_menu_bar if gtk4 else gtk3_menu_bar)(Gtk, states))
    save = Gtk.Button(label="Save")
    save.connect("clicked", lambda _button: states.click("Save"))
    entry = Gtk.Entry(text="hello")
    entry.connect("changed", lambda widget: states.set("entry", widget.get_text()))
    check = Gtk.CheckButton(label="Enable sync")
    check.connect("toggled", lambda widget: states.set("check", widget.get_active()))
    label = Gtk.Label(label="Ready")
    delete = Gtk.Button(label="Delete")
    delete.set_sensitive(False)
    delete.connect("clicked", lambda _button: states.click("Delete"))
    combo = Gtk.ComboBoxText()
    for option in COMBO_OPTIONS:
        combo.append_text(option)
    combo.connect("changed", lambda widget: states.set("combo", widget.get_active_text()))
    slider = Gtk.Scale.new_with_range(Gtk.Orientation.HORIZONTAL, 0, 100, 1)
    slider.set_value(42)
    slider.connect("value-changed", lambda widget: states.set("slider", widget.get_value()))
    widgets = {"Save": save, "entry": entry, "Enable sync": check, "Ready": label, "Delete": delete, "combo": combo,
               "slider": slider}
    for widget in widgets.values():
        add(box, widget)
    if dropdown:
        # GTK 4's own drop-down: unlike its combo box, it names its options once open.
        choices = Gtk.DropDown.new_from_strings(list(COMBO_OPTIONS))
        choices.set_selected(Gtk.INVALID_LIST_POSITION)
        choices.connect("notify::selected", lambda widget, _param: states.set(
            "dropdown", widget.get_selected_item().get_string() if widget.get_selected_item() else None))
        add(box, choices)
        widgets["dropdown"] = choices
    if not full:
        return box, widgets

    text = Gtk.TextView()
    text.get_buffer().set_text(NOTES_TEXT)
    text.get_buffer().connect("changed", lambda buffer: states.set(
        "text", buffer.get_text(buffer.get_start_iter(), buffer.get_end_iter(), True)))
    radios = Gtk.Box(spacing=8)
    group = None
    for option in RADIO_OPTIONS:
        if gtk4:
            radio = Gtk.CheckButton(label=option, active=group is None)
            radio.set_group(group)
        else:
            radio = Gtk.RadioButton.new_with_label_from_widget(group, option)
        group = group or radio
        radio.connect("toggled", lambda widget, option=option: widget.get_active() and states.set("radio", option))
        add(radios, radio)
        widgets[option] = radio
    toggle = Gtk.ToggleButton(label="Bold")
    toggle.connect("toggled", lambda widget: states.set("toggle", widget.get_active()))
    rows = Gtk.ListBox()
    for row in LIST_ROWS:
        add(rows, Gtk.Label(label=row, xalign=0))
    rows.unselect_all()
    rows.connect("row-selected", lambda _rows, row: states.set(
        "list", row.get_child().get_label() if row is not None else None))
    for widget in (text, radios, toggle, rows):
        add(box, widget)
    widgets.update(text=text, Bold=toggle, list=rows)
    return box, widgets
