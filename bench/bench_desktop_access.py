"""Desktop access: rendering a walker answer of 5,000 elements into the snapshot text and
the ref map, ours against the same rules written in Python; and a real snapshot of the
GTK test window, split into child start, walk and rendering, with our walker against one
that reads every property of every node.

    PYTHONPATH=build/desktop-313 python bench/bench_desktop_access.py   (brings up its own virtual desktop)
"""

from __future__ import annotations

import asyncio
import json
import statistics
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent))

from rig import DesktopUnavailable, VirtualDesktop  # noqa: E402
from runner import Comparison, format_seconds  # noqa: E402

from nebrix.pc.desktop_access import DesktopAccess  # noqa: E402

HINT = "Use ref numbers to interact: desktop_click_ref(1), desktop_type_ref(2, 'text'), etc."
# The walker program's body, as the build embeds it: the tree reader, then the walker.
WALKER_BODY = "\n".join((HERE.parent / "src" / "desktop_access" / name).read_text()
                         for name in ("atspi_tree.py", "atspi_walker.py"))
HEADER = ('\nimport json, sys\nimport gi\ngi.require_version("Atspi", "2.0")\nfrom gi.repository import Atspi\n\n'
          "max_depth = {depth}\ntarget_title = {title}\ntarget_pid = None")

# A walker that reads name, description, state set and value of every node it visits.
EAGER_WALKER_BODY = '''

interactive_roles = {"push button", "check box", "combo box", "text", "link", "menu item", "menu bar",
    "radio button", "slider", "page tab", "tree item", "list item", "toggle button", "spin button", "entry",
    "password text"}
context_roles = {"label", "status bar", "panel", "frame", "filler", "heading", "section", "paragraph"}
desktop = Atspi.get_desktop(0)
target = None
for i in range(desktop.get_child_count()):
    app = desktop.get_child_at_index(i)
    for j in range(app.get_child_count() if app else 0):
        window = app.get_child_at_index(j)
        if window and window.get_role_name() in ("frame", "window", "dialog"):
            if window.get_state_set().contains(Atspi.StateType.ACTIVE):
                target = (app, window)
                break
    if target:
        break
elements = []
ref = 0
def walk(node, depth):
    global ref
    if depth > max_depth or node is None:
        return
    try:
        role = node.get_role_name() or ""
        name = node.get_name() or ""
        description = node.get_description() or ""
        display_name = name or description
        try:
            states = node.get_state_set()
            enabled = states.contains(Atspi.StateType.SENSITIVE) or states.contains(Atspi.StateType.ENABLED)
        except Exception:
            enabled = True
        value = ""
        try:
            iface = node.get_value_iface()
            if iface is not None:
                value = str(iface.get_current_value())
        except Exception:
            pass
        if role in interactive_roles and enabled:
            ref += 1
            elements.append({"ref": ref, "role": role, "name": display_name, "value": value, "depth": depth})
        elif role in context_roles and display_name:
            elements.append({"ref": 0, "role": role, "name": display_name, "value": "", "depth": depth})
        for k in range(node.get_child_count()):
            walk(node.get_child_at_index(k), depth + 1)
    except Exception:
        pass
walk(target[1], 0)
print(json.dumps({"success": True, "window": target[1].get_name() or "Unknown", "app": target[0].get_name(),
                  "elements": elements, "element_count": ref}))
'''


class PythonRendering:
    """The rendering rules written in Python, as a pure-Python module would have them."""

    def __init__(self) -> None:
        self._ref_map = {}
        self._ref_counter = 0

    def render(self, data):
        self._ref_map = {}
        self._ref_counter = 0
        lines = [f"Window: {data['window']}", ""]
        for elem in data.get("elements", []):
            indent = "  " * min(elem.get("depth", 0), 4)
            name = elem.get("name", "")
            if elem.get("ref", 0) > 0:
                self._ref_counter += 1
                ref = self._ref_counter
                value = elem.get("value", "")
                self._ref_map[ref] = {"role": elem.get("role", ""), "name": name, "value": value,
                                      "backend": "linux_atspi"}
                line = f"{indent}[{ref}] {elem.get('role', '')}"
                if name:
                    line += f' "{name}"'
                if value and value != name:
                    line += f' value="{value[:100]}"'
                lines.append(line)
            elif name:
                lines.append(f"{indent}{elem.get('role', '')}: {name[:200]}")
        return {"success": True, "window": data["window"], "snapshot": "\n".join(lines),
                "element_count": self._ref_counter, "platform": "linux_atspi", "hint": HINT}


def large_answer(count: int = 5000) -> dict:
    roles = [("push button", "Save", ""), ("text", "", "some text in the field"), ("label", "Status: ready", ""),
             ("check box", "Enable sync", ""), ("slider", "Volume", "42.0"), ("menu item", "Größe ändern", "")]
    elements = []
    for index in range(count):
        role, name, value = roles[index % len(roles)]
        interactive = role != "label"
        elements.append({"ref": index + 1 if interactive else 0, "role": role, "name": f"{name} {index}".strip(),
                         "value": value, "depth": index % 7})
    return {"success": True, "window": "Large Window", "app": "bench", "elements": elements,
            "element_count": sum(1 for e in elements if e["ref"])}


def bench_rendering() -> None:
    answer = large_answer()
    access = DesktopAccess()
    rival = PythonRendering()
    assert access._render_atspi_answer(answer) == rival.render(answer)
    assert access._ref_map == rival._ref_map
    with Comparison("desktop_access: render a walker answer of 5,000 elements (target <= 2 ms)") as bench:
        bench.compare("5,000 elements into text and ref map", lambda: access._render_atspi_answer(answer),
                      lambda: rival.render(answer), rival_name="python")


def median_time(function, runs: int) -> float:
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def bench_real_snapshot(runs: int = 9) -> None:
    try:
        desktop = VirtualDesktop().start()
    except DesktopUnavailable as error:
        print(f"== desktop_access: real snapshot skipped ({error})")
        return
    try:
        desktop.apply_to_process()
        window = desktop.open_test_window()
        header = HEADER.format(depth=8, title="None")
        environment = desktop.env

        def run_program(body: str) -> str:
            return subprocess.run(["python3", "-c", header + body], env=environment, capture_output=True,
                                  text=True, check=True, timeout=30).stdout

        answer = json.loads(run_program("\n\n" + WALKER_BODY))
        eager = json.loads(run_program(EAGER_WALKER_BODY))
        # Ours also reports the text of entries (the eager one gives only Value interfaces).
        def shape(elements):
            return [(e["ref"], e["role"], e["name"], e["depth"]) for e in elements]

        assert shape(answer["elements"]) == shape(eager["elements"]), "the two walkers disagree"
        access = DesktopAccess()

        child_start = median_time(lambda: run_program("\n"), runs)
        ours = median_time(lambda: run_program("\n\n" + WALKER_BODY), runs)
        rival = median_time(lambda: run_program(EAGER_WALKER_BODY), runs)
        rendering = median_time(lambda: access._render_atspi_answer(answer), 200)
        whole = median_time(lambda: asyncio.run(access.snapshot()), runs)
        print(f"== desktop_access: real snapshot of the test window ({len(answer['elements'])} elements, "
              f"median of {runs})")
        print(f"   child start (python3 + gi + Atspi)            {format_seconds(child_start):>10}")
        print(f"   walk, ours (lazy reads)                        {format_seconds(ours - child_start):>10}")
        print(f"   walk, eager reads (no entry text)              {format_seconds(rival - child_start):>10}"
              f"   ratio {(ours - child_start) / (rival - child_start):.3f}")
        print(f"   rendering                                      {format_seconds(rendering):>10}")
        print(f"   DesktopAccess.snapshot() end to end            {format_seconds(whole):>10}")
        window.close()
    finally:
        desktop.stop()


if __name__ == "__main__":
    bench_rendering()
    bench_real_snapshot()
