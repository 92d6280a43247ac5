"""The scheduler on a virtual clock through daylight-saving nights in three zones, with
slow callbacks: time.time and asyncio.wait_for are patched, the event loop is real."""

import asyncio
import logging
import time
from datetime import datetime, timedelta, timezone
from zoneinfo import ZoneInfo

import pytest

from nebrix.core.scheduler import CronExpression, JobType, ScheduledJob, Scheduler

ZONES = ["Europe/Berlin", "America/New_York", "Australia/Lord_Howe"]
PASS = 30.0


@pytest.fixture
def zone(request, monkeypatch):
    monkeypatch.setenv("TZ", request.param)
    time.tzset()
    yield ZoneInfo(request.param)
    monkeypatch.undo()
    time.tzset()


def shift_2025(zone: ZoneInfo, backwards: bool) -> tuple[float, float]:
    """The Unix time of the 2025 clock shift of `zone` (back or forward) and its size."""
    moment = datetime(2025, 1, 1, tzinfo=timezone.utc)
    while moment.year == 2025:
        before = moment.astimezone(zone).utcoffset()
        after = (moment + timedelta(minutes=15)).astimezone(zone).utcoffset()
        if (after < before) if backwards else (after > before):
            while moment.astimezone(zone).utcoffset() == before:
                moment += timedelta(minutes=1)
            return moment.timestamp(), abs((after - before).total_seconds())
        moment += timedelta(minutes=15)
    raise AssertionError("no shift")


def wall(zone: ZoneInfo, unix: float) -> datetime:
    return datetime.fromtimestamp(unix, zone)


async def run_until(scheduler, clock, passes, end: float, on_pass=None) -> None:
    await scheduler.start()
    await passes.reached(1)
    while clock.now < end:
        clock.advance(PASS)
        await passes.next()
        if on_pass:
            on_pass()
    await scheduler.stop()


def recording_scheduler(tmp_path, clock, seconds: float = 0.0):
    """A scheduler whose fire callback records the start times and lasts `seconds` of
    virtual time (released by the passes that follow)."""
    starts, running, most = [], [0], [0]
    releases: list[tuple[float, asyncio.Future]] = []

    async def on_fire(job):
        starts.append(clock.now)
        running[0] += 1
        most[0] = max(most[0], running[0])
        if seconds:
            done = asyncio.get_running_loop().create_future()
            releases.append((clock.now + seconds, done))
            await done
        running[0] -= 1
        return "ok"

    def release_due():
        for end, done in releases:
            if clock.now >= end and not done.done():
                done.set_result(None)

    scheduler = Scheduler(on_fire=on_fire, storage_path=tmp_path / "scheduler.json")
    return scheduler, starts, most, release_due


@pytest.mark.parametrize("zone", ZONES, indirect=True)
class TestFallBack:
    def repeated_slot(self, zone):
        shift, size = shift_2025(zone, backwards=True)
        slot = wall(zone, shift - size / 2)  # inside the wall-clock span that comes twice
        return shift, size, slot

    def test_a_fixed_time_slot_fires_once(self, zone, tmp_path, clock, passes):
        shift, size, slot = self.repeated_slot(zone)
        clock.now = shift - 3 * 3600
        scheduler, starts, _, _ = recording_scheduler(tmp_path, clock)
        job = scheduler.add_job(ScheduledJob(schedule=f"{slot.minute} {slot.hour} * * *"))
        asyncio.run(run_until(scheduler, clock, passes, shift + 3 * 3600))
        assert len(starts) == 1 and wall(zone, starts[0]).fold == 0
        assert job.next_run > clock.now

    def test_added_in_the_second_pass_the_next_run_lies_ahead(self, zone, tmp_path, clock, passes):
        shift, size, slot = self.repeated_slot(zone)
        clock.now = shift + 60  # the second pass, before the slot's wall time comes again
        scheduler, starts, _, _ = recording_scheduler(tmp_path, clock)
        job = scheduler.add_job(ScheduledJob(schedule=f"{slot.minute} {slot.hour} * * *"))
        assert job.next_run > clock.now
        asyncio.run(run_until(scheduler, clock, passes, shift + 3 * 3600))
        assert starts == []  # its wall slot passed in the first pass today
        assert wall(zone, job.next_run).replace(tzinfo=None) == (slot + timedelta(days=1)).replace(tzinfo=None)

    def test_a_firing_that_ends_in_the_second_pass_is_not_repeated(self, zone, tmp_path, clock, passes):
        shift, size, slot = self.repeated_slot(zone)
        clock.now = shift - 3 * 3600
        scheduler, starts, most, release_due = recording_scheduler(tmp_path, clock, seconds=size + 600)
        scheduler.add_job(ScheduledJob(schedule=f"{slot.minute} {slot.hour} * * *"))
        asyncio.run(run_until(scheduler, clock, passes, shift + 3 * 3600, release_due))
        assert len(starts) == 1 and most[0] == 1

    def test_every_ten_minutes_through_the_night(self, zone, tmp_path, clock, passes):
        shift, size, _ = self.repeated_slot(zone)
        clock.now = shift - 2 * 3600
        scheduler, starts, _, _ = recording_scheduler(tmp_path, clock)
        scheduler.add_job(ScheduledJob(schedule="*/10 * * * *"))
        asyncio.run(run_until(scheduler, clock, passes, shift + 2 * 3600))
        gaps = [later - earlier for earlier, later in zip(starts, starts[1:])]
        assert len(starts) == 24 and all(600 - PASS <= gap <= 600 + PASS for gap in gaps)

    def test_next_occurrence_of_an_aware_time_lies_ahead(self, zone):
        shift, size, slot = self.repeated_slot(zone)
        after = wall(zone, shift + 60)  # second pass
        found = CronExpression("*/5 * * * *").next_occurrence(after)
        assert found.timestamp() > after.timestamp()


@pytest.mark.parametrize("zone", ZONES, indirect=True)
def test_a_skipped_wall_time_fires_once(zone, tmp_path, clock, passes):
    shift, size = shift_2025(zone, backwards=False)
    slot = wall(zone, shift - 1) + timedelta(seconds=1 + size / 2)  # a wall time the clock skips
    clock.now = shift - 3 * 3600
    scheduler, starts, _, _ = recording_scheduler(tmp_path, clock)
    scheduler.add_job(ScheduledJob(schedule=f"{slot.minute} {slot.hour} * * *"))
    asyncio.run(run_until(scheduler, clock, passes, shift + 3 * 3600))
    assert len(starts) == 1


class TestOverlap:
    def test_a_cron_job_outlasting_its_period_runs_once_at_a_time(self, tmp_path, clock, passes, caplog):
        caplog.set_level(logging.INFO, "nebrix.scheduler")
        clock.now = 1_750_000_000.0 - 1_750_000_000.0 % 60
        scheduler, starts, most, release_due = recording_scheduler(tmp_path, clock, seconds=150)
        job = scheduler.add_job(ScheduledJob(schedule="* * * * *", max_runs=3))
        asyncio.run(run_until(scheduler, clock, passes, clock.now + 1800, release_due))
        assert len(starts) == 3 and most[0] == 1 and job.run_count == 3
        assert all(later - earlier >= 150 for earlier, later in zip(starts, starts[1:]))
        assert any("is still running: skipped the run due at" in r.getMessage() for r in caplog.records)

    def test_a_late_interval_firing_never_moves_the_next_run_back(self, tmp_path, clock, passes):
        scheduler, starts, most, release_due = recording_scheduler(tmp_path, clock, seconds=150)
        job = scheduler.add_job(ScheduledJob(job_type=JobType.INTERVAL, interval_seconds=60))
        seen = []

        def on_pass():
            release_due()
            seen.append(job.next_run)

        asyncio.run(run_until(scheduler, clock, passes, clock.now + 1800, on_pass))
        assert seen == sorted(seen) and most[0] == 1
        assert all(later - earlier >= 150 for earlier, later in zip(starts, starts[1:]))


@pytest.mark.parametrize("zone", ZONES, indirect=True)
class TestClockSetBack:
    def test_a_daily_job_running_across_the_step_fires_once(self, zone, tmp_path, clock, passes):
        clock.now = datetime(2025, 6, 2, 8, 50, tzinfo=zone).timestamp()
        scheduler, starts, _, release_due = recording_scheduler(tmp_path, clock, seconds=240)
        job = scheduler.add_job(ScheduledJob(schedule="0 9 * * *"))
        stepped = False

        def on_pass():
            nonlocal stepped
            if starts and not stepped and clock.now >= starts[0] + 120:
                clock.advance(-3600)  # the clock is set back while the job runs
                stepped = True
            release_due()

        asyncio.run(run_until(scheduler, clock, passes, clock.now + 4 * 3600, on_pass))
        assert stepped and len(starts) == 1
        assert scheduler.list_executions()[0]["duration"] >= 0
        assert wall(zone, job.next_run).replace(tzinfo=None) == datetime(2025, 6, 3, 9, 0)

    def test_an_interval_job_keeps_its_period(self, zone, tmp_path, clock, passes):
        scheduler, starts, _, _ = recording_scheduler(tmp_path, clock)
        scheduler.add_job(ScheduledJob(job_type=JobType.INTERVAL, interval_seconds=60))
        fired_at_pass: list[int] = []
        count = [0]

        def on_pass():
            count[0] += 1
            if count[0] == 20:
                clock.advance(-3600)
            fired_at_pass.append(len(starts))

        asyncio.run(run_until(scheduler, clock, passes, clock.now + 1200, on_pass))
        # One firing every other pass (60 s), also after the step back.
        assert fired_at_pass[-1] - fired_at_pass[19] >= (len(fired_at_pass) - 20) // 2 - 1
