"""The screen operator: the tool definition the model gets, a screenshot scaled to the
API size, and a click on the test window's "Save" button in the model's coordinates."""

import base64
import os

TITLE = "Screen operator (computer tool)"


async def run(demo) -> None:
    from nebrix.pc.screen_operator import ScreenOperatorExecutor

    saved_home = os.environ.get("HOME")
    os.environ["HOME"] = str(demo.workdir)  # latest.png goes under ~/.nebrix/screenshots
    try:
        executor = ScreenOperatorExecutor()
        demo.show("tool definition", executor.get_tool_definition())
        shot = executor.execute_action(action="screenshot")
        if shot["type"] == "image":
            png = base64.b64decode(shot["base64"])
            width, height = int.from_bytes(png[16:20], "big"), int.from_bytes(png[20:24], "big")
            demo.show("screenshot", f"{width}x{height} PNG, {len(shot['base64'])} base64 characters")
        else:
            demo.show("screenshot", shot)
        demo.show("display info", executor.get_display_info())
        if demo.test_window is None:
            return
        # The model sees the scaled screen, so it names the button in API pixels.
        x, y = demo.test_window.center_of("Save")
        factor = executor.get_display_info()["api_width"] / executor.get_display_info()["screen_width"]
        api_point = [int(x * factor), int(y * factor)]
        demo.show(f"left_click at API {api_point}", executor.execute_action(action="left_click", coordinate=api_point))
        clicks = demo.test_window.wait_for(lambda state: state["clicks"]["Save"] >= 1)["clicks"]["Save"]
        demo.show("Save clicks seen by the window", clicks)
    finally:
        if saved_home is None:
            os.environ.pop("HOME", None)
        else:
            os.environ["HOME"] = saved_home
