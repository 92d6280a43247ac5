"""Desktop access on macOS: a snapshot whose tree script answers 5,000 element lines, ours
against the same rules written in Python. osascript is replaced by a process object that
answers at once, so the figures are the backend's own work: building the scripts, reading
the answers, rendering the text and the ref map.

    PYTHONPATH=build/desktop-313 python bench/bench_desktop_access_macos.py
"""

from __future__ import annotations

import asyncio
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

from runner import Comparison  # noqa: E402

from nebrix.pc import desktop_access  # noqa: E402

HINT = "Use ref numbers to interact: desktop_click_ref(1), desktop_type_ref(2, 'text'), etc."
FRAGMENTS = ("Button", "CheckBox", "ComboBox", "TextField", "Link", "MenuItem", "RadioButton", "Slider", "Tab",
             "PopUp", "TextArea")


def tree_answer(count: int = 5000) -> bytes:
    kinds = [("AXButton", "Save", "", "", "true"), ("AXTextField", "", "Search", "some text in the field", "true"),
             ("AXStaticText", "Status: ready " + "x" * 220, "", "", "true"), ("AXCheckBox", "Enable sync", "", "1",
             "true"), ("AXButton", "Delete", "", "", "false"), ("AXTable", "", "Results", "", "true"),
             ("AXImage", "", "", "", "true"), ("AXPopUpButton", "Größe ändern", "", "Mittel", "true")]
    lines = ["Window: Large Window", ""]
    for index in range(count):
        role, title, description, value, enabled = kinds[index % len(kinds)]
        lines.append("|".join((role, f"{title} {index}".strip() if title else "", description, value, enabled)))
    return ("\n".join(lines) + "\n").encode("utf-8")


class AnsweringProcess:
    returncode = 0

    def __init__(self, stdout: bytes) -> None:
        self.stdout = stdout

    async def communicate(self):
        return self.stdout, b""

    async def wait(self):
        return 0


def answer_at_once(tree: bytes):
    async def create_subprocess_exec(*argv, **kwargs):
        return AnsweringProcess(b"Bench\n" if "frontmost is true" in argv[2] else tree)
    return create_subprocess_exec


def escape(text: str) -> str:
    return (text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n").replace("\r", "\\r")
            .replace("\t", "\\t"))


class PythonSnapshot:
    """The macOS snapshot rules written in Python, as a pure-Python module would have them."""

    def __init__(self) -> None:
        self._ref_map = {}
        self._ref_counter = 0

    async def _run(self, script: str, seconds: float):
        process = await asyncio.create_subprocess_exec("osascript", "-e", script, stdout=asyncio.subprocess.PIPE,
                                                       stderr=asyncio.subprocess.PIPE)
        return await asyncio.wait_for(process.communicate(), seconds)

    async def snapshot(self):
        stdout, _ = await self._run('tell application "System Events" to get name of first process whose '
                                    "frontmost is true", 10)
        app = stdout.decode("utf-8").strip()
        script = f'''tell application "System Events"
tell process "{escape(app)}"
set frontmost to true
delay 0.2
set output to ""
set winName to name of window 1
set output to output & "Window: " & winName & linefeed & linefeed
repeat with elem in (entire contents of window 1)
set output to output & role of elem & "|" & title of elem & linefeed
end repeat
return output
end tell
end tell'''
        stdout, stderr = await self._run(script, 30)
        raw = stdout.decode("utf-8", errors="replace").strip()
        self._ref_map = {}
        self._ref_counter = 0
        lines = []
        interactive_types, context_types = desktop_access.INTERACTIVE_TYPES, desktop_access.CONTEXT_TYPES
        for line in raw.split("\n"):
            line = line.strip()
            if not line:
                continue
            if line.startswith("Window:") or line.startswith("Error"):
                lines.append(line)
                continue
            parts = line.split("|")
            if len(parts) < 5:
                continue
            role, title, desc, value = (part.strip() for part in parts[:4])
            enabled = parts[4].strip().lower() == "true"
            display_name = title or desc
            interactive = role in interactive_types or (role.startswith("AX") and any(f in role for f in FRAGMENTS))
            role_short = role.replace("AX", "").lower()
            if interactive and enabled:
                self._ref_counter += 1
                ref = self._ref_counter
                self._ref_map[ref] = {"role": role, "title": title, "description": desc, "value": value,
                                      "backend": "macos", "app": app}
                text = f"  [{ref}] {role_short}"
                if display_name:
                    text += f' "{display_name}"'
                if value and value != display_name:
                    text += f' value="{value[:100]}"'
                lines.append(text)
            elif role in context_types and display_name:
                shown = display_name[:200] + "..." if len(display_name) > 200 else display_name
                lines.append(f"  {role_short}: {shown}")
        return {"success": True, "window": app, "snapshot": "\n".join(lines or ["(No UI elements found)"]),
                "element_count": self._ref_counter, "platform": "macos", "hint": HINT}


def bench_snapshot() -> None:
    desktop_access.SYSTEM = "Darwin"
    asyncio.create_subprocess_exec = answer_at_once(tree_answer())
    access = desktop_access.DesktopAccess()
    access._initialized = True
    access._macos_available = True
    rival = PythonSnapshot()
    loop = asyncio.new_event_loop()
    try:
        ours_result = loop.run_until_complete(access.snapshot())
        assert ours_result == loop.run_until_complete(rival.snapshot())
        assert access._ref_map == rival._ref_map
        print(f"   {ours_result['element_count']} refs, {len(ours_result['snapshot'])} characters of text")
        with Comparison("desktop_access macOS: snapshot of 5,000 element lines (osascript answering at once)") as bench:
            bench.compare("scripts, answers, text and ref map", lambda: loop.run_until_complete(access.snapshot()),
                          lambda: loop.run_until_complete(rival.snapshot()), rival_name="python")
    finally:
        loop.close()


if __name__ == "__main__":
    bench_snapshot()
