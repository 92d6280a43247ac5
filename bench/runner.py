"""Side-by-side timing: our function and a rival, interleaved in one process.

    from runner import Comparison
    with Comparison("cron next_occurrence") as bench:
        bench.compare("0 0 31 2 *", ours=lambda: ..., rival=lambda: ..., rival_name="python scan")

Each case runs both callables in alternating rounds, so drift of a shared machine
hits both alike; it prints the median time per call of each and their ratio
(ours / rival: below 1 means we are faster). Absolute figures are noise; read ratios.
"""

from __future__ import annotations

import gc
import statistics
import sys
import time
from collections.abc import Callable


def _calls_per_round(function: Callable[[], object], target_seconds: float) -> int:
    number = 1
    while True:
        start = time.perf_counter()
        for _ in range(number):
            function()
        elapsed = time.perf_counter() - start
        if elapsed >= target_seconds or number >= 1 << 24:
            return number
        number *= 2 if elapsed == 0 else max(2, min(10, int(target_seconds / elapsed) + 1))


def _time_round(function: Callable[[], object], number: int) -> float:
    start = time.perf_counter()
    for _ in range(number):
        function()
    return (time.perf_counter() - start) / number


def format_seconds(seconds: float) -> str:
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


class Comparison:
    """A table of cases, each timing `ours` against `rival` side by side."""

    def __init__(self, title: str, rounds: int = 7, round_seconds: float = 0.05) -> None:
        self.title = title
        self.rounds = rounds
        self.round_seconds = round_seconds
        self.ratios: list[float] = []

    def __enter__(self) -> Comparison:
        print(f"== {self.title}  (median per call over {self.rounds} interleaved rounds)")
        return self

    def __exit__(self, *exc_info: object) -> None:
        if self.ratios and exc_info[0] is None:
            print(f"   geometric mean ratio: {statistics.geometric_mean(self.ratios):.3f}")
        sys.stdout.flush()

    def time(self, case: str, ours: Callable[[], object]) -> float:
        """Times one callable alone (no rival) and prints its median."""
        number = _calls_per_round(ours, self.round_seconds)
        median = statistics.median(_time_round(ours, number) for _ in range(self.rounds))
        print(f"   {case:<44} ours {format_seconds(median):>10}")
        return median

    def compare(self, case: str, ours: Callable[[], object], rival: Callable[[], object],
                rival_name: str = "rival") -> float:
        """Times both, interleaved, prints the medians and returns ours / rival."""
        number_ours = _calls_per_round(ours, self.round_seconds)
        number_rival = _calls_per_round(rival, self.round_seconds)
        ours_times: list[float] = []
        rival_times: list[float] = []
        gc_was_enabled = gc.isenabled()
        gc.disable()
        try:
            for _ in range(self.rounds):
                ours_times.append(_time_round(ours, number_ours))
                rival_times.append(_time_round(rival, number_rival))
        finally:
            if gc_was_enabled:
                gc.enable()
        ours_median = statistics.median(ours_times)
        rival_median = statistics.median(rival_times)
        ratio = ours_median / rival_median if rival_median else float("inf")
        self.ratios.append(ratio)
        print(f"   {case:<44} ours {format_seconds(ours_median):>10}   "
              f"{rival_name} {format_seconds(rival_median):>10}   ratio {ratio:.3f}")
        return ratio
