"""The Scheduler service: jobs, history, the state file and the loop on a real event loop."""

import asyncio
import json
import logging
import math
import re
from datetime import datetime

import pytest

from nebrix.core.scheduler import JobExecution, JobState, JobType, ScheduledJob, Scheduler, _format_timestamp

LOGGER = "nebrix.scheduler"


@pytest.fixture
def state_file(tmp_path):
    return tmp_path / "data" / "scheduler.json"


def messages(caplog, level=logging.INFO):
    return [record.getMessage() for record in caplog.records if record.name == LOGGER and record.levelno == level]


def interval_job(**fields):
    return ScheduledJob(**{"name": "tick", "job_type": JobType.INTERVAL, "interval_seconds": 3600, **fields})


def run(coroutine):
    return asyncio.run(coroutine)


class TestJobs:
    def test_add_interval_job_schedules_and_logs(self, state_file, clock, caplog):
        caplog.set_level(logging.INFO, LOGGER)
        scheduler = Scheduler(storage_path=state_file)
        job = interval_job()
        assert scheduler.add_job(job) is job
        assert job.next_run == clock.now + 3600
        assert messages(caplog) == [f"Job added: tick ({job.id}) \u2014 next run: {_format_timestamp(clock.now + 3600)}"]
        assert json.loads(state_file.read_text())["jobs"][job.id]["next_run"] == clock.now + 3600

    def test_add_cron_job_gets_the_next_local_time(self, state_file, clock):
        clock.now = datetime(2025, 3, 10, 7, 30).timestamp()
        job = Scheduler(storage_path=state_file).add_job(ScheduledJob(schedule="0 6 * * *"))
        assert job.next_run == datetime(2025, 3, 11, 6, 0).timestamp()

    def test_invalid_cron_and_unschedulable_jobs_get_zero(self, state_file, caplog):
        caplog.set_level(logging.INFO, LOGGER)
        scheduler = Scheduler(storage_path=state_file)
        bad = scheduler.add_job(ScheduledJob(schedule="61 * *"))
        once = scheduler.add_job(ScheduledJob(job_type=JobType.ONCE, name="later"))
        idle = scheduler.add_job(interval_job(interval_seconds=0))
        assert (bad.next_run, once.next_run, idle.next_run) == (0, 0, 0)
        assert type(bad.next_run) is int
        assert messages(caplog, logging.ERROR) == [
            f"Invalid cron expression for job {bad.id}: Cron expression must have 5 fields "
            "(min hour dom month dow), got 3: '61 * *'"]
        assert messages(caplog)[1].endswith("next run: Never")
        with pytest.raises(TypeError):
            scheduler.add_job(ScheduledJob(schedule=None))

    def test_interval_after_a_run_counts_from_the_last_run(self, state_file):
        job = Scheduler(storage_path=state_file).add_job(interval_job(last_run=100.0))
        assert job.next_run == 3700.0

    def test_update_job(self, state_file, clock):
        scheduler = Scheduler(storage_path=state_file)
        job = scheduler.add_job(interval_job())
        scheduled = job.next_run
        clock.advance(10)
        assert scheduler.update_job(job.id, {"name": "renamed", "foo": 1, "to_dict": None}) is job
        assert (job.name, job.next_run, job.to_dict()["name"]) == ("renamed", scheduled, "renamed")
        scheduler.update_job(job.id, {"interval_seconds": 60})
        assert job.next_run == clock.now + 60
        scheduler.update_job(job.id, {"state": "paused", "job_type": "once"})
        assert (job.state, job.job_type) == (JobState.PAUSED, JobType.ONCE)
        assert scheduler.list_jobs()[0]["state"] == "paused"
        with pytest.raises(ValueError):
            scheduler.update_job(job.id, {"name": "lost", "state": "sleeping"})
        assert job.name == "renamed"
        assert scheduler.update_job("missing", {"name": "x"}) is None
        with pytest.raises(TypeError, match="Argument 'updates' has incorrect type"):
            scheduler.update_job(job.id, [("name", "x")])

    def test_update_job_rejects_values_of_the_wrong_type(self, state_file):
        scheduler = Scheduler(storage_path=state_file)
        job = scheduler.add_job(interval_job())
        before = job.to_dict()
        for updates, message in [
            ({"name": "lost", "next_run": "x"}, "Field 'next_run' has incorrect type (expected float, got str)"),
            ({"interval_seconds": None}, "Field 'interval_seconds' has incorrect type (expected int, got NoneType)"),
            ({"max_runs": True}, "Field 'max_runs' has incorrect type (expected int, got bool)"),
            ({"prompt": ["x"]}, "Field 'prompt' has incorrect type (expected str, got list)"),
            ({"state": 1}, "Field 'state' has incorrect type (expected JobState, got int)"),
        ]:
            with pytest.raises(TypeError, match=re.escape(message)):
                scheduler.update_job(job.id, updates)
        assert job.to_dict() == before
        scheduler.update_job(job.id, {"next_run": 7, "model_key": None, "max_runs": 2.0, "spawn_worker": 0})
        assert (job.next_run, job.max_runs, job.spawn_worker) == (7, 2.0, 0)

    def test_remove_pause_resume(self, state_file, caplog):
        caplog.set_level(logging.INFO, LOGGER)
        scheduler = Scheduler(storage_path=state_file)
        assert scheduler.remove_job("missing") is False
        assert not state_file.exists()
        job = scheduler.add_job(interval_job(state=JobState.COMPLETED, run_count=4))
        assert scheduler.pause_job(job.id) and job.state is JobState.PAUSED
        job.next_run = 0
        assert scheduler.resume_job(job.id) and job.state is JobState.ACTIVE
        assert job.next_run != 0 and job.run_count == 4
        assert not scheduler.pause_job("missing") and not scheduler.resume_job("missing")
        assert scheduler.get_job(job.id) is job and scheduler.get_job("missing") is None
        assert scheduler.remove_job(job.id) is True
        assert messages(caplog)[-1] == f"Job removed: {job.id}"
        assert json.loads(state_file.read_text())["jobs"] == {}
        with pytest.raises(TypeError, match=r"Argument 'job_id' has incorrect type \(expected str, got int\)"):
            scheduler.get_job(1)

    def test_list_jobs_orders_by_next_run_with_unscheduled_last(self, state_file):
        scheduler = Scheduler(storage_path=state_file)
        for name, next_run in [("never", 0), ("late", 300.0), ("early", 100.0), ("also never", 0), ("tie", 100.0)]:
            scheduler.add_job(ScheduledJob(name=name, job_type=JobType.ONCE, next_run=next_run))
        assert [form["name"] for form in scheduler.list_jobs()] == ["early", "tie", "late", "never", "also never"]

    def test_list_jobs_orders_any_numbers(self, state_file):
        scheduler = Scheduler(storage_path=state_file)
        for name, next_run in [("never", 0), ("huge", 10 ** 400), ("early", 100.0), ("big", 2 ** 70)]:
            scheduler.add_job(ScheduledJob(name=name, job_type=JobType.ONCE, next_run=next_run))
        assert [form["name"] for form in scheduler.list_jobs()] == ["early", "big", "huge", "never"]
        assert scheduler.list_jobs()[1]["next_run_human"] == "Invalid"

    def test_stats(self, state_file):
        scheduler = Scheduler(storage_path=state_file)
        scheduler.add_job(interval_job(run_count=2))
        paused = scheduler.add_job(interval_job(run_count=3))
        scheduler.pause_job(paused.id)
        scheduler._executions.append(JobExecution("x", "y", 1.0))
        assert scheduler.stats() == {"running": False, "total_jobs": 2, "active_jobs": 1, "paused_jobs": 1,
                                     "total_executions": 5, "recent_executions": 1}

    def test_list_executions(self, state_file):
        scheduler = Scheduler(storage_path=state_file)
        scheduler._executions.extend(JobExecution("a" if n % 2 else "b", "n", float(n + 1)) for n in range(60))
        started = lambda forms: [form["started_at"] for form in forms]  # noqa: E731
        assert started(scheduler.list_executions()) == [float(n) for n in range(11, 61)]
        assert len(scheduler.list_executions(limit=0)) == 60
        assert len(scheduler.list_executions(job_id="")) == 50
        assert started(scheduler.list_executions(limit=2.9, job_id="a")) == [58.0, 60.0]
        assert started(scheduler.list_executions(limit=-57)) == [58.0, 59.0, 60.0]
        assert scheduler.list_executions(limit=5, job_id="zzz") == []
        with pytest.raises(TypeError, match="Argument 'job_id' has incorrect type"):
            scheduler.list_executions(job_id=5)


class TestStateFile:
    def test_exact_text(self, state_file, monkeypatch):
        scheduler = Scheduler(storage_path=state_file)
        job = ScheduledJob(id="abc", name="Caf\u00e9 \U0001f600", job_type=JobType.ONCE, created_at=1.5)
        scheduler._jobs["abc"] = job
        job.next_run = 0
        monkeypatch.setattr("nebrix.core.scheduler._format_timestamp", lambda ts: "unused")
        scheduler._executions.append(JobExecution("abc", "n", 0.0, success=True, result="Completed"))
        scheduler._save()
        started_human = _format_timestamp(0.0)
        assert state_file.read_text() == (
            '{\n  "jobs": {\n    "abc": {\n      "id": "abc",\n      "name": "Caf\\u00e9 \\ud83d\\ude00",\n'
            '      "description": "",\n      "job_type": "once",\n      "schedule": "",\n'
            '      "interval_seconds": 0,\n      "prompt": "",\n      "model_key": null,\n'
            '      "spawn_worker": true,\n      "state": "active",\n      "created_at": 1.5,\n'
            '      "last_run": 0.0,\n      "next_run": 0,\n      "run_count": 0,\n      "max_runs": 0,\n'
            '      "next_run_human": "Not scheduled",\n      "last_run_human": "Never"\n    }\n  },\n'
            '  "executions": [\n    {\n      "job_id": "abc",\n      "job_name": "n",\n'
            '      "started_at": 0.0,\n'
            f'      "started_at_human": "{started_human}",\n'
            '      "completed_at": 0.0,\n      "duration": 0.0,\n      "success": true,\n'
            '      "result": "Completed",\n      "error": "",\n      "model_used": "",\n      "worker_id": ""\n'
            '    }\n  ]\n}')

    def test_empty_state(self, state_file):
        Scheduler(storage_path=state_file)._save()
        assert json.loads(state_file.read_text()) == {"jobs": {}, "executions": []}

    def test_restart_restores_jobs_with_their_stored_next_run(self, state_file, clock, caplog):
        caplog.set_level(logging.INFO, LOGGER)
        first = Scheduler(storage_path=state_file)
        job = first.add_job(interval_job(prompt="p" * 400, metadata={"chat": 1}))
        clock.advance(1000)
        second = Scheduler(storage_path=str(state_file))
        restored = second.get_job(job.id)
        assert restored.next_run == job.next_run
        assert restored.prompt == "p" * 400  # the file keeps the whole prompt
        assert restored.metadata == {}
        assert messages(caplog)[-1] == "Loaded 1 scheduled jobs"
        assert list(state_file.parent.iterdir()) == [state_file]  # no temporary file left

    def test_default_location_comes_from_the_host(self, tmp_path, monkeypatch):
        monkeypatch.setattr("nebrix.config.nebrix_dir", lambda: tmp_path / "home")
        scheduler = Scheduler()
        assert scheduler._storage_path == tmp_path / "home" / "scheduler.json"
        scheduler._save()
        assert (tmp_path / "home" / "scheduler.json").exists()

    def test_save_failure_is_logged_and_the_operation_succeeds(self, tmp_path, caplog):
        (tmp_path / "blocker").write_text("")
        scheduler = Scheduler(storage_path=tmp_path / "blocker" / "scheduler.json")
        job = scheduler.add_job(interval_job())
        assert scheduler.get_job(job.id) is job
        assert [m.split(":")[0] for m in messages(caplog, logging.ERROR)] == ["Failed to save scheduler state"]

    def test_unreadable_file_starts_empty_and_is_kept_aside(self, state_file, caplog):
        state_file.parent.mkdir()
        state_file.write_text("[1, 2]")
        scheduler = Scheduler(storage_path=state_file)
        assert scheduler._jobs == {}
        assert messages(caplog, logging.ERROR) == [
            "Failed to load scheduler state: 'list' object has no attribute 'get'"]
        assert (state_file.parent / "scheduler.json.bad").read_text() == "[1, 2]"
        state_file.write_text("{not json")
        Scheduler(storage_path=state_file)
        assert (state_file.parent / "scheduler.json.bad.1").read_text() == "{not json"

    def test_a_bad_record_costs_only_itself(self, state_file, caplog):
        state_file.parent.mkdir()
        good = [ScheduledJob(id=f"good{n}", name=str(n)).to_dict() for n in range(2)]
        text = json.dumps({"jobs": {"good0": good[0], "bad": {"job_type": "weekly"}, "worse": 7,
                                    "good1": good[1]}})
        state_file.write_text(text)
        scheduler = Scheduler(storage_path=state_file)
        assert list(scheduler._jobs) == ["good0", "good1"]
        assert messages(caplog, logging.ERROR) == [
            "Failed to load scheduler state: job bad: 'weekly' is not a valid JobType",
            "Failed to load scheduler state: job worse: "
            "Argument 'data' has incorrect type (expected dict, got int)"]
        assert (state_file.parent / "scheduler.json.bad").read_text() == text
        assert not state_file.with_name("scheduler.json.bad.1").exists()


class TestLoop:
    def test_due_job_fires_at_the_first_pass_with_events(self, state_file, clock, passes):
        events, fired = [], []

        async def on_fire(job):
            fired.append((job.next_run, clock.now))
            clock.advance(2.5)
            return "done"

        async def on_event(event):
            events.append(event)

        async def scenario():
            scheduler = Scheduler(on_fire=on_fire, on_event=on_event, storage_path=state_file)
            job = scheduler.add_job(interval_job(last_run=clock.now - 7200))  # due an hour ago
            await scheduler.start()
            await scheduler.start()
            assert scheduler._task.get_name() == "scheduler" and scheduler.running
            await passes.reached(1)
            await scheduler.stop()
            assert not scheduler.running and passes.waits == [30.0]
            return scheduler, job

        started = clock.now
        scheduler, job = run(scenario())
        assert fired == [(started + 3600, started)]
        assert [event["type"] for event in events] == ["scheduler_job_fired", "scheduler_job_completed"]
        assert events[0]["job"]["id"] == job.id and events[0]["job"]["run_count"] == 0
        execution = events[1]["execution"]
        assert (execution["success"], execution["result"], execution["duration"]) == (True, "done", 2.5)
        assert (job.run_count, job.last_run, job.next_run) == (1, started, started + 3600)
        assert json.loads(state_file.read_text())["executions"] == [execution]

    def test_once_job_fires_once_and_completes_even_when_failing(self, state_file, clock, passes, caplog):
        calls = []

        async def on_fire(job):
            calls.append(job.next_run)
            raise RuntimeError("boom")

        async def scenario():
            scheduler = Scheduler(on_fire=on_fire, storage_path=state_file)
            job = scheduler.add_job(ScheduledJob(job_type=JobType.ONCE, next_run=clock.now - 1))
            await scheduler.start()
            await passes.reached(1)
            clock.advance(60)
            await passes.next()
            await scheduler.stop()
            return scheduler, job

        scheduler, job = run(scenario())
        assert calls == [0]
        assert (job.state, job.next_run, job.run_count) == (JobState.COMPLETED, 0, 1)
        [execution] = scheduler.list_executions()
        assert (execution["success"], execution["error"], execution["result"]) == (False, "boom", "")
        [failure] = [r for r in caplog.records if r.levelno == logging.ERROR and r.name == LOGGER]
        assert failure.getMessage() == f"Job {job.id} failed: boom" and failure.exc_info[0] is RuntimeError

    def test_max_runs_and_rescheduling_after_a_failure(self, state_file, clock, passes):
        seen = []

        async def on_fire(job):
            seen.append(job.next_run)
            if len(seen) == 1:
                raise ValueError("first fails")
            return ""

        async def scenario():
            scheduler = Scheduler(on_fire=on_fire, storage_path=state_file)
            job = scheduler.add_job(interval_job(interval_seconds=60, max_runs=3, next_run=clock.now))
            await scheduler.start()
            await passes.reached(1)
            for _ in range(4):
                clock.advance(60)
                await passes.next()
            await scheduler.stop()
            return scheduler, job

        start = clock.now
        scheduler, job = run(scenario())
        assert seen == [start + 120, start + 180, 0]
        assert (job.run_count, job.state, job.next_run) == (3, JobState.COMPLETED, 0)
        assert [(e["success"], e["result"]) for e in scheduler.list_executions()] == [
            (False, ""), (True, "Completed"), (True, "Completed")]

    def test_a_long_interval_firing_is_not_started_again(self, state_file, clock, passes, caplog):
        release, starts = None, []

        async def on_fire(job):
            starts.append(clock.now)
            await release.wait()
            return "slow"

        async def scenario():
            nonlocal release
            release = asyncio.Event()
            scheduler = Scheduler(on_fire=on_fire, storage_path=state_file)
            job = scheduler.add_job(interval_job(interval_seconds=60, last_run=clock.now - 60))
            await scheduler.start()
            await passes.reached(1)
            clock.advance(30)
            await passes.next()
            assert (len(starts), job.next_run) == (1, starts[0] + 60)
            clock.advance(30)
            await passes.next()  # due again while the first firing runs: skipped
            assert (len(starts), job.next_run) == (1, starts[0] + 120)
            release.set()
            await passes.reached(len(passes.waits))
            assert job.next_run == starts[0] + 120  # the late end does not move it back
            clock.advance(60)
            await passes.next()
            await scheduler.stop()
            return job

        job = run(scenario())
        assert len(starts) == 2 and starts[1] - starts[0] == 120
        assert job.run_count == 2
        [skipped] = [r.getMessage() for r in caplog.records if r.levelno == logging.WARNING]
        assert skipped.startswith(f"Job tick ({job.id}) is still running: skipped the run due at ")

    def test_paused_and_unscheduled_jobs_do_not_fire(self, state_file, clock, passes):
        async def scenario():
            fired = []

            async def on_fire(job):
                fired.append(job.name)
                return "x"

            scheduler = Scheduler(on_fire=on_fire, storage_path=state_file)
            paused = scheduler.add_job(interval_job(name="paused", last_run=1.0))
            scheduler.pause_job(paused.id)
            scheduler.add_job(ScheduledJob(name="once", job_type=JobType.ONCE))
            disabled = scheduler.add_job(interval_job(name="disabled", last_run=1.0, state=JobState.DISABLED))
            assert disabled.next_run == 3601.0
            await scheduler.start()
            await passes.reached(1)
            await scheduler.stop()
            return fired

        assert run(scenario()) == []

    def test_a_next_run_of_nan_never_fires(self, state_file, clock, passes):
        fired = []

        async def on_fire(job):
            fired.append(job.id)
            return "x"

        async def scenario():
            scheduler = Scheduler(on_fire=on_fire, storage_path=state_file)
            job = scheduler.add_job(interval_job())
            scheduler.update_job(job.id, {"next_run": math.nan})
            await scheduler.start()
            await passes.reached(1)
            clock.advance(7200)
            await passes.next()
            await scheduler.stop()

        run(scenario())
        assert fired == []

    def test_a_failing_pass_ends_the_loop_with_a_log_line(self, state_file, clock, passes, caplog):
        async def scenario():
            scheduler = Scheduler(storage_path=state_file)
            job = scheduler.add_job(interval_job(last_run=1.0))
            job.interval_seconds = "60"  # assigned past update_job's checks
            await scheduler.start()
            await passes.reached(0)
            with pytest.raises(TypeError):
                await scheduler._task
            assert not scheduler.running
            job.interval_seconds = 60
            await scheduler.start()
            await passes.reached(1)
            assert scheduler.running
            await scheduler.stop()
            return job

        job = run(scenario())
        [failure] = [r for r in caplog.records if r.levelno == logging.ERROR and r.name == LOGGER]
        assert failure.getMessage().startswith(f"Scheduler loop failed at job {job.id}: ")
        assert failure.exc_info[0] is TypeError
        assert job.run_count == 1

    def test_fire_without_callbacks_and_odd_results(self, state_file):
        async def scenario():
            scheduler = Scheduler(storage_path=state_file)
            job = scheduler.add_job(interval_job())
            await scheduler._fire_job(job)

            async def returns_number(job):
                return 42

            scheduler._on_fire = returns_number
            await scheduler._fire_job(job)
            return scheduler

        scheduler = run(scenario())
        assert [e["result"] for e in scheduler.list_executions()] == ["Completed", "42"]

    def test_a_failing_fired_event_ends_the_firing_unrecorded(self, state_file):
        async def on_event(event):
            raise RuntimeError("host busy")

        async def scenario():
            scheduler = Scheduler(on_event=on_event, storage_path=state_file)
            job = scheduler.add_job(interval_job())
            with pytest.raises(RuntimeError, match="host busy"):
                await scheduler._fire_job(job)
            return scheduler, job

        scheduler, job = run(scenario())
        assert (scheduler._executions, job.run_count, job.last_run) == ([], 0, 0.0)

    def test_history_cap(self, state_file):
        async def scenario():
            scheduler = Scheduler(storage_path=state_file)
            job = scheduler.add_job(interval_job())
            scheduler._save = lambda: None  # reached through the attribute, as the host may patch it
            for _ in range(501):
                await scheduler._fire_job(job)
            return scheduler

        scheduler = run(scenario())
        assert len(scheduler._executions) == 250 and len(scheduler.list_executions(limit=0)) == 250
        del scheduler._save
        scheduler._save()
        saved = json.loads(state_file.read_text())["executions"]
        assert saved == [e.to_dict() for e in scheduler._executions[-100:]]

    def test_stop_without_start_and_stop_is_prompt(self, state_file, caplog):
        caplog.set_level(logging.DEBUG, LOGGER)

        async def scenario():
            scheduler = Scheduler(storage_path=state_file)
            await scheduler.stop()
            assert messages(caplog) == ["Scheduler stopped"]
            await scheduler.start()
            await asyncio.sleep(0.01)
            await asyncio.wait_for(scheduler.stop(), 5)  # the real 30-second wait is cut short
            assert scheduler._task is None and scheduler._stop_event.is_set()
            await scheduler.start()
            assert scheduler.running
            await asyncio.sleep(0.01)
            scheduler._task.cancel()
            await scheduler._task  # the loop ends normally
            assert not scheduler.running

        run(scenario())
        # stop() may end the loop through its event (3.11's wait_for) or its cancellation.
        assert set(messages(caplog, logging.DEBUG)) == {"Scheduler loop cancelled"}
        assert messages(caplog)[1] == "Scheduler started with 0 jobs"
