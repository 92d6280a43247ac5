"""Fixtures for the scheduler tests: a controllable clock and loop passes."""

import asyncio

import pytest


class Clock:
    """Stands in for time.time(), moved by the test."""

    def __init__(self, now: float) -> None:
        self.now = now

    def __call__(self) -> float:
        return self.now

    def advance(self, seconds: float) -> None:
        self.now += seconds


@pytest.fixture
def clock(monkeypatch):
    clock = Clock(1_750_000_000.0)
    monkeypatch.setattr("time.time", clock)
    return clock


class Passes:
    """Replaces asyncio.wait_for for the loop: each wait lasts until the test asks for
    the next pass (a timeout) or the awaited stop event is set."""

    def __init__(self) -> None:
        self.waits: list[float] = []
        self._tick: asyncio.Future | None = None
        self._real_wait_for = asyncio.wait_for

    async def wait_for(self, awaitable, timeout):
        self.waits.append(timeout)
        waiter = asyncio.ensure_future(awaitable)
        self._tick = asyncio.get_running_loop().create_future()
        try:
            await asyncio.wait({waiter, self._tick}, return_when=asyncio.FIRST_COMPLETED)
        finally:
            if not waiter.done():
                waiter.cancel()
        if waiter.done() and not waiter.cancelled():
            return waiter.result()
        raise asyncio.TimeoutError

    async def reached(self, count: int) -> None:
        """Waits until the loop has begun its wait number `count` and firings settled."""
        while len(self.waits) < count:
            await asyncio.sleep(0)
        for _ in range(20):
            await asyncio.sleep(0)

    async def next(self) -> None:
        count = len(self.waits)
        self._tick.set_result(None)
        await self.reached(count + 1)


@pytest.fixture
def passes(monkeypatch):
    passes = Passes()
    monkeypatch.setattr("asyncio.wait_for", passes.wait_for)
    return passes
