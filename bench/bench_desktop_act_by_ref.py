"""Desktop access on Linux: time from a click_ref call to the test window recording the
click, through the element's own AT-SPI2 action (the Save button: its click count) and
through the pointer at the element's middle (the text entry, whose "activate" action is
Enter: a button release at the point clicked). The two alternate in rounds on one
window of each toolkit. Then keyboard typing of a text whose characters the keyboard
map lacks (each typed on a remapped key) into the entry of the GTK 3 and Qt windows:
how many rounds arrived exactly and their median time, for the acting program and,
with --compare PROGRAM, another version of it (say one from `git show`), alternating.

    python bench/bench_desktop_act_by_ref.py [--toolkits gtk3,gtk4,qt5] [--rounds 15]
        [--compare OLD_PROGRAM] (brings up its own virtual desktop)
"""

from __future__ import annotations

import argparse
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

from rig import DesktopUnavailable, VirtualDesktop, WindowRequest  # noqa: E402
from runner import format_seconds  # noqa: E402

POLL_SECONDS = 0.002
ACTING_PROGRAM = HERE.parent / "src" / "desktop_access" / "atspi_acting.py"
TYPED = "Grüße ☃ 東京 éàü€"
KEYBOARD_TOOLKITS = ("qt5", "gtk3")


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


def type_keys(desktop, window, record, program: Path) -> float | None:
    """Seconds until the entry holds TYPED after typing it with the keyboard, None when
    it came out otherwise."""
    request = dict(record, op="keys", text=TYPED, clear_first=True, press_enter=False, done="keyboard")
    start = time.perf_counter()
    subprocess.run(["python3", str(program), json.dumps(request)], env=desktop.service_env, capture_output=True,
                   timeout=30)
    try:
        return until(window, lambda state: state["entry"] == TYPED, timeout=1) - start
    except SystemExit:
        return None


def measure_typing(desktop, access, window, rounds: int, programs: dict[str, Path]) -> None:
    asyncio.run(access.snapshot(window.title))
    record = next(record for record in access._ref_map.values() if record["role"] == "text")
    seconds = {name: [] for name in programs}
    # The window manager too catches up with the remapped keys of the window before.
    deadline = time.monotonic() + 90
    while True:
        try:
            window.activate()
            break
        except Exception:
            if time.monotonic() > deadline:
                raise
    for _ in range(rounds):
        for name, program in programs.items():
            seconds[name].append(type_keys(desktop, window, record, program))
    for name, times in seconds.items():
        exact = [time for time in times if time is not None]
        median = format_seconds(statistics.median(exact)) if exact else "-"
        print(f"{window.toolkit:6} {name:8} {len(exact):>3}/{rounds:<3} {median:>10}")


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--toolkits", default="gtk3,gtk4,qt5")
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--compare", type=Path, help="another acting program to type with, alternating")
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
        programs = {"current": ACTING_PROGRAM, **({"compared": options.compare} if options.compare else {})}
        print(f"== keyboard typing of {TYPED!r} (rounds that arrived exactly, their median time)")
        # Qt first: each remapped key makes every Qt program rebuild its keyboard map,
        # and after a hundred or so it lags seconds behind.
        windows = desktop.open_windows([WindowRequest(f"Bench keys {toolkit}", toolkit) for toolkit in
                                        KEYBOARD_TOOLKITS if toolkit in options.toolkits.split(",")], timeout=60)
        try:
            for window in windows:
                measure_typing(desktop, access, window, options.rounds, programs)
        finally:
            for window in windows:
                window.close()
    finally:
        desktop.stop()


if __name__ == "__main__":
    main()
