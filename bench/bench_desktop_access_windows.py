"""Desktop access on Windows.

1. Walking a UI Automation tree of about 5,000 controls into the snapshot lines and the
   ref map, our walker against the same rules written in Python. The controls are plain
   objects with the uiautomation attribute names, so the figures measure the walk itself
   and not a package.
2. Whole snapshots through the test fakes of uiautomation (any machine), with one cache
   request for the window's subtree against a release without cache requests: the calls
   that would cross into the window's process per snapshot, and the time through the fakes
   (where such a call costs next to nothing, unlike on a real desktop).

    PYTHONPATH=build/dev python bench/bench_desktop_access_windows.py
"""

from __future__ import annotations

import asyncio
import ctypes
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
sys.path.insert(0, str(ROOT / "tests" / "desktop_access_windows"))

import windows_fakes  # noqa: E402
from runner import Comparison  # noqa: E402

from nebrix.pc import desktop_access  # noqa: E402
from nebrix.pc.desktop_access import CONTEXT_TYPES, INTERACTIVE_TYPES, DesktopAccess  # noqa: E402


class ValuePattern:
    def __init__(self, value):
        self.Value = value


class Control:
    def __init__(self, type_name, name, auto_id="", value=None, children=()):
        self.ControlTypeName = type_name + "Control"
        self.Name = name
        self.AutomationId = auto_id
        self.IsEnabled = True
        self._value = None if value is None else ValuePattern(value)
        self._children = list(children)

    def GetValuePattern(self):
        return self._value

    def GetChildren(self):
        return self._children


def form(index):
    return Control("Pane", f"Section {index}", children=[
        Control("Text", f"Label {index}"),
        Control("Edit", f"Field {index}", auto_id=f"field{index}", value="x" * 120),
        Control("CheckBox", f"Option {index}"),
        Control("Button", f"Apply {index}", auto_id=f"Apply {index}"),
        Control("Image", "decoration"),
    ])


def python_walk(access, element, lines, depth, max_depth):
    """The walk rules in Python, recursive, as a plain implementation would write them."""
    if depth > max_depth:
        return
    try:
        children = element.GetChildren()
    except Exception:
        return
    for child in children:
        try:
            control_type = (child.ControlTypeName or "").replace("Control", "")
            name = child.Name or ""
            auto_id = child.AutomationId or ""
            enabled = child.IsEnabled
            value = ""
            try:
                pattern = child.GetValuePattern()
                if pattern:
                    value = pattern.Value or ""
            except Exception:
                pass
            indent = "  " * min(depth, 4)
            ltype = control_type.lower()
            if control_type in INTERACTIVE_TYPES and enabled:
                access._ref_counter += 1
                ref = access._ref_counter
                access._ref_map[ref] = {"element": child, "control_type": control_type, "name": name,
                                        "auto_id": auto_id, "value": value, "backend": "uiautomation"}
                line = f"{indent}[{ref}] {ltype}"
                if name:
                    line += f' "{name}"'
                if value and value != name:
                    line += f' value="{value[:100]}"'
                if auto_id and auto_id != name:
                    line += f" (id: {auto_id})"
                lines.append(line)
            elif control_type in CONTEXT_TYPES and name and name.strip():
                shown = name[:200] + "..." if len(name) > 200 else name
                lines.append(f"{indent}{ltype}: {shown}")
            python_walk(access, child, lines, depth + 1, max_depth)
        except Exception:
            pass


def fake_form(index):
    Node = windows_fakes.Node
    return Node("Pane", f"Section {index}", children=[
        Node("Text", f"Label {index}"),
        Node("Edit", f"Field {index}", auto_id=f"field{index}", value="x" * 120),
        Node("CheckBox", f"Option {index}", patterns={"toggle"}, toggle_state=index % 2),
        Node("Button", f"Apply {index}", auto_id=f"Apply {index}", patterns={"invoke"}),
        Node("Image", "decoration"),
    ])


def cache_request_comparison(pages: int) -> None:
    screen = windows_fakes.Screen()
    screen.add_window("Settings", *[windows_fakes.Node("Group", f"Page {page}", children=[
        fake_form(page * 100 + index) for index in range(100)]) for page in range(pages)], foreground=True)
    desktop_access.SYSTEM = "Windows"
    ctypes.windll = windows_fakes.windll(screen)
    sys.modules["pywinauto"] = None
    cached_module = windows_fakes.uiautomation_module(screen)
    plain_module = windows_fakes.uiautomation_module(screen, cache_requests=False)
    access = DesktopAccess()

    def snapshot_with(module, **options):
        def take():
            sys.modules["uiautomation"] = module
            screen.journal.entries.clear()
            return asyncio.run(access.snapshot(**options))
        return take

    controls = pages * 100 * 6 + pages
    for options in ({}, {"states": True}):
        cached, plain = snapshot_with(cached_module, **options), snapshot_with(plain_module, **options)
        counts = []
        for take in (cached, plain):
            screen.remote_calls = 0
            answer = take()
            counts.append(screen.remote_calls)
        assert answer == cached(), "the two walks disagree"
        label = " with states" if options else ""
        print(f"calls into the window's process per snapshot{label}, {controls:,} controls: "
              f"cache request {counts[0]:,}, plain walk {counts[1]:,}")
        with Comparison(f"Windows snapshot through the fakes{label}, {controls:,} controls") as bench:
            bench.compare("snapshot(), uiautomation", cached, plain, rival_name="no cache requests")


def main() -> None:
    window = Control("Window", "Settings", children=[
        Control("Group", f"Page {page}", children=[form(page * 100 + index) for index in range(100)])
        for page in range(10)])
    ours_access, rival_access = DesktopAccess(), DesktopAccess()

    def ours():
        ours_access._ref_map, ours_access._ref_counter = {}, 0
        lines = ["Window: Settings", ""]
        ours_access._walk_element_uiautomation(window, lines, 0, 8)
        return lines

    def rival():
        rival_access._ref_map, rival_access._ref_counter = {}, 0
        lines = ["Window: Settings", ""]
        python_walk(rival_access, window, lines, 0, 8)
        return lines

    assert ours() == rival(), "the two walks disagree"
    with Comparison("Windows UI Automation walk, 6,010 controls") as bench:
        bench.compare("uiautomation walk (lines and refs)", ours, rival, rival_name="python")
    cache_request_comparison(pages=10)


if __name__ == "__main__":
    main()
