"""Desktop access on big windows: reading the accessible tree of generated test windows of
about 1,000 / 4,000 / 8,000 nodes, a straightforward per-node walk through the Atspi
bindings against the fast reader (src/desktop_access/atspi_tree.py: the application's
cache in one call, the rest in pipelined calls) and the same reader without the cache.
Each read runs in a fresh system python3, as the snapshot walker does, and is timed
inside it (from the application's accessible to the finished tree with the interactive
nodes' values); the readers alternate in rounds, the fast one first, and its first read
is shown apart. The trees are checked identical before any figure is printed.

    python bench/bench_desktop_big_windows.py [--sizes 1000,4000,8000] [--toolkits gtk3]
        [--rounds 3]   (brings up its own virtual desktop)
"""

from __future__ import annotations

import argparse
import statistics
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent))

from rig import DesktopUnavailable, VirtualDesktop  # noqa: E402
from runner import format_seconds  # noqa: E402

# The fast reader goes first: its first read meets the window as a first snapshot does
# (GTK 4 fills its cache only with the accessibles someone has asked for).
READERS = ("fast", "atspi", "uncached")


def measure(desktop: VirtualDesktop, toolkit: str, size: int, rounds: int) -> None:
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
        print("median read time per reader, and the fast reader's first read of the window;")
        print("ratio = reader / per-node walk (below 1: faster)")
        print(f"{'kit':5} {'asked':>6} {'nodes':>6}  {'per-node':>10}  {'fast':>10} {'ratio':>6}"
              f"  {'fast first':>10} {'ratio':>6}  {'uncached':>10} {'ratio':>6}")
        for toolkit in options.toolkits.split(","):
            for size in map(int, options.sizes.split(",")):
                measure(desktop, toolkit, size, options.rounds)
    finally:
        desktop.stop()


if __name__ == "__main__":
    main()
