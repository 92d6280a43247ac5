"""Scheduler: the next occurrence of cron expressions, ours against the minute scan a
pure-Python scheduler does and against croniter and cronsim (on expressions where their
dialects agree with ours: at most one of the two day fields restricted); and the
dictionary forms of the records against the same code written in Python; and, at scale
(10,000 jobs, a ~7.5 MB state file), the save against the same save written in Python and
against our save taking each record's to_dict first (as it did before), and the event
loop's longest stall while due jobs fire, through a virtual clock.

    PYTHONPATH=build/scheduler-313 python bench/bench_scheduler.py
"""

from __future__ import annotations

import asyncio
import dataclasses
import hashlib
import json
import os
import sys
import tempfile
import time
from datetime import datetime, timedelta
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from runner import Comparison  # noqa: E402

from nebrix.core.scheduler import (  # noqa: E402
    CronExpression, JobExecution, JobState, JobType, ScheduledJob, Scheduler, _format_timestamp)

AFTER = datetime(2025, 3, 10, 7, 31, 12)
AGREEING = ["*/15 * * * *", "0 6 * * *", "30 9 * * 1-5", "0 0 1 * *", "5 4 * * 0", "0 9-17 * * *",
            "0 0 28 2 *", "59 23 31 12 *"]


def minute_scan(expression: CronExpression, after: datetime) -> datetime:
    """The search as a pure-Python scheduler writes it: one candidate minute at a time."""
    candidate = after.replace(second=0, microsecond=0) + timedelta(minutes=1)
    for _ in range(366 * 24 * 60):
        if expression.matches(candidate):
            return candidate
        candidate += timedelta(minutes=1)
    raise ValueError(f"No next occurrence found for cron: {expression._expr}")


def never(function):
    def call():
        try:
            function()
        except ValueError:
            pass
    return call


def python_job_to_dict(job) -> dict:
    """ScheduledJob.to_dict written in Python."""
    prompt = job.prompt[:300] + "..." if len(job.prompt) > 300 else job.prompt
    return {
        "id": job.id, "name": job.name, "description": job.description, "job_type": job.job_type.value,
        "schedule": job.schedule, "interval_seconds": job.interval_seconds, "prompt": prompt,
        "model_key": job.model_key, "spawn_worker": job.spawn_worker, "state": job.state.value,
        "created_at": job.created_at, "last_run": job.last_run, "next_run": job.next_run,
        "run_count": job.run_count, "max_runs": job.max_runs,
        "next_run_human": python_format_timestamp(job.next_run) if job.next_run else "Not scheduled",
        "last_run_human": python_format_timestamp(job.last_run) if job.last_run else "Never",
    }


def python_format_timestamp(ts: float) -> str:
    if ts == 0:
        return "Never"
    try:
        return datetime.fromtimestamp(ts).strftime("%Y-%m-%d %H:%M:%S")
    except (ValueError, OSError, OverflowError):
        return "Invalid"


def python_from_dict(data: dict):
    data = dict(data)
    data.pop("next_run_human", None)
    data.pop("last_run_human", None)
    if isinstance(data.get("job_type"), str):
        data["job_type"] = JobType(data["job_type"])
    if isinstance(data.get("state"), str):
        data["state"] = JobState(data["state"])
    names = {field.name for field in dataclasses.fields(ScheduledJob)}
    return ScheduledJob(**{key: value for key, value in data.items() if key in names})


def bench_cron() -> None:
    with Comparison("cron next_occurrence, ours vs the minute scan (expression parsed once)", rounds=3) as bench:
        for text in ["*/15 * * * *", "0 6 * * *", "30 9 * * 1-5", "0 0 13 * 5"]:
            expression = CronExpression(text)
            assert expression.next_occurrence(AFTER) == minute_scan(expression, AFTER)
            bench.compare(text, lambda e=expression: e.next_occurrence(AFTER),
                          lambda e=expression: minute_scan(e, AFTER), "scan")
        never_matches = CronExpression("0 0 31 2 *")
        bench.compare("0 0 31 2 * (no match: whole window)", never(lambda: never_matches.next_occurrence(AFTER)),
                      never(lambda: minute_scan(never_matches, AFTER)), "scan")

    try:
        import croniter
        import cronsim
    except ImportError as missing:
        print(f"   (croniter/cronsim not installed: {missing.name})")
        return
    for text in AGREEING:
        ours = CronExpression(text).next_occurrence(AFTER)
        assert ours == croniter.croniter(text, AFTER).get_next(datetime) == next(cronsim.CronSim(text, AFTER)), text
    for rival_name, rival in [("croniter", lambda text: croniter.croniter(text, AFTER).get_next(datetime)),
                              ("cronsim", lambda text: next(cronsim.CronSim(text, AFTER)))]:
        with Comparison(f"cron text to next occurrence, ours vs {rival_name}") as bench:
            for text in AGREEING:
                bench.compare(text, lambda t=text: CronExpression(t).next_occurrence(AFTER),
                              lambda t=text: rival(t), rival_name)


def bench_records() -> None:
    job = ScheduledJob(name="Morning brief", schedule="0 7 * * 1-5", prompt="Summarise my calendar." * 20,
                       next_run=1_750_000_000.0, last_run=1_749_990_000.0, run_count=3)
    form = job.to_dict()
    assert python_job_to_dict(job) == form and python_from_dict(form) == ScheduledJob.from_dict(form)
    execution = JobExecution(job.id, job.name, 1_750_000_000.0, completed_at=1_750_000_002.5, duration=2.5)
    with Comparison("records, ours vs the same code in Python") as bench:
        bench.compare("ScheduledJob.to_dict", job.to_dict, lambda: python_job_to_dict(job), "python")
        bench.compare("ScheduledJob.from_dict", lambda: ScheduledJob.from_dict(form),
                      lambda: python_from_dict(form), "python")
        bench.compare("_format_timestamp", lambda: _format_timestamp(1_750_000_000.0),
                      lambda: python_format_timestamp(1_750_000_000.0), "python")
        bench.time("JobExecution.to_dict", execution.to_dict)


JOBS_AT_SCALE = 10_000
START = 1_750_000_000.0


def scheduler_at_scale(directory: Path, due: int, on_fire=None) -> Scheduler:
    """10,000 interval jobs with 100 executions, of which the first `due` are due at START."""
    scheduler = Scheduler(on_fire=on_fire, storage_path=directory / "scheduler.json")
    saved = scheduler._save
    scheduler._save = lambda: None
    for number in range(JOBS_AT_SCALE):
        job = ScheduledJob(id=f"job{number:05d}", name=f"Digest {number}", job_type=JobType.INTERVAL,
                           interval_seconds=86_400, created_at=START - 86_400,
                           prompt=f"Collect the news about topic {number} and write me a short digest. " * 4)
        scheduler.add_job(job)
        job.next_run = START - 1 if number < due else START + 3600 + number
    for number in range(100):
        scheduler._executions.append(JobExecution(f"job{number:05d}", f"Digest {number}", START - 600,
                                                  START - 590, 10.0, True, "Sent the digest." * 10))
    scheduler._save = saved
    return scheduler


def python_save(scheduler: Scheduler) -> None:
    """The save as a pure-Python scheduler writes it: json.dumps, then a whole-file write."""
    state = {"jobs": {}, "executions": [e.to_dict() for e in scheduler._executions[-100:]]}
    for key, job in scheduler._jobs.items():
        state["jobs"][key] = {**job.to_dict(), "prompt": job.prompt}
    scheduler._storage_path.write_text(json.dumps(state, indent=2))


def bench_save() -> None:
    with tempfile.TemporaryDirectory() as directory:
        scheduler = scheduler_at_scale(Path(directory), due=0)
        path = scheduler._storage_path
        scheduler._save()
        ours = path.read_bytes()
        python_save(scheduler)
        assert path.read_bytes() == ours, "the state text differs from json.dumps(indent=2)"
        save_through_to_dict(scheduler)
        assert path.read_bytes() == ours, "the state text differs from the one built through to_dict"
        print(f"   state file: {len(ours) / 1e6:.2f} MB, sha256 {hashlib.sha256(ours).hexdigest()[:16]}")
        with Comparison("save of 10,000 jobs, ours vs the same save in Python", rounds=5) as bench:
            bench.compare("Scheduler._save", scheduler._save, lambda: python_save(scheduler), "python")
            bench.compare("Scheduler._save", scheduler._save, lambda: save_through_to_dict(scheduler),
                          "through to_dict")


def save_through_to_dict(scheduler: Scheduler) -> None:
    """The save as it was before the records were written straight into the text: each
    record's to_dict built first (forced here by wrapping to_dict, as a host may)."""
    own = [(cls, vars(cls)["to_dict"]) for cls in (ScheduledJob, JobExecution)]
    for cls, to_dict in own:
        cls.to_dict = lambda self, to_dict=cls.to_dict: to_dict(self)
    try:
        scheduler._save()
    finally:
        for cls, to_dict in own:
            cls.to_dict = to_dict


def run_passes(scheduler: Scheduler, settled) -> tuple[float, float, int]:
    """Runs the loop's first pass on a virtual clock at START beside a 10 ms ticker until
    `settled()`; returns the ticker's longest gap, the time to settle and the bytes saved."""
    written = 0
    save = scheduler._save

    def counting_save():
        nonlocal written
        save()
        written += scheduler._storage_path.stat().st_size

    scheduler._save = counting_save
    real_time, real_wait_for = time.time, asyncio.wait_for

    async def one_pass(awaitable, timeout):
        awaitable.close()
        await asyncio.sleep(3600)

    async def scenario():
        longest = 0.0
        last = time.perf_counter()

        async def ticker():
            nonlocal longest, last
            while True:
                await asyncio.sleep(0.01)
                now = time.perf_counter()
                longest, last = max(longest, now - last), now

        ticking = asyncio.create_task(ticker())
        await asyncio.sleep(0.05)
        began = time.perf_counter()
        await scheduler.start()
        while not settled():
            await asyncio.sleep(0.01)
        took = time.perf_counter() - began
        await scheduler.stop()
        ticking.cancel()
        return longest, took

    time.time, asyncio.wait_for = (lambda: START), one_pass
    try:
        longest, took = asyncio.run(scenario())
    finally:
        time.time, asyncio.wait_for = real_time, real_wait_for
    return longest, took, written


def bench_loop_at_scale() -> None:
    print("== the loop with 10,000 jobs (virtual clock; longest gap of a 10 ms ticker task)")
    for due in (50, JOBS_AT_SCALE):
        with tempfile.TemporaryDirectory() as directory:
            fired = 0

            async def on_fire(job):
                nonlocal fired
                fired += 1
                return "done"

            scheduler = scheduler_at_scale(Path(directory), due, on_fire)
            longest, took, written = run_passes(scheduler, lambda: fired == due and not scheduler._firing)
            assert fired == due
            print(f"   {due:>5} due at once: longest loop gap {longest * 1e3:8.1f} ms, all done in "
                  f"{took:6.2f} s, {written / 1e6:8.1f} MB written")


if __name__ == "__main__":
    bench_cron()
    bench_records()
    bench_save()
    bench_loop_at_scale()
