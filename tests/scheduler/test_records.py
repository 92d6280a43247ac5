"""JobType, JobState, ScheduledJob, JobExecution and _format_timestamp."""

import dataclasses
import re
import time
from datetime import datetime

import pytest

from nebrix.core.scheduler import JobExecution, JobState, JobType, ScheduledJob, _format_timestamp

JOB_KEYS = ["id", "name", "description", "job_type", "schedule", "interval_seconds", "prompt", "model_key",
            "spawn_worker", "state", "created_at", "last_run", "next_run", "run_count", "max_runs",
            "next_run_human", "last_run_human"]
EXECUTION_KEYS = ["job_id", "job_name", "started_at", "started_at_human", "completed_at", "duration", "success",
                  "result", "error", "model_used", "worker_id"]


def test_enumerations_are_strings():
    assert [member.value for member in JobType] == ["cron", "interval", "once"]
    assert [member.value for member in JobState] == ["active", "paused", "completed", "disabled"]
    assert JobType.CRON == "cron" and isinstance(JobState.PAUSED, str)
    assert JobType("interval") is JobType.INTERVAL
    with pytest.raises(ValueError):
        JobType("weekly")
    assert JobType.__module__ == JobState.__module__ == "nebrix.core.scheduler"


def test_records_are_dataclasses_of_this_module():
    for cls in (ScheduledJob, JobExecution):
        assert dataclasses.is_dataclass(cls)
        assert cls.__module__ == "nebrix.core.scheduler"
    assert [field.name for field in dataclasses.fields(ScheduledJob)] == JOB_KEYS[:15] + ["metadata"]
    assert ScheduledJob.__doc__ == "Definition of a scheduled job."
    assert JobExecution.__doc__ == "Record of a single job execution."
    job = ScheduledJob(name="a")
    assert dataclasses.replace(job, name="b").name == "b"
    assert dataclasses.asdict(job)["name"] == "a"
    assert repr(job).startswith(f"ScheduledJob(id='{job.id}', name='a', description=''")
    with pytest.raises(TypeError):
        JobExecution(job_id="x")


def test_job_defaults(monkeypatch):
    monkeypatch.setattr("time.time", lambda: 1234.5)
    first, second = ScheduledJob(), ScheduledJob()
    assert re.fullmatch(r"[0-9a-f]{10}", first.id) and first.id != second.id
    assert first.metadata == {} and first.metadata is not second.metadata
    assert (first.state, first.job_type, first.spawn_worker, first.model_key) == (JobState.ACTIVE, JobType.CRON, True, None)
    assert first.created_at == 1234.5
    form = first.to_dict()
    assert list(form) == JOB_KEYS
    assert (form["next_run_human"], form["last_run_human"], form["job_type"], form["state"]) == (
        "Not scheduled", "Never", "cron", "active")
    assert type(form["job_type"]) is str


def test_job_dictionary_form_shortens_the_prompt():
    assert ScheduledJob(prompt="p" * 300).to_dict()["prompt"] == "p" * 300
    assert ScheduledJob(prompt="é" * 301).to_dict()["prompt"] == "é" * 300 + "..."


def test_job_dictionary_form_formats_times():
    moment = datetime(2025, 3, 10, 6, 0, 0).timestamp()
    form = ScheduledJob(next_run=moment, last_run=moment + 59.9).to_dict()
    assert (form["next_run_human"], form["last_run_human"]) == ("2025-03-10 06:00:00", "2025-03-10 06:00:59")


def test_from_dict_reads_forms_and_parts_of_them():
    job = ScheduledJob(name="n", job_type=JobType.INTERVAL, interval_seconds=60, state=JobState.PAUSED,
                       next_run=5.0, run_count=2, max_runs=3, model_key="m")
    data = job.to_dict()
    assert ScheduledJob.from_dict(data) == job
    assert data == job.to_dict()  # not modified
    empty = ScheduledJob.from_dict({})
    assert re.fullmatch(r"[0-9a-f]{10}", empty.id) and empty.name == "" and empty.job_type is JobType.CRON
    assert ScheduledJob.from_dict({"foo": 1, "name": "x"}).name == "x"
    assert ScheduledJob.from_dict({"job_type": JobType.ONCE}).job_type is JobType.ONCE
    assert ScheduledJob.from_dict({"state": "paused"}).state is JobState.PAUSED
    with pytest.raises(ValueError):
        ScheduledJob.from_dict({"job_type": "weekly"})
    with pytest.raises(TypeError, match=r"Argument 'data' has incorrect type \(expected dict, got list\)"):
        ScheduledJob.from_dict([])

    class Special(ScheduledJob):
        pass

    special = Special.from_dict({"name": "s", "job_type": "once"})
    plain = ScheduledJob(**{field.name: getattr(special, field.name) for field in dataclasses.fields(special)})
    assert type(special) is Special and special.to_dict() == plain.to_dict()


def test_a_plain_string_state_still_gives_a_dictionary_form():
    job = ScheduledJob(job_type="interval", state="paused")
    assert (job.to_dict()["job_type"], job.to_dict()["state"]) == ("interval", "paused")


def test_execution_dictionary_form():
    started = datetime(2025, 3, 10, 6, 0).timestamp()
    execution = JobExecution("j", "name", started, completed_at=started + 1, duration=2.675, result="r" * 201)
    form = execution.to_dict()
    assert list(form) == EXECUTION_KEYS
    assert form["started_at_human"] == "2025-03-10 06:00:00"
    assert form["result"] == "r" * 200
    assert form["duration"] == 2.67
    assert JobExecution("j", "n", 1.0, duration=0.125).to_dict()["duration"] == 0.12
    assert JobExecution("j", "n", 1.0, duration=1.23456).to_dict()["duration"] == 1.23


@pytest.mark.parametrize("ts, text", [
    (0, "Never"), (0.0, "Never"), (float("nan"), "Invalid"), (float("inf"), "Invalid"), (1e18, "Invalid"),
    (10 ** 400, "Invalid"),
])
def test_format_timestamp_edges(ts, text):
    assert _format_timestamp(ts) == text


@pytest.mark.parametrize("zone", ["UTC", "Europe/Berlin", "America/New_York", "Australia/Lord_Howe"])
def test_format_timestamp_of_the_first_day_of_year_one(zone, monkeypatch):
    monkeypatch.setenv("TZ", zone)
    time.tzset()
    try:
        assert _format_timestamp(-62135596800) == "Invalid"
        assert ScheduledJob(next_run=-62135596800).to_dict()["next_run_human"] == _format_timestamp(-62135596800)
    finally:
        monkeypatch.undo()
        time.tzset()


def test_format_timestamp_local_time():
    assert _format_timestamp(datetime(2025, 3, 10, 6, 0, 0, 999).timestamp()) == "2025-03-10 06:00:00"
    assert _format_timestamp(int(datetime(2030, 1, 2, 3, 4, 5).timestamp())) == "2030-01-02 03:04:05"
    with pytest.raises(TypeError, match=r"Argument 'ts' has incorrect type \(expected float, got str\)"):
        _format_timestamp("0")


def test_from_dict_leaves_the_callers_dictionary_alone():
    data = {"job_type": "interval", "state": "paused", "name": "n", "next_run_human": "x"}
    before = dict(data)
    job = ScheduledJob.from_dict(data)
    assert (job.job_type, job.state) == (JobType.INTERVAL, JobState.PAUSED)
    # The enumerations are strings, so compare the types as well as the values.
    assert data == before and [type(value) for value in data.values()] == [str] * 4
