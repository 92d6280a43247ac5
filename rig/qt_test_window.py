"""The Qt 5 test window, run by the system python3 with PyQt5:

    python3 qt_test_window.py --title "Editor Test" --state STATE.json [--full] [--accessible-name NAME]
        [--nodes N]

The same widgets and state file as the GTK 3 window (see gtk_test_window and
window_state). Qt joins AT-SPI only with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 (or
QT_ACCESSIBILITY=1) in its environment and the bus address in the root window's
AT_SPI_BUS property: the virtual desktop provides both. Key names are the X key names
(from the native key symbol), pointer buttons the X button numbers.
"""

from PyQt5.QtCore import QEvent, QObject, QPoint, Qt, QTimer
from PyQt5.QtWidgets import (QActionGroup, QApplication, QCheckBox, QComboBox, QHBoxLayout, QLabel, QLineEdit,
                             QListWidget, QMenuBar, QPlainTextEdit, QPushButton, QRadioButton, QSlider, QVBoxLayout,
                             QWidget)

from big_widgets import qt_block
from window_state import (COMBO_OPTIONS, LIST_ROWS, MENU_CHECK, MENU_ITEM, MENU_RADIOS, MENU_TITLE, NOTES_TEXT,
                          RADIO_OPTIONS, StateFile, Xlib, parse_arguments)

X_BUTTONS = {Qt.LeftButton: 1, Qt.MiddleButton: 2, Qt.RightButton: 3}
POINTER_KINDS = {QEvent.MouseButtonPress: "press", QEvent.MouseButtonDblClick: "press",
                 QEvent.MouseButtonRelease: "release"}


class TestWindow(QObject):
    def __init__(self, options) -> None:
        super().__init__()
        if options.helper_first or options.accessible_role:
            raise SystemExit("--helper-first and --accessible-role are GTK 3 window options")
        if options.dropdown:
            raise SystemExit("--dropdown is a GTK 4 window option")
        self.states = StateFile(options, "qt5")
        self.xlib = Xlib()
        self.window = QWidget()
        self.window.setWindowTitle(options.title)
        self.window.resize(640, 420)
        self.window.move(80, 60)
        self.window.installEventFilter(self)
        # Input reaches the top-level QWindow first and is then handed to a widget:
        # watching the QWindow sees each event once.
        QApplication.instance().installEventFilter(self)

        box = QVBoxLayout(self.window)
        box.setContentsMargins(16, 16, 16, 16)
        if options.menu:
            box.setMenuBar(self.menu_bar())
        self.widgets = {}
        save = QPushButton("Save")
        save.clicked.connect(lambda: self.states.click("Save"))
        entry = QLineEdit("hello")
        entry.textChanged.connect(lambda text: self.states.set("entry", text))
        check = QCheckBox("Enable sync")
        check.toggled.connect(lambda checked: self.states.set("check", checked))
        label = QLabel("Ready")
        delete = QPushButton("Delete")
        delete.setEnabled(False)
        delete.clicked.connect(lambda: self.states.click("Delete"))
        combo = QComboBox()
        combo.addItems(COMBO_OPTIONS)
        combo.setCurrentIndex(-1)
        combo.currentIndexChanged.connect(
            lambda index: self.states.set("combo", combo.itemText(index) if index >= 0 else None))
        slider = QSlider(Qt.Horizontal)
        slider.setRange(0, 100)
        slider.setValue(42)
        slider.valueChanged.connect(lambda value: self.states.set("slider", float(value)))
        for name, widget in (("Save", save), ("entry", entry), ("Enable sync", check),
                             ("Ready", label), ("Delete", delete), ("combo", combo), ("slider", slider)):
            # A Qt check box reacts only on its box and text: keep it that size.
            box.addWidget(widget, alignment=Qt.AlignLeft if widget is check else Qt.Alignment())
            self.widgets[name] = widget
        if options.full:
            self.add_full_widgets(box)
        if options.nodes:
            box.addWidget(qt_block(options.nodes), stretch=1)
        else:
            box.addStretch()
        if options.accessible_name is not None:
            self.window.setAccessibleName(options.accessible_name)
        self.window.show()
        self.timer = QTimer()
        self.timer.timeout.connect(self.refresh_geometry)
        self.timer.start(100)

    def menu_bar(self) -> QMenuBar:
        """"Options" holding a plain item, a check item and two exclusive check items."""
        bar = QMenuBar(self.window)
        menu = bar.addMenu(MENU_TITLE)
        menu.addAction(MENU_ITEM).triggered.connect(lambda: self.states.click(MENU_ITEM))
        check = menu.addAction(MENU_CHECK)
        check.setCheckable(True)
        check.toggled.connect(lambda checked: self.states.set("wrap", checked))
        self.themes = QActionGroup(self.window)
        for option in MENU_RADIOS:
            radio = menu.addAction(option)
            radio.setCheckable(True)
            radio.setChecked(option == MENU_RADIOS[0])
            radio.toggled.connect(lambda checked, option=option: checked and self.states.set("theme", option))
            self.themes.addAction(radio)
        return bar

    def add_full_widgets(self, box: QVBoxLayout) -> None:
        text = QPlainTextEdit(NOTES_TEXT)
        text.setFixedHeight(60)
        text.textChanged.connect(lambda: self.states.set("text", text.toPlainText()))
        radios = QHBoxLayout()
        for option in RADIO_OPTIONS:
            radio = QRadioButton(option)
            radio.setChecked(option == RADIO_OPTIONS[0])
            radio.toggled.connect(lambda checked, option=option: checked and self.states.set("radio", option))
            radios.addWidget(radio)
            self.widgets[option] = radio
        radios.addStretch()
        toggle = QPushButton("Bold")
        toggle.setCheckable(True)
        toggle.toggled.connect(lambda checked: self.states.set("toggle", checked))
        rows = QListWidget()
        rows.addItems(LIST_ROWS)
        rows.setFixedHeight(70)
        rows.itemSelectionChanged.connect(lambda: self.states.set(
            "list", rows.selectedItems()[0].text() if rows.selectedItems() else None))
        box.addWidget(text)
        self.widgets["text"] = text
        box.addLayout(radios)
        for name, widget in (("Bold", toggle), ("list", rows)):
            box.addWidget(widget)
            self.widgets[name] = widget

    def refresh_geometry(self) -> None:
        handle = self.window.windowHandle()
        if handle is None or not handle.isExposed():
            return
        geometry = {}
        for name, widget in self.widgets.items():
            origin = widget.mapToGlobal(QPoint(0, 0))
            geometry[name] = [origin.x(), origin.y(), widget.width(), widget.height()]
        self.states.show(int(self.window.winId()), geometry)

    def eventFilter(self, watched, event) -> bool:
        kind = event.type()
        if watched is self.window and kind == QEvent.ActivationChange:
            self.states.set("focused", self.window.isActiveWindow())
        elif not watched.isWindowType():
            pass
        elif kind == QEvent.KeyPress:
            self.states.record("keys", self.xlib.key_name(event.nativeVirtualKey()))
        elif kind in POINTER_KINDS and event.button() in X_BUTTONS:
            point = event.globalPos()
            self.states.pointer(POINTER_KINDS[kind], X_BUTTONS[event.button()], point.x(), point.y())
        elif kind == QEvent.Wheel:
            # Qt's angles grow upwards and to the left.
            self.states.scroll(-event.angleDelta().x(), -event.angleDelta().y())
        return False


def main() -> None:
    options = parse_arguments()
    application = QApplication([])
    window = TestWindow(options)
    application.exec_()
    del window


if __name__ == "__main__":
    main()
