// Bindings of nebrix.core.scheduler: thin shims over the C++ in the other files.
#include "scheduler/module.hpp"
#include "scheduler/cron_expression.hpp"
#include "scheduler/cron_field.hpp"
#include "scheduler/jobs.hpp"
#include "scheduler/service.hpp"
#include "scheduler/state_file.hpp"
#include "support/args.hpp"

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

// CronExpression.next_occurrence(after=None), called for every cron job on the host's
// loop: a plain C method, so that "no occurrence" raises without a C++ exception.
// The one parameter `after`, given by position or keyword, None when absent; the
// TypeErrors of a compiled def otherwise.
py::object bind_after(PyObject* const* arguments, Py_ssize_t count, PyObject* keywords) {
  const Py_ssize_t keyword_count = keywords == nullptr ? 0 : PyTuple_GET_SIZE(keywords);
  if (count + keyword_count > 1) {
    throw py::type_error("next_occurrence() takes at most 1 argument (" +
                         std::to_string(count + keyword_count) + " given)");
  }
  if (keyword_count == 1) {
    const py::handle name = PyTuple_GET_ITEM(keywords, 0);
    if (!py::str(name).equal(py::str("after"))) {
      throw py::type_error(py::str("next_occurrence() got an unexpected keyword argument '{}'").format(name));
    }
    return py::reinterpret_borrow<py::object>(arguments[0]);
  }
  return count == 1 ? py::reinterpret_borrow<py::object>(arguments[0]) : py::none();
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
  } catch (py::error_already_set& error) {
    error.restore();
  } catch (...) {
    support::set_error_from_current_exception();
  }
  return nullptr;
}

PyMethodDef next_occurrence_definition = {
    "next_occurrence", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&next_occurrence)),
    METH_FASTCALL | METH_KEYWORDS,
    "next_occurrence(self, after=None)\n--\n\nFind the next datetime that matches this cron expression."};

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
  PyObject* method =
      PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(cron.ptr()), &next_occurrence_definition);
  if (method == nullptr) {
    throw py::error_already_set();
  }
  cron.attr("next_occurrence") = py::reinterpret_steal<py::object>(method);
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

// A method of `cls` (bound like a function defined in its class body).
template <class Function, class... Extra>
void add_method(py::object& cls, const char* name, Function&& function, const char* doc, Extra&&... extra) {
  cls.attr(name) = py::cpp_function(std::forward<Function>(function), py::name(name), py::is_method(cls),
                                    std::forward<Extra>(extra)..., doc);
}

template <support::Coroutine (*Body)(py::object), const char* Qualname>
py::object coroutine_method(py::object self) {
  return Body(self).to_python(Qualname);
}

constexpr char kStart[] = "Scheduler.start";
constexpr char kStop[] = "Scheduler.stop";
constexpr char kLoop[] = "Scheduler._loop";

void bind_scheduler(py::module_& m) {
  const auto builtin = [](PyTypeObject& type) {
    return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&type));
  };
  py::object cls = builtin(PyType_Type)(
      "Scheduler", py::make_tuple(builtin(PyBaseObject_Type)),
      py::dict(py::arg("__doc__") = kSchedulerDoc, py::arg("__module__") = scheduler::kModuleName));
  // pybind11 takes any function named "__init__" for a constructor of its own classes,
  // so this one carries a different name.
  cls.attr("__init__") = py::cpp_function(&scheduler::initialize, py::name("initialize"), py::is_method(cls),
                                          py::arg("on_fire") = py::none(), py::arg("on_event") = py::none(),
                                          py::arg("storage_path") = py::none());
  cls.attr("running") =
      builtin(PyProperty_Type)(py::cpp_function(&scheduler::is_running, py::name("running")));
  add_method(cls, "add_job", &scheduler::add_job, "Add a new scheduled job.", py::arg("job"));
  add_method(cls, "update_job", &scheduler::update_job, "Update an existing job.", py::arg("job_id"),
             py::arg("updates"));
  add_method(cls, "remove_job", &scheduler::remove_job, "Remove a scheduled job.", py::arg("job_id"));
  add_method(cls, "pause_job", &scheduler::pause_job, "Pause a job.", py::arg("job_id"));
  add_method(cls, "resume_job", &scheduler::resume_job, "Resume a paused job.", py::arg("job_id"));
  add_method(cls, "get_job", &scheduler::get_job, nullptr, py::arg("job_id"));
  add_method(cls, "list_jobs", &scheduler::list_jobs, "List all jobs with their status.");
  add_method(cls, "list_executions", &scheduler::list_executions, "List recent job executions.",
             py::arg("limit") = 50, py::arg("job_id") = py::none());
  add_method(cls, "stats", &scheduler::stats, "Get scheduler statistics.");
  add_method(cls, "start", &coroutine_method<&scheduler::start, kStart>, "Start the scheduler loop.");
  add_method(cls, "stop", &coroutine_method<&scheduler::stop, kStop>, "Stop the scheduler loop.");
  add_method(cls, "_loop", &coroutine_method<&scheduler::run_loop, kLoop>,
             "Main scheduler loop \u2014 checks every 30 seconds for due jobs.");
  add_method(
      cls, "_fire_job",
      [](py::object self, py::object job) {
        return scheduler::fire_job(self, job).to_python("Scheduler._fire_job");
      },
      "Execute a scheduled job.", py::arg("job"));
  add_method(
      cls, "_save", [](py::object self) { scheduler::save_state(self); }, "Save jobs to disk.");
  add_method(
      cls, "_load", [](py::object self) { scheduler::load_state(self); }, "Load jobs from disk.");
  add_method(cls, "_calc_next_run", &scheduler::calc_next_run, "Calculate the next run time for a job.",
             py::arg("job"));
  m.attr("Scheduler") = cls;
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
