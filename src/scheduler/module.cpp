// Bindings of nebrix.core.scheduler: thin shims over the C++ in the other files.
#include "scheduler/cron_expression.hpp"
#include "scheduler/cron_field.hpp"
#include "scheduler/jobs.hpp"
#include "scheduler/scheduler.hpp"
#include "scheduler/service.hpp"
#include "scheduler/state_file.hpp"
#include "support/args.hpp"
#include "support/classes.hpp"
#include "support/errors.hpp"

#include <string>

namespace {

using scheduler::CronExpression;
namespace args = support::args;

py::set parse_field_shim(py::object field_str, py::object min_val, py::object max_val) {
  const py::str text = args::to_str(field_str, "field_str");
  const std::int64_t low = args::to_long(min_val, "min_val");
  const std::int64_t high = args::to_long(max_val, "max_val");
  py::set values;
  for (std::int64_t value : scheduler::parse_field(text, low, high)) {
    values.add(py::int_(value));
  }
  return values;
}

// CronExpression.next_occurrence(after=None): a fast method, so that "no occurrence"
// raises without a C++ exception. One argument by position is read directly; anything
// else goes through the binder for a compiled def's TypeErrors.
py::object bind_after(PyObject* const* arguments, Py_ssize_t count, PyObject* keywords) {
  if (keywords == nullptr && count <= 1) {
    return count == 1 ? py::reinterpret_borrow<py::object>(arguments[0]) : py::object(py::none());
  }
  static const args::Signature signature("next_occurrence", {{"after", false}});
  const Py_ssize_t keyword_count = keywords == nullptr ? 0 : PyTuple_GET_SIZE(keywords);
  py::tuple positional(count);
  for (Py_ssize_t index = 0; index < count; ++index) {
    positional[index] = py::reinterpret_borrow<py::object>(arguments[index]);
  }
  py::kwargs named;
  for (Py_ssize_t index = 0; index < keyword_count; ++index) {
    named[PyTuple_GET_ITEM(keywords, index)] = py::reinterpret_borrow<py::object>(arguments[count + index]);
  }
  py::object after = signature.bind(positional, named)[0];
  return after ? after : py::object(py::none());
}

PyObject* next_occurrence(PyObject* self, PyObject* const* arguments, Py_ssize_t count, PyObject* keywords) {
  try {
    const py::object after = bind_after(arguments, count, keywords);
    const CronExpression& expression = py::cast<const CronExpression&>(py::handle(self));
    py::object found = expression.find_next(after);
    if (!found) {
      PyErr_SetObject(PyExc_ValueError, expression.not_found_message().ptr());
      return nullptr;
    }
    return found.release().ptr();
  } catch (...) {
    support::current_error().restore();
  }
  return nullptr;
}

void bind_cron(py::module_& m) {
  py::class_<CronExpression> cron(m, "CronExpression",
                                  "Simple cron expression parser (5 fields: min hour dom month dow).");
  cron.def(py::init([](py::object expression) { return CronExpression(expression); }), py::arg("expression"))
      .def("matches", &CronExpression::matches, py::arg("dt"),
           "Check if a datetime matches this cron expression.")
      .def(
          "_dow_adjusted",
          [](const CronExpression& self) {
            return scheduler::mask_to_set(scheduler::python_weekdays(self.fields().weekdays));
          },
          "Convert cron DOW (0=Sun) to Python DOW (0=Mon).")
      .def_static("_parse_field", &parse_field_shim, py::arg("field_str"), py::arg("min_val"),
                  py::arg("max_val"), "Parse a single cron field into a set of valid values.")
      .def_property_readonly("_expr", [](const CronExpression& self) { return self.text(); })
      .def_property_readonly(
          "_minute", [](const CronExpression& self) { return scheduler::mask_to_set(self.fields().minutes); })
      .def_property_readonly(
          "_hour", [](const CronExpression& self) { return scheduler::mask_to_set(self.fields().hours); })
      .def_property_readonly(
          "_dom", [](const CronExpression& self) { return scheduler::mask_to_set(self.fields().days); })
      .def_property_readonly(
          "_month", [](const CronExpression& self) { return scheduler::mask_to_set(self.fields().months); })
      .def_property_readonly(
          "_dow", [](const CronExpression& self) { return scheduler::mask_to_set(self.fields().weekdays); });
  static PyMethodDef next_occurrence_definition = support::fast_method(
      "next_occurrence", &next_occurrence,
      "next_occurrence(self, after=None)\n--\n\nFind the next datetime that matches this cron expression.");
  support::PlainClass(cron).def_fast(next_occurrence_definition);
}

constexpr const char* kSchedulerDoc = R"(Persistent cron-based task scheduler.

Usage:
    scheduler = Scheduler(on_fire=run_prompt, on_event=notify)
    scheduler.add_job(ScheduledJob(name="Morning brief", schedule="0 7 * * 1-5",
                                   prompt="Summarise my calendar for today."))
    await scheduler.start()
    ...
    await scheduler.stop()
)";

void bind_scheduler(py::module_& m) {
  support::PlainClass(m, "Scheduler", kSchedulerDoc)
      .def_init(nullptr, &scheduler::initialize, py::arg("on_fire") = py::none(),
                py::arg("on_event") = py::none(), py::arg("storage_path") = py::none())
      .def_property("running", &scheduler::is_running)
      .def("add_job", &scheduler::add_job, py::arg("job"), "Add a new scheduled job.")
      .def("update_job", &scheduler::update_job, py::arg("job_id"), py::arg("updates"),
           "Update an existing job.")
      .def("remove_job", &scheduler::remove_job, py::arg("job_id"), "Remove a scheduled job.")
      .def("pause_job", &scheduler::pause_job, py::arg("job_id"), "Pause a job.")
      .def("resume_job", &scheduler::resume_job, py::arg("job_id"), "Resume a paused job.")
      .def("get_job", &scheduler::get_job, py::arg("job_id"))
      .def("list_jobs", &scheduler::list_jobs, "List all jobs with their status.")
      .def("list_executions", &scheduler::list_executions, py::arg("limit") = 50,
           py::arg("job_id") = py::none(), "List recent job executions.")
      .def("stats", &scheduler::stats, "Get scheduler statistics.")
      .def_coroutine("start", &scheduler::start, "Start the scheduler loop.")
      .def_coroutine("stop", &scheduler::stop, "Stop the scheduler loop.")
      .def_coroutine("_loop", &scheduler::run_loop,
                     "Main scheduler loop \u2014 checks every 30 seconds for due jobs.")
      .def_coroutine("_fire_job", &scheduler::fire_job, py::arg("job"), "Execute a scheduled job.")
      .def("_save", &scheduler::save_state, "Save jobs to disk.")
      .def("_load", &scheduler::load_state, "Load jobs from disk.")
      .def("_calc_next_run", &scheduler::calc_next_run, py::arg("job"),
           "Calculate the next run time for a job.");
}

}  // namespace

namespace scheduler {

py::object module_attr(const char* name) { return support::import(kModuleName).attr(name); }

py::object current_time() { return support::import("time").attr("time")(); }

}  // namespace scheduler

PYBIND11_MODULE(scheduler, m) {
  m.doc() = "Persistent job scheduler: cron, interval and one-shot jobs fired on the host's event loop.";
  m.attr("logger") = scheduler::kLog.get();
  bind_cron(m);
  scheduler::define_records(m);
  bind_scheduler(m);
}
