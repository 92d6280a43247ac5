"""Generated blocks of many widgets for the big test windows (--nodes N): a realistic mix
of nested boxes with a heading, a label, an entry, a check box and a button each (every
fifth button disabled), followed by a long list. About half of the N accessible nodes
are in the boxes, half in the list; the exact count depends on how the toolkit exposes
its widgets, so callers count the tree rather than trust N.

Imported by the window programs under the system python3.
"""

import gtk_widgets

# Accessible nodes per box in GTK: outer box, heading, inner box, label, entry, check
# box, button. A GTK list row is a list item holding a label; a Qt list row is one item.
GTK_NODES_PER_GROUP = 7
GTK_NODES_PER_ROW = 2


def group_count(nodes: int) -> int:
    return max(1, nodes // 2 // GTK_NODES_PER_GROUP)


def group_texts(index: int) -> dict:
    return {"heading": f"Section {index}", "label": f"Field {index}", "entry": f"value {index}",
            "check": f"Option {index}", "button": f"Apply {index}", "enabled": index % 5 != 4}


def row_text(index: int) -> str:
    return f"Row {index}"


def gtk_block(Gtk, nodes: int):
    """A scrolled window holding the generated widgets, for GTK 3 or GTK 4."""
    add = gtk_widgets.adder(Gtk)

    content = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=4)
    for index in range(group_count(nodes)):
        texts = group_texts(index)
        group = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=2)
        add(group, Gtk.Label(label=texts["heading"], xalign=0))
        fields = Gtk.Box(spacing=6)
        add(fields, Gtk.Label(label=texts["label"]))
        add(fields, Gtk.Entry(text=texts["entry"]))
        add(fields, Gtk.CheckButton(label=texts["check"], active=index % 2 == 0))
        button = Gtk.Button(label=texts["button"])
        button.set_sensitive(texts["enabled"])
        add(fields, button)
        add(group, fields)
        add(content, group)
    rows = Gtk.ListBox()
    for index in range(max(1, nodes // 2 // GTK_NODES_PER_ROW)):
        add(rows, Gtk.Label(label=row_text(index), xalign=0))
    add(content, rows)
    scrolled = Gtk.ScrolledWindow()
    scrolled.set_vexpand(True)
    if Gtk.get_major_version() == 4:
        scrolled.set_child(content)
    else:
        scrolled.add(content)
    return scrolled


def qt_block(nodes: int):
    """A scroll area holding the generated widgets, for Qt 5."""
    from PyQt5.QtWidgets import (QCheckBox, QHBoxLayout, QLabel, QLineEdit, QListWidget, QPushButton, QScrollArea,
                                 QVBoxLayout, QWidget)

    content = QWidget()
    layout = QVBoxLayout(content)
    for index in range(group_count(nodes)):
        texts = group_texts(index)
        group = QWidget()
        group_layout = QVBoxLayout(group)
        group_layout.addWidget(QLabel(texts["heading"]))
        fields = QWidget()
        fields_layout = QHBoxLayout(fields)
        fields_layout.addWidget(QLabel(texts["label"]))
        fields_layout.addWidget(QLineEdit(texts["entry"]))
        check = QCheckBox(texts["check"])
        check.setChecked(index % 2 == 0)
        fields_layout.addWidget(check)
        button = QPushButton(texts["button"])
        button.setEnabled(texts["enabled"])
        fields_layout.addWidget(button)
        group_layout.addWidget(fields)
        layout.addWidget(group)
    rows = QListWidget()
    rows.addItems([row_text(index) for index in range(max(1, nodes // 2))])
    rows.setFixedHeight(200)
    layout.addWidget(rows)
    scrolled = QScrollArea()
    scrolled.setWidget(content)
    return scrolled
