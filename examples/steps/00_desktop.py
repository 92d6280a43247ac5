"""The virtual desktop itself: what the window manager and the test window report."""

TITLE = "Virtual desktop"


async def run(demo) -> None:
    if demo.desktop is None:
        demo.show("display", "the real display")
        return
    demo.show("focused window", demo.desktop.active_window_name())
    demo.show("Save button centre", demo.test_window.center_of("Save"))
