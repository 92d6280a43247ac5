"""Desktop access on Linux: time from a click_ref call to the test window recording the
click, through the element's own AT-SPI2 action (the Save button: its click count) and
through the pointer at the element's middle (the text entry, whose "activate" action is
Enter: a button release at the point clicked). The two alternate in rounds on one
window of each toolkit.

    python bench/bench_desktop_act_by_ref.py [--toolkits gtk3,gtk4,qt5] [--rounds 15]
        (brings up its own virtual desktop)
"""

from __future__ import annotations

import argparse
import asyncio
import statistics
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent))

from rig import DesktopUnavailable, VirtualDesktop  # noqa: E402
from runner import format_seconds  # noqa: E402

POLL_SECONDS = 0.002


def until(window, predicate, timeout: float = 10) -> float:
    """Waits for predicate(state) and returns the moment it held."""
    deadline = time.perf_counter() + timeout
    while time.perf_counter() < deadline:
        state = window.state()
        if state and predicate(state):
            return time.perf_counter()
        time.sleep(POLL_SECONDS)
    raise SystemExit("the window did not record the click")


def by_action(access, window, ref) -> float:
    clicks = window.state()["clicks"]["Save"]
    start = time.perf_counter()
    result = asyncio.run(access.click_ref(ref))
    assert result["action"] == "click", result
    return until(window, lambda state: state["clicks"]["Save"] > clicks) - start


def by_pointer(access, window, ref) -> float:
    seen = len(window.state()["pointer"])
    start = time.perf_counter()
    result = asyncio.run(access.click_ref(ref))
    assert result["action"] == "click (coordinate fallback)", result
    point = tuple(result["coordinates"])
    return until(window, lambda state: any(event["kind"] == "release" and (event["x"], event["y"]) == point
                                           for event in state["pointer"][seen:])) - start


def measure(desktop, access, toolkit: str, rounds: int) -> None:
    window = desktop.open_test_window(f"Bench act {toolkit}", toolkit)
    try:
        asyncio.run(access.snapshot(window.title))
        save = next(ref for ref, record in access._ref_map.items() if record["name"] == "Save")
        entry = next(ref for ref, record in access._ref_map.items() if record["role"] == "text")
        seconds = {"action": [], "pointer": []}
        for _ in range(rounds):
            seconds["action"].append(by_action(access, window, save))
            seconds["pointer"].append(by_pointer(access, window, entry))
    finally:
        window.close()
    action, pointer = (statistics.median(seconds[way]) for way in ("action", "pointer"))
    print(f"{toolkit:6} {format_seconds(action):>10} {format_seconds(pointer):>10} {pointer / action:8.2f}")


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--toolkits", default="gtk3,gtk4,qt5")
    parser.add_argument("--rounds", type=int, default=15)
    options, _ = parser.parse_known_args()  # run_all passes its name fragments on
    try:
        desktop = VirtualDesktop().start()
    except DesktopUnavailable as error:
        raise SystemExit(f"no virtual desktop: {error}")
    try:
        desktop.apply_to_process()
        from nebrix.pc.desktop_access import DesktopAccess

        access = DesktopAccess()
        access._ensure_init()
        print(f"== click_ref until the window records the click (median of {options.rounds} alternating rounds)")
        print(f"{'window':6} {'action':>10} {'pointer':>10} {'ratio':>8}")
        for toolkit in options.toolkits.split(","):
            measure(desktop, access, toolkit, options.rounds)
    finally:
        desktop.stop()


if __name__ == "__main__":
    main()
