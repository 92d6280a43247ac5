"""Desktop access on big windows: reading the accessible tree of generated test windows of
about 1,000 / 4,000 / 8,000 nodes, a straightforward per-node walk through the Atspi
bindings against the fast reader (src/desktop_access/atspi_tree.py: the application's
cache in one call, the rest in pipelined calls) and the same reader without the cache.
Each read runs in a fresh system python3, as the snapshot walker does, and is timed
inside it (from the application's accessible to the finished tree with the interactive
nodes' values); the readers alternate in rounds, the fast one first, and its first read
is shown apart. The trees are checked identical before any figure is printed.

Then whole snapshots of the same windows (DesktopAccess.snapshot, from the call to the
rendered answer), ours against the walker's per-node walk through the bindings run and
rendered the same way (checked to give the same text), and ours with max_elements=200.

    PYTHONPATH=build/dev python bench/bench_desktop_big_windows.py [--sizes 1000,4000,8000]
        [--toolkits gtk3] [--rounds 3]   (brings up its own virtual desktop)
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

from rig import DesktopUnavailable, VirtualDesktop  # noqa: E402
from rig.walker_program import PER_NODE_ONLY, walker_program  # noqa: E402
from runner import format_seconds  # noqa: E402

from nebrix.pc.desktop_access import DesktopAccess  # noqa: E402

BOUND = 200
# The per-node walk of a big window may take longer than the walker gives itself.
UNHURRIED = "WALK_SECONDS = float(\"inf\")\n"

# The fast reader goes first: its first read meets the window as a first snapshot does
# (GTK 4 fills its cache only with the accessibles someone has asked for).
READERS = ("fast", "atspi", "uncached")


def timed(function):
    start = time.perf_counter()
    result = function()
    return time.perf_counter() - start, result


def per_node_snapshot(desktop: VirtualDesktop, window) -> dict:
    output = subprocess.run(["python3", "-c", walker_program(window, PER_NODE_ONLY + UNHURRIED)], env=desktop.env,
                            capture_output=True, text=True, check=True, timeout=600)
    return DesktopAccess()._render_atspi_answer(json.loads(output.stdout))


def measure_snapshots(desktop: VirtualDesktop, window, rounds: int) -> dict:
    """Median seconds of our snapshot, the per-node one and our bounded one; first rounds
    check that ours and the per-node one agree."""
    access = DesktopAccess()
    seconds = {"ours": [], "per-node": [], "bounded": []}
    for _ in range(rounds):
        took, ours = timed(lambda: asyncio.run(access.snapshot(window.title)))
        seconds["ours"].append(took)
        took, per_node = timed(lambda: per_node_snapshot(desktop, window))
        seconds["per-node"].append(took)
        if ours.get("snapshot") != per_node["snapshot"]:
            raise SystemExit(f"{window.title}: our snapshot differs from the per-node walk's: {ours.get('error')}")
        took, bounded = timed(lambda: asyncio.run(access.snapshot(window.title, max_elements=BOUND)))
        seconds["bounded"].append(took)
        if bounded.get("element_count") != min(BOUND, ours["element_count"]):
            raise SystemExit(f"{window.title}: the bounded snapshot shows {bounded.get('element_count')} elements")
    return {name: statistics.median(times) for name, times in seconds.items()} | {
        "elements": ours["element_count"], "characters": len(ours["snapshot"]),
        "bounded characters": len(bounded["snapshot"])}


def measure(desktop: VirtualDesktop, toolkit: str, size: int, rounds: int, snapshots: list) -> None:
    window = desktop.open_test_window(f"Big {toolkit} {size}", toolkit, nodes=size, timeout=120)
    try:
        pid = window.process.pid
        seconds = {reader: [] for reader in READERS}
        trees = {}
        for _ in range(rounds):
            for reader in READERS:
                answer = desktop.accessible_tree(pid, reader, timeout=600)
                seconds[reader] += answer["seconds"]
                trees.setdefault(reader, answer["nodes"])
        snapshots.append((toolkit, size, measure_snapshots(desktop, window, rounds)))
    finally:
        window.close()
    for reader in ("fast", "uncached"):
        if trees[reader] != trees["atspi"]:
            raise SystemExit(f"{toolkit} {size}: the {reader} reader's tree differs from the per-node walk")
    median = {reader: statistics.median(times) for reader, times in seconds.items()}
    first = seconds["fast"][0]
    print(f"{toolkit:5} {size:>6} {len(trees['atspi']):>6}  {format_seconds(median['atspi']):>10}"
          f"  {format_seconds(median['fast']):>10} {median['fast'] / median['atspi']:>6.2f}"
          f"  {format_seconds(first):>10} {first / median['atspi']:>6.2f}"
          f"  {format_seconds(median['uncached']):>10} {median['uncached'] / median['atspi']:>6.2f}", flush=True)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sizes", default="1000,4000,8000", help="generated nodes per window, comma separated")
    parser.add_argument("--toolkits", default="gtk3", help="gtk3, gtk4, qt5, comma separated")
    parser.add_argument("--rounds", type=int, default=3)
    # run_all.py runs this with its own arguments (name fragments) left in sys.argv.
    options, _ = parser.parse_known_args()
    try:
        desktop = VirtualDesktop().start()
    except DesktopUnavailable as error:
        raise SystemExit(f"virtual desktop unavailable: {error}")
    try:
        desktop.apply_to_process()
        print("median read time per reader, and the fast reader's first read of the window;")
        print("ratio = reader / per-node walk (below 1: faster)")
        print(f"{'kit':5} {'asked':>6} {'nodes':>6}  {'per-node':>10}  {'fast':>10} {'ratio':>6}"
              f"  {'fast first':>10} {'ratio':>6}  {'uncached':>10} {'ratio':>6}")
        snapshots = []
        for toolkit in options.toolkits.split(","):
            for size in map(int, options.sizes.split(",")):
                measure(desktop, toolkit, size, options.rounds, snapshots)
        print(f"\nwhole snapshots, median of {options.rounds}; ratio = ours / per-node walk; "
              f"bounded: max_elements={BOUND}")
        print(f"{'kit':5} {'asked':>6} {'elements':>8} {'chars':>8}  {'per-node':>10}  {'ours':>10} {'ratio':>6}"
              f"  {'bounded':>10} {'chars':>6}")
        for toolkit, size, figures in snapshots:
            print(f"{toolkit:5} {size:>6} {figures['elements']:>8} {figures['characters']:>8}"
                  f"  {format_seconds(figures['per-node']):>10}  {format_seconds(figures['ours']):>10}"
                  f" {figures['ours'] / figures['per-node']:>6.2f}  {format_seconds(figures['bounded']):>10}"
                  f" {figures['bounded characters']:>6}")
    finally:
        desktop.stop()


if __name__ == "__main__":
    main()
