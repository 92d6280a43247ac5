"""An example host: brings up its own virtual desktop with the GTK test window and runs
one step per module, printing what each returns.

    python examples/host.py                 # private virtual desktop (never moves your mouse)
    python examples/host.py --real-display  # the display in $DISPLAY, as it is
    python examples/host.py --step scheduler

Each step is a file in examples/steps/ defining TITLE and `async def run(demo)`.
"""

from __future__ import annotations

import argparse
import asyncio
import importlib.util
import json
import sys
import tempfile
import traceback
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent))

from rig import VirtualDesktop  # noqa: E402


class Demo:
    """What a step gets: the desktop, the test window, a scratch directory, show()."""

    def __init__(self, desktop: VirtualDesktop | None, test_window, workdir: Path) -> None:
        self.desktop = desktop
        self.test_window = test_window
        self.workdir = workdir

    @staticmethod
    def show(label: str, value) -> None:
        if not isinstance(value, str):
            compact = json.dumps(value, default=repr, ensure_ascii=False)
            value = compact if len(compact) <= 100 else json.dumps(value, indent=2, default=repr, ensure_ascii=False)
        indented = value.replace("\n", "\n      ")
        print(f"   {label}: {indented}")


def load_steps(wanted: list[str]):
    steps = []
    for path in sorted((HERE / "steps").glob("*.py")):
        if wanted and path.stem not in wanted:
            continue
        location = importlib.util.spec_from_file_location(f"steps.{path.stem}", path)
        module = importlib.util.module_from_spec(location)
        location.loader.exec_module(module)
        steps.append(module)
    return steps


async def run_steps(demo: Demo, steps) -> int:
    failures = 0
    for step in steps:
        print(f"\n== {step.TITLE}")
        try:
            await step.run(demo)
        except Exception:  # a failing step is reported; the others still run
            failures += 1
            traceback.print_exc()
    return failures


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--real-display", action="store_true", help="use the display in $DISPLAY")
    parser.add_argument("--step", action="append", default=[], help="run only this step (repeatable)")
    options = parser.parse_args()
    steps = load_steps(options.step)
    with tempfile.TemporaryDirectory(prefix="nebrix-demo-") as scratch:
        if options.real_display:
            return asyncio.run(run_steps(Demo(None, None, Path(scratch)), steps))
        with VirtualDesktop() as desktop:
            desktop.apply_to_process()
            window = desktop.open_test_window()
            print(f"virtual desktop {desktop.display} ({desktop.width}x{desktop.height}), "
                  f"test window {window.title!r}")
            try:
                return asyncio.run(run_steps(Demo(desktop, window, Path(scratch)), steps))
            finally:
                window.close()


if __name__ == "__main__":
    sys.exit(1 if main() else 0)
