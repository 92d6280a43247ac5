// The Scheduler service: the job table, its persistence, the 30-second loop and the
// firings. The Scheduler is a plain Python class whose methods are these functions;
// its state lives in instance attributes (_jobs, _executions, _task, ...), and the
// methods reach one another and the host's callbacks through those attributes at each
// use, so a host may replace any of them.
#pragma once

#include "support/coroutine.hpp"
#include "support/python.hpp"

namespace scheduler {

void initialize(py::object self, py::object on_fire, py::object on_event, py::object storage_path);
bool is_running(py::object self);

py::object add_job(py::object self, py::object job);
py::object update_job(py::object self, py::object job_id, py::object updates);
bool remove_job(py::object self, py::object job_id);
bool pause_job(py::object self, py::object job_id);
bool resume_job(py::object self, py::object job_id);
py::object get_job(py::object self, py::object job_id);
py::list list_jobs(py::object self);
py::list list_executions(py::object self, py::object limit, py::object job_id);
py::dict stats(py::object self);
py::object calc_next_run(py::object self, py::object job);

support::Coroutine start(py::object self);
support::Coroutine stop(py::object self);
support::Coroutine run_loop(py::object self);
support::Coroutine fire_job(py::object self, py::object job);

}  // namespace scheduler
