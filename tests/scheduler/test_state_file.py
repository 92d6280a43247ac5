"""The state file: damaged records, failed and interrupted saves."""

import asyncio
import json
import logging
import math
import os
import random
import struct
import subprocess
import sys
import textwrap
import time

import pytest

from nebrix.core.scheduler import JobExecution, JobType, ScheduledJob, Scheduler

LOGGER = "nebrix.scheduler"

CHILD = textwrap.dedent("""
    import sys
    from nebrix.core.scheduler import JobType, ScheduledJob, Scheduler

    scheduler = Scheduler(storage_path=sys.argv[1])
    number = len(scheduler._jobs)
    print("ready", flush=True)
    while True:
        scheduler.add_job(ScheduledJob(id=f"job{number}", job_type=JobType.ONCE, prompt="p" * 4000))
        print(f"job{number}", flush=True)
        number += 1
""")


def errors(caplog):
    return [r.getMessage() for r in caplog.records if r.name == LOGGER and r.levelno == logging.ERROR]


@pytest.fixture
def state_file(tmp_path):
    return tmp_path / "data" / "scheduler.json"


def write_jobs(state_file, records):
    state_file.parent.mkdir(exist_ok=True)
    text = json.dumps({"jobs": records, "executions": []})  # NaN and Infinity as the runtime writes them
    state_file.write_text(text)
    return text


BAD_RECORDS = {
    "prompt": ({"prompt": 7}, "Field 'prompt' has incorrect type (expected str, got int)"),
    "state": ({"state": None}, "Field 'state' has incorrect type (expected JobState, got NoneType)"),
    "job_type": ({"job_type": 3}, "Field 'job_type' has incorrect type (expected JobType, got int)"),
    "text_next_run": ({"next_run": "x"}, "Field 'next_run' has incorrect type (expected float, got str)"),
    "list_next_run": ({"next_run": [1]}, "Field 'next_run' has incorrect type (expected float, got list)"),
    "nan_next_run": ({"next_run": math.nan}, "Field 'next_run' is not a finite number: nan"),
    "inf_created_at": ({"created_at": math.inf}, "Field 'created_at' is not a finite number: inf"),
    "max_runs": ({"max_runs": "3"}, "Field 'max_runs' has incorrect type (expected int, got str)"),
}


def test_records_that_cannot_be_kept_are_set_aside(state_file, caplog):
    good = ScheduledJob(id="good", name="g", job_type=JobType.INTERVAL, interval_seconds=60, next_run=5).to_dict()
    records = {"good": good}
    for key, (fields, _) in BAD_RECORDS.items():
        records[key] = {**ScheduledJob(id=key).to_dict(), **fields}
    text = write_jobs(state_file, records)
    scheduler = Scheduler(storage_path=state_file)
    assert list(scheduler._jobs) == ["good"]
    assert errors(caplog) == [f"Failed to load scheduler state: job {key}: {message}"
                              for key, (_, message) in BAD_RECORDS.items()]
    assert (state_file.parent / "scheduler.json.bad").read_text() == text
    # What was loaded, and what is added now, survives the next restart.
    assert [form["id"] for form in scheduler.list_jobs()] == ["good"]
    added = scheduler.add_job(ScheduledJob(id="added", job_type=JobType.INTERVAL, interval_seconds=60))
    assert list(Scheduler(storage_path=state_file)._jobs) == ["good", "added"]
    assert added.to_dict() == Scheduler(storage_path=state_file).get_job("added").to_dict()


def test_a_failed_save_is_retried_by_the_loop_and_at_stop(state_file, clock, passes, caplog):
    state_file.parent.write_text("")  # a file where the directory belongs: every save fails
    scheduler = Scheduler(storage_path=state_file)
    for number in range(3):
        scheduler.add_job(ScheduledJob(id=f"job{number}", job_type=JobType.ONCE))
    assert [m.split(":")[0] for m in errors(caplog)] == ["Failed to save scheduler state"]  # logged once

    async def scenario():
        await scheduler.start()
        await passes.reached(1)
        state_file.parent.unlink()
        await passes.next()
        assert list(json.loads(state_file.read_text())["jobs"]) == ["job0", "job1", "job2"]
        scheduler._storage_path = state_file / "below-a-file.json"
        scheduler.add_job(ScheduledJob(id="job3", job_type=JobType.ONCE))
        scheduler._storage_path = state_file
        await scheduler.stop()

    asyncio.run(scenario())
    assert list(json.loads(state_file.read_text())["jobs"]) == ["job0", "job1", "job2", "job3"]
    assert len(errors(caplog)) == 2  # a different failure is logged again


def test_stale_temporary_files_are_removed_at_load(state_file):
    state_file.parent.mkdir()
    stale = [state_file.parent / f".scheduler.json.{name}.tmp" for name in ("abcd_123", "zz9zz9zz")]
    others = [state_file.parent / name for name in (".scheduler.json.short.tmp", ".other.json.abcd_123.tmp")]
    for path in stale + others:
        path.write_text("{}")
    Scheduler(storage_path=state_file)
    assert sorted(path.name for path in state_file.parent.iterdir()) == sorted(path.name for path in others)


def test_killed_saves_leave_the_old_or_the_new_file(tmp_path):
    state_file = tmp_path / "scheduler.json"
    environment = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}
    rng = random.Random(20251208)
    reported: set[str] = set()
    for _ in range(20):
        child = subprocess.Popen([sys.executable, "-c", CHILD, str(state_file)], stdout=subprocess.PIPE,
                                 text=True, env=environment)
        assert child.stdout.readline() == "ready\n"
        time.sleep(rng.uniform(0.0, 0.15))
        child.kill()
        output, _ = child.communicate()
        reported.update(line for line in output.splitlines() if line)
        jobs = json.loads(state_file.read_text())["jobs"] if state_file.exists() else {}
        assert reported <= set(jobs)
        assert all(job["prompt"] == "p" * 4000 for job in jobs.values())
    assert len(reported) > 20
    assert sorted(path.name for path in tmp_path.iterdir() if not path.name.endswith(".tmp")) == ["scheduler.json"]
    Scheduler(storage_path=state_file)
    assert [path.name for path in tmp_path.iterdir()] == ["scheduler.json"]


def saved_state(scheduler):
    return {"jobs": {key: {**job.to_dict(), "prompt": job.prompt} for key, job in scheduler._jobs.items()},
            "executions": [execution.to_dict() for execution in scheduler._executions[-100:]]}


def test_the_state_text_is_what_json_writes(state_file):
    scheduler = Scheduler(storage_path=state_file)
    scheduler._save()
    assert state_file.read_text() == json.dumps({"jobs": {}, "executions": []}, indent=2)
    odd = ScheduledJob(id="odd", name='q"\\\n\t\x01\x7f\u2028é\ud800\U0001f600', job_type=JobType.INTERVAL,
                       interval_seconds=2 ** 70, next_run=math.nan, last_run=-math.inf, created_at=1e-7,
                       run_count=-3, max_runs=-2 ** 64, spawn_worker=[1, (2,), {"k": [None, 1e16]}], model_key="m",
                       description='a"b\\c\x7f\xe9\x1f\n/', prompt="\x00\udfff" + "ü" * 300)
    scheduler._jobs["odd"] = odd
    scheduler._jobs["plain"] = ScheduledJob(id="plain", created_at=1.5)
    scheduler._executions.extend(
        JobExecution(f"job{number}", "ß\ud834", 1e16 + number, completed_at=float(number), duration=1 / 3,
                     success=number % 2 == 0, result={"nested": [number, {"x": math.inf}]}, error="\x1f")
        for number in range(103))
    scheduler._save()
    assert state_file.read_text() == json.dumps(saved_state(scheduler), indent=2)
    odd.spawn_worker = {1: "a non-text key"}  # left to the json module
    scheduler._save()
    assert json.loads(state_file.read_text())["jobs"]["odd"]["spawn_worker"] == {"1": "a non-text key"}


def test_the_save_honours_a_replaced_to_dict(state_file, monkeypatch):
    class Noted(ScheduledJob):
        def to_dict(self):
            return {"noted": True, **super().to_dict()}

    scheduler = Scheduler(storage_path=state_file)
    scheduler._jobs["own"] = ScheduledJob(id="own", created_at=1.5)
    scheduler._jobs["noted"] = Noted(id="noted", created_at=2.5, prompt="p" * 300)
    scheduler._executions.append(JobExecution("own", "own", 3.5))
    monkeypatch.setattr(JobExecution, "to_dict", lambda self: {"job_id": self.job_id, "extra": [1, 2]})
    scheduler._save()
    state = saved_state(scheduler)
    assert state["jobs"]["noted"]["noted"] and state["executions"] == [{"job_id": "own", "extra": [1, 2]}]
    assert state_file.read_text() == json.dumps(state, indent=2)
    monkeypatch.setattr(ScheduledJob, "to_dict", lambda self: {"id": self.id})
    scheduler._save()
    assert json.loads(state_file.read_text())["jobs"]["own"] == {"id": "own", "prompt": ""}


def test_the_state_text_is_what_json_writes_for_any_character_and_number(state_file):
    rng = random.Random(20261208)
    every_character = "".join(map(chr, range(256))) + "\u0100\u2028\uffff\U0010ffff"
    edges = [0.0, -0.0, 1e16, 1e15, 9999999999999998.0, 1e-4, 9.999e-5, 5e-324, 1.7976931348623157e308, 0.1,
             -123456789.125, 2.5, 1e22, 1 / 3]
    scheduler = Scheduler(storage_path=state_file)
    for number in range(40):
        bits = [struct.unpack("<d", rng.randbytes(8))[0] for _ in range(20)]
        scheduler._jobs[f"job{number}"] = ScheduledJob(
            id=f"job{number}", name="a" * (number % 9) + every_character[number * 7:],
            description=" plain text " * (number % 4) + every_character[::-1][number:],
            next_run=bits[0], last_run=rng.uniform(-1e12, 1e12), created_at=edges[number % len(edges)],
            run_count=rng.randrange(-2 ** 80, 2 ** 80), max_runs=rng.randrange(-2 ** 62, 2 ** 62),
            spawn_worker=bits + edges + [None, True, rng.uniform(0, 1)], model_key=None if number % 2 else "m")
    scheduler._save()
    assert state_file.read_text() == json.dumps(saved_state(scheduler), indent=2)


def test_a_save_leaves_no_readable_view_of_its_text(state_file, monkeypatch):
    kept = []
    real_write = os.write

    def keeping_write(descriptor, data):
        kept.append(data)
        return real_write(descriptor, data[:3])  # partial writes: the rest follows

    monkeypatch.setattr(os, "write", keeping_write)
    scheduler = Scheduler(storage_path=state_file)
    scheduler.add_job(ScheduledJob(id="kept", job_type=JobType.ONCE))
    monkeypatch.undo()
    assert json.loads(state_file.read_text())["jobs"]["kept"]["id"] == "kept"
    assert len(kept) > 1
    for data in kept:
        with pytest.raises(ValueError):
            bytes(data)
