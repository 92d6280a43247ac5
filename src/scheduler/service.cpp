#include "scheduler/service.hpp"

#include "scheduler/cron_expression.hpp"
#include "scheduler/jobs.hpp"
#include "scheduler/local_time.hpp"
#include "scheduler/scheduler.hpp"
#include "support/args.hpp"
#include "support/errors.hpp"

#include <utility>
#include <vector>

namespace scheduler {

namespace {

using namespace pybind11::literals;
namespace args = support::args;

constexpr double kLoopPeriod = 30.0;
constexpr Py_ssize_t kHistoryLimit = 500;
constexpr Py_ssize_t kHistoryKept = 250;

// Python's `a == b`.
bool equals(py::handle a, py::handle b) {
  return py::reinterpret_borrow<py::object>(a).equal(py::reinterpret_borrow<py::object>(b));
}

py::object job_state(const char* member) { return module_attr("JobState").attr(member); }
py::object job_type(const char* member) { return module_attr("JobType").attr(member); }

// Whether the job's run number `runs` is its last: it reaches max_runs, or the job runs once.
bool is_final_run(const py::object& job, const py::object& runs) {
  const py::object max_runs = job.attr("max_runs");
  return (max_runs > py::int_(0) && runs >= max_runs) || equals(job.attr("job_type"), job_type("ONCE"));
}

// The next run the loop gives a job as it starts firing it, so that later passes do
// not start it again while the firing runs.
py::object next_run_before_firing(const py::object& self, const py::object& job,
                                  const py::object& pass_time) {
  if (is_final_run(job, py::object(job.attr("run_count")) + py::int_(1))) {
    return py::int_(0);
  }
  if (equals(job.attr("job_type"), job_type("INTERVAL"))) {
    const py::object interval = job.attr("interval_seconds");
    return interval > py::int_(0) ? pass_time + interval : py::int_(0);
  }
  return self.attr("_calc_next_run")(job);
}

// time.time() is the clock: a jump forward is time passing (a suspend, or a test), but
// one backwards is the clock set back, and interval jobs' next runs move back with it
// (cron jobs keep theirs, so no slot fires twice).
void follow_clock_set_back(const py::object& self, const py::list& jobs, const py::object& pass_time) {
  const py::object last_pass = self.attr("_last_pass");
  self.attr("_last_pass") = pass_time;
  if (last_pass.is_none() || !(pass_time < last_pass)) {
    return;
  }
  const py::object step = last_pass - pass_time;
  kLog.info([&] { return py::str("Clock set back by {} seconds").format(step); });
  const py::object interval = job_type("INTERVAL");
  for (py::handle job : jobs) {
    const py::object next_run = job.attr("next_run");
    if (equals(job.attr("job_type"), interval) && args::to_bool(next_run)) {
      job.attr("next_run") = next_run - step;
    }
  }
}

// One pass of the loop: starts a firing task for every active job that is due. `job_id`
// names the job being looked at, for the log line should the pass fail.
void fire_due_jobs(const py::object& self, py::object& job_id) {
  const py::object pass_time = current_time();
  const py::module_ asyncio = support::import("asyncio");
  const py::object active = job_state("ACTIVE");
  const py::list jobs(self.attr("_jobs").attr("values")());
  follow_clock_set_back(self, jobs, pass_time);
  for (py::handle entry : jobs) {
    const py::object job = py::reinterpret_borrow<py::object>(entry);
    job_id = job.attr("id");
    const py::object next_run = job.attr("next_run");
    // Not `pass_time < next_run`: a next run of NaN is never reached.
    if (!equals(job.attr("state"), active) || !args::to_bool(next_run) || !(pass_time >= next_run)) {
      continue;
    }
    job.attr("next_run") = next_run_before_firing(self, job, pass_time);
    // One firing of a job at a time: a run that falls due while the last one still runs
    // is skipped.
    const py::dict firing = self.attr("_firing");
    if (firing.contains(job_id)) {
      kLog.warning([&] {
        return py::str("Job {} ({}) is still running: skipped the run due at {}")
            .format(job.attr("name"), job_id, format_timestamp(next_run));
      });
      continue;
    }
    const py::object task =
        asyncio.attr("create_task")(self.attr("_fire_job")(job), "name"_a = py::str("job-{}").format(job_id));
    // The event loop holds tasks only weakly; the table keeps a firing alive until it ends.
    firing[job_id] = task;
    task.attr("add_done_callback")(py::cpp_function([firing, job_id](py::handle done) {
      if (firing.attr("get")(job_id).is(done)) {
        firing.attr("__delitem__")(job_id);
      }
    }));
  }
}

// Firings that end together share one save: the first one schedules it for the loop's
// next turn, and each awaits it before its "completed" event.
py::object shared_save(const py::object& self) {
  const py::module_ asyncio = support::import("asyncio");
  py::object pending = self.attr("_pending_save");
  if (pending.is_none()) {
    const py::object loop = asyncio.attr("get_running_loop")();
    pending = loop.attr("create_future")();
    self.attr("_pending_save") = pending;
    loop.attr("call_soon")(py::cpp_function([self, pending] {
      self.attr("_pending_save") = py::none();
      try {
        self.attr("_save")();
      } catch (py::error_already_set& error) {
        pending.attr("set_exception")(error.value());
        return;
      }
      pending.attr("set_result")(py::none());
    }));
  }
  return asyncio.attr("shield")(pending);
}

// Pauses or resumes (with a new next run) job `job_id`; false when there is none.
bool set_active(const py::object& self, const py::object& job_id, bool active) {
  const py::object job = get_job(self, job_id);
  if (job.is_none()) {
    return false;
  }
  job.attr("state") = job_state(active ? "ACTIVE" : "PAUSED");
  if (active) {
    job.attr("next_run") = self.attr("_calc_next_run")(job);
  }
  self.attr("_save")();
  return true;
}

// The job's fields after a firing: runs, last run, state and next run.
void finish_firing(const py::object& self, const py::object& job, const py::object& execution) {
  job.attr("last_run") = execution.attr("started_at");
  job.attr("run_count") = py::object(job.attr("run_count")) + py::int_(1);
  if (is_final_run(job, job.attr("run_count"))) {
    job.attr("state") = job_state("COMPLETED");
    job.attr("next_run") = py::int_(0);
  } else {
    // Never backwards: the loop may have moved the next run on while this firing ran.
    const py::object next_run = self.attr("_calc_next_run")(job);
    const py::object current = job.attr("next_run");
    if (!args::to_bool(current) || !args::to_bool(next_run) || !(next_run < current)) {
      job.attr("next_run") = next_run;
    }
  }
}

void record(const py::object& self, const py::object& execution) {
  py::list history = self.attr("_executions");
  history.append(execution);
  if (static_cast<Py_ssize_t>(history.size()) > kHistoryLimit) {
    history.attr("__delitem__")(py::slice(py::none(), py::int_(-kHistoryKept), py::none()));
  }
}

}  // namespace

void initialize(py::object self, py::object on_fire, py::object on_event, py::object storage_path) {
  self.attr("_on_fire") = on_fire;
  self.attr("_on_event") = on_event;
  const py::module_ pathlib = support::import("pathlib");
  if (!args::to_bool(storage_path)) {
    storage_path =
        support::import("nebrix.config").attr("nebrix_dir")().attr("__truediv__")("scheduler.json");
  } else if (!py::isinstance(storage_path, pathlib.attr("PurePath"))) {
    storage_path = pathlib.attr("Path")(storage_path);
  }
  self.attr("_storage_path") = storage_path;
  self.attr("_jobs") = py::dict();
  self.attr("_executions") = py::list();
  self.attr("_task") = py::none();
  self.attr("_stop_event") = support::import("asyncio").attr("Event")();
  self.attr("_firing") = py::dict();  // job id to the task firing it
  self.attr("_pending_save") = py::none();
  self.attr("_last_pass") = py::none();  // time.time() at the loop's last pass
  self.attr("_unsaved") = false;         // a save failed: the loop and stop() try again
  self.attr("_save_failure") = py::none();
  self.attr("_load")();
}

bool is_running(py::object self) {
  const py::object task = self.attr("_task");
  return !task.is_none() && !args::to_bool(task.attr("done")());
}

py::object calc_next_run(py::object /*self*/, py::object job) {
  const py::object now_seconds = current_time();
  const py::object type = job.attr("job_type");
  if (type.equal(job_type("CRON"))) {
    const auto invalid = [&job](const py::handle& error) {
      kLog.error(
          [&] { return py::str("Invalid cron expression for job {}: {}").format(job.attr("id"), error); });
      return py::int_(0);
    };
    try {
      const CronExpression expression(job.attr("schedule"));
      const auto next =
          next_local_match(expression.fields(), args::to_real(now_seconds, "time"), kSearchMinutes);
      return next ? py::object(py::float_(static_cast<double>(*next)))
                  : py::object(invalid(expression.not_found_message()));
    } catch (py::error_already_set& error) {
      if (!error.matches(PyExc_ValueError)) {
        throw;
      }
      return invalid(support::exception_text(error.value()));
    }
  }
  if (type.equal(job_type("INTERVAL"))) {
    const py::object interval = job.attr("interval_seconds");
    if (interval <= py::int_(0)) {
      return py::int_(0);
    }
    const py::object last_run = job.attr("last_run");
    return args::to_bool(last_run) ? last_run + interval : now_seconds + interval;
  }
  if (type.equal(job_type("ONCE"))) {
    const py::object next_run = job.attr("next_run");
    return args::to_bool(next_run) ? next_run : py::int_(0);
  }
  return py::int_(0);
}

py::object add_job(py::object self, py::object job) {
  job.attr("next_run") = self.attr("_calc_next_run")(job);
  self.attr("_jobs")[job.attr("id")] = job;
  self.attr("_save")();
  kLog.info([&] {
    return py::str("Job added: {} ({}) \u2014 next run: {}")
        .format(job.attr("name"), job.attr("id"), format_timestamp(job.attr("next_run")));
  });
  return job;
}

py::object update_job(py::object self, py::object job_id, py::object updates) {
  const py::str key = args::to_str(job_id, "job_id");
  const py::dict changes = args::to_dict(updates, "updates");
  const py::object job = self.attr("_jobs").attr("get")(key);
  if (job.is_none()) {
    return py::none();
  }
  // Every value is converted before any is assigned: a bad one changes nothing.
  const py::list fields = field_names(job);
  std::vector<std::pair<py::object, py::object>> assignments;
  for (auto [name, value] : changes) {
    if (fields.contains(name)) {
      py::object assigned = job_field_value(name, py::reinterpret_borrow<py::object>(value));
      check_job_field(name, assigned);
      assignments.emplace_back(py::reinterpret_borrow<py::object>(name), std::move(assigned));
    }
  }
  for (const auto& [name, value] : assignments) {
    py::setattr(job, name, value);
  }
  if (changes.contains("schedule") || changes.contains("interval_seconds")) {
    job.attr("next_run") = self.attr("_calc_next_run")(job);
  }
  self.attr("_save")();
  return job;
}

bool remove_job(py::object self, py::object job_id) {
  const py::str key = args::to_str(job_id, "job_id");
  const py::dict jobs = self.attr("_jobs");
  if (!jobs.contains(key)) {
    return false;
  }
  jobs.attr("__delitem__")(key);
  self.attr("_save")();
  kLog.info([&] { return py::str("Job removed: {}").format(key); });
  return true;
}

py::object get_job(py::object self, py::object job_id) {
  return self.attr("_jobs").attr("get")(args::to_str(job_id, "job_id"));
}

bool pause_job(py::object self, py::object job_id) { return set_active(self, job_id, false); }

bool resume_job(py::object self, py::object job_id) { return set_active(self, job_id, true); }

py::list list_jobs(py::object self) {
  // Python's own ordering of the next runs (any numbers), unscheduled jobs last; the
  // sort is stable, so ties keep table order.
  const py::object jobs = py::list(self.attr("_jobs").attr("values")());
  const py::object order = py::cpp_function([](py::handle job) {
    const py::object next_run = job.attr("next_run");
    const bool scheduled = args::to_bool(next_run);
    return py::make_tuple(!scheduled, scheduled ? next_run : py::int_(0));
  });
  py::list forms;
  for (py::handle job :
       py::reinterpret_borrow<py::dict>(PyEval_GetBuiltins())["sorted"](jobs, "key"_a = order)) {
    forms.append(job.attr("to_dict")());
  }
  return forms;
}

py::list list_executions(py::object self, py::object limit, py::object job_id) {
  const py::int_ count = args::to_int(limit, "limit");
  const py::object wanted = args::to_optional_str(job_id, "job_id");
  py::list records;
  for (py::handle execution : self.attr("_executions")) {
    if (!args::to_bool(wanted) || equals(execution.attr("job_id"), wanted)) {
      records.append(execution);
    }
  }
  // The last `limit` records; 0 takes all, and -n drops the first n.
  py::list forms;
  for (py::handle execution : records[py::slice(-count, py::none(), py::none())]) {
    forms.append(execution.attr("to_dict")());
  }
  return forms;
}

py::dict stats(py::object self) {
  const py::dict jobs = self.attr("_jobs");
  const py::object active = job_state("ACTIVE");
  const py::object paused = job_state("PAUSED");
  Py_ssize_t active_jobs = 0;
  Py_ssize_t paused_jobs = 0;
  py::object total_executions = py::int_(0);
  for (auto [key, job] : jobs) {
    const py::object state = job.attr("state");
    active_jobs += equals(state, active);
    paused_jobs += equals(state, paused);
    total_executions = total_executions + py::object(job.attr("run_count"));
  }
  return py::dict("running"_a = is_running(self), "total_jobs"_a = py::len(jobs),
                  "active_jobs"_a = active_jobs, "paused_jobs"_a = paused_jobs,
                  "total_executions"_a = total_executions,
                  "recent_executions"_a = py::len(self.attr("_executions")));
}

support::Coroutine start(py::object self) {
  if (is_running(self)) {
    co_return py::none();
  }
  self.attr("_stop_event").attr("clear")();
  self.attr("_task") =
      support::import("asyncio").attr("create_task")(self.attr("_loop")(), "name"_a = "scheduler");
  kLog.info([&] { return py::str("Scheduler started with {} jobs").format(py::len(self.attr("_jobs"))); });
  co_return py::none();
}

support::Coroutine stop(py::object self) {
  self.attr("_stop_event").attr("set")();
  const py::object task = self.attr("_task");
  if (!task.is_none() && !args::to_bool(task.attr("done")())) {
    task.attr("cancel")();
    try {
      co_await task;
    } catch (py::error_already_set& error) {
      if (!error.matches(support::import("asyncio").attr("CancelledError"))) {
        throw;
      }
    }
  }
  self.attr("_task") = py::none();
  if (args::to_bool(self.attr("_unsaved"))) {
    self.attr("_save")();
  }
  kLog.info([] { return std::string("Scheduler stopped"); });
  co_return py::none();
}

support::Coroutine run_loop(py::object self) {
  py::object job_id;
  try {
    while (!args::to_bool(self.attr("_stop_event").attr("is_set")())) {
      if (args::to_bool(self.attr("_unsaved"))) {
        self.attr("_save")();
      }
      fire_due_jobs(self, job_id);
      job_id = py::object();
      const py::module_ asyncio = support::import("asyncio");
      try {
        co_await asyncio.attr("wait_for")(self.attr("_stop_event").attr("wait")(), kLoopPeriod);
        break;
      } catch (py::error_already_set& error) {
        if (!error.matches(asyncio.attr("TimeoutError"))) {
          throw;
        }
      }
    }
  } catch (py::error_already_set& error) {
    if (support::is_ordinary(error)) {
      // The loop ends with the error, and start() works again; the log says why.
      kLog.log_exception(support::Level::error, error.value(), [&] {
        const py::str text = support::exception_text(error.value());
        return job_id ? py::str("Scheduler loop failed at job {}: {}").format(job_id, text)
                      : py::str("Scheduler loop failed: {}").format(text);
      });
      throw;
    }
    if (!error.matches(support::import("asyncio").attr("CancelledError"))) {
      throw;
    }
    kLog.debug([] { return std::string("Scheduler loop cancelled"); });
  }
  co_return py::none();
}

support::Coroutine fire_job(py::object self, py::object job) {
  kLog.info([&] { return py::str("Firing job: {} ({})").format(job.attr("name"), job.attr("id")); });
  const py::object execution = module_attr("JobExecution")(
      "job_id"_a = job.attr("id"), "job_name"_a = job.attr("name"), "started_at"_a = current_time());
  if (const py::object on_event = self.attr("_on_event"); args::to_bool(on_event)) {
    co_await on_event(py::dict("type"_a = "scheduler_job_fired", "job"_a = job.attr("to_dict")()));
  }
  std::optional<py::error_already_set> failure;
  try {
    py::object result = py::str("");
    if (const py::object on_fire = self.attr("_on_fire"); args::to_bool(on_fire)) {
      result = co_await on_fire(job);
    }
    execution.attr("success") = true;
    // py::str keeps a str (or a subclass of it) as it is.
    execution.attr("result") = args::to_bool(result) ? py::str(result) : py::str("Completed");
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);  // a cancellation ends the firing unrecorded
    failure = std::move(error);
  }
  if (failure) {
    execution.attr("success") = false;
    const py::str text = support::exception_text(failure->value());
    execution.attr("error") = text;
    kLog.log_exception(support::Level::error, failure->value(),
                       [&] { return py::str("Job {} failed: {}").format(job.attr("id"), text); });
  }
  const py::object completed_at = current_time();
  execution.attr("completed_at") = completed_at;
  // A clock set back during the firing gives no negative duration.
  const py::object duration = completed_at - py::object(execution.attr("started_at"));
  execution.attr("duration") = duration < py::float_(0.0) ? py::object(py::float_(0.0)) : duration;
  finish_firing(self, job, execution);
  record(self, execution);
  co_await shared_save(self);
  if (const py::object on_event = self.attr("_on_event"); args::to_bool(on_event)) {
    co_await on_event(
        py::dict("type"_a = "scheduler_job_completed", "execution"_a = execution.attr("to_dict")()));
  }
  co_return py::none();
}

}  // namespace scheduler
