"""A real virtual desktop for tests and the demo: Xvfb, openbox, a D-Bus session with
the AT-SPI2 registry, and a GTK 3 test window that records what reaches it."""

from rig.virtual_desktop import DesktopUnavailable, TestWindow, VirtualDesktop

__all__ = ["DesktopUnavailable", "TestWindow", "VirtualDesktop"]
