"""A save interrupted by the death of the process leaves a whole state file."""

import json
import os
import random
import subprocess
import sys
import textwrap
import time

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
