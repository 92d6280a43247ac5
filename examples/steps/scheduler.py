"""The scheduler: a one-shot job that is already due fires at the loop's first pass;
the host hears the "fired" and "completed" events, and the state file keeps the job."""

import asyncio
import json
import time

TITLE = "Scheduler (jobs fired on the event loop)"


async def run(demo) -> None:
    from nebrix.core.scheduler import CronExpression, JobType, ScheduledJob, Scheduler

    completed = asyncio.Event()

    async def on_fire(job):
        return f"The agent handled: {job.prompt}"

    async def on_event(event):
        demo.show(event["type"], event.get("job") or event.get("execution"))
        if event["type"] == "scheduler_job_completed":
            completed.set()

    demo.show("next weekday 07:00", str(CronExpression("0 7 * * 1-5").next_occurrence()))
    scheduler = Scheduler(on_fire=on_fire, on_event=on_event, storage_path=demo.workdir / "scheduler.json")
    scheduler.add_job(ScheduledJob(name="Morning brief", schedule="0 7 * * 1-5", prompt="Summarise my calendar."))
    scheduler.add_job(ScheduledJob(name="Reminder", job_type=JobType.ONCE, next_run=time.time() - 1,
                                   prompt="Remind me to stretch."))
    await scheduler.start()
    await asyncio.wait_for(completed.wait(), 10)
    await scheduler.stop()
    demo.show("stats", scheduler.stats())
    demo.show("state file", str(scheduler._storage_path))
    stored = json.loads(scheduler._storage_path.read_text())
    demo.show("stored jobs", {job["name"]: job["state"] for job in stored["jobs"].values()})
