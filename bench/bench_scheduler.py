"""Scheduler: the next occurrence of cron expressions, ours against the minute scan a
pure-Python scheduler does and against croniter and cronsim (on expressions where their
dialects agree with ours: at most one of the two day fields restricted); and the
dictionary forms of the records against the same code written in Python.

    PYTHONPATH=build/scheduler-313 python bench/bench_scheduler.py
"""

from __future__ import annotations

import dataclasses
import sys
from datetime import datetime, timedelta
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from runner import Comparison  # noqa: E402

from nebrix.core.scheduler import (  # noqa: E402
    CronExpression, JobExecution, JobState, JobType, ScheduledJob, _format_timestamp)

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


if __name__ == "__main__":
    bench_cron()
    bench_records()
