"""A real virtual desktop for tests and the demo: Xvfb, openbox, a D-Bus session with
the AT-SPI2 registry, and GTK 3, GTK 4 and Qt 5 test windows that record what reaches
them, beside a plain X window without accessibility."""

from rig.virtual_desktop import DesktopUnavailable, DesktopWindow, PlainWindow, TestWindow, VirtualDesktop, WindowRequest

__all__ = ["DesktopUnavailable", "DesktopWindow", "PlainWindow", "TestWindow", "VirtualDesktop", "WindowRequest"]
