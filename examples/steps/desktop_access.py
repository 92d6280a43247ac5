"""Desktop access: a snapshot of the test window with numbered refs, the ref of its text
entry, a key press into that entry and a second snapshot that shows the change."""

TITLE = "Desktop access (accessibility snapshot and keys)"


async def run(demo) -> None:
    from nebrix.pc.desktop_access import DesktopAccess

    access = DesktopAccess()
    first = await access.snapshot("Editor Test")
    demo.show("snapshot", first.get("snapshot", first))
    entry_ref = next((ref for ref, record in access._ref_map.items() if record["role"] == "text"), None)
    demo.show("ref of the text entry", entry_ref)
    demo.show(f"click_ref({entry_ref})", await access.click_ref(entry_ref))
    if demo.test_window is None:
        return
    # Linux refs cannot be clicked, so the pointer puts the caret into the entry.
    x, y = demo.test_window.center_of("entry")
    demo.desktop.xdotool("mousemove", str(x), str(y), "click", "1")
    demo.show("press_key('end')", await access.press_key("end"))
    demo.show("press_key('!')", await access.press_key("!"))
    demo.test_window.wait_for(lambda state: state["entry"] != "hello")
    second = await access.snapshot("Editor Test")
    entry_line = next(line for line in second["snapshot"].split("\n") if line.strip().startswith(f"[{entry_ref}]"))
    demo.show("entry in the second snapshot", entry_line.strip())
