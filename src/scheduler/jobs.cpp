#include "jobs.hpp"

#include "support/args.hpp"

#include <pybind11/gil_safe_call_once.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>

namespace scheduler {

namespace {

using namespace pybind11::literals;

constexpr const char* kTimestampFormat = "%Y-%m-%d %H:%M:%S";
constexpr Py_ssize_t kPromptShown = 300;
constexpr Py_ssize_t kResultShown = 200;

py::object str_type() {
  return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyUnicode_Type));
}
py::object float_type() {
  return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyFloat_Type));
}
py::object int_type() {
  return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyLong_Type));
}
py::object bool_type() {
  return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyBool_Type));
}

bool truthy(py::handle value) { return support::args::to_bool(value); }

// `text` itself when it has at most `limit` items, else its first `limit` followed by `marker`.
py::object shortened(const py::object& text, Py_ssize_t limit, const char* marker) {
  if (static_cast<Py_ssize_t>(py::len(text)) <= limit) {
    return text;
  }
  py::object head = text[py::slice(0, limit, 1)];
  return *marker == '\0' ? head : head + py::str(marker);
}

// The value string of an enumeration member; a plain string (as a host may assign one)
// stands for itself.
py::object value_of(const py::object& member) {
  return PyUnicode_CheckExact(member.ptr()) ? member : py::object(member.attr("value"));
}

// The broken-down local time of a Unix time as datetime.fromtimestamp() takes it: the
// fraction rounded to microseconds half to even (which may carry into the second),
// none where the platform cannot convert it or the year lies outside 1..9999.
std::optional<std::tm> local_time(double seconds) {
  if (std::isnan(seconds)) {
    return std::nullopt;
  }
  double whole = 0;
  double micros = std::modf(seconds, &whole) * 1e6;
  double rounded = std::round(micros);
  if (std::fabs(micros - rounded) == 0.5) {
    rounded = 2.0 * std::round(micros / 2.0);
  }
  if (rounded >= 1e6) {
    whole += 1.0;
  } else if (rounded < 0) {
    whole -= 1.0;
  }
  constexpr double kTimeLimit = 9.223372036854775808e18;  // 2**63: the range of a 64-bit time_t
  if (!(whole >= -kTimeLimit && whole < kTimeLimit)) {
    return std::nullopt;
  }
  const std::time_t moment = static_cast<std::time_t>(whole);
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &moment) != 0) {
    return std::nullopt;
  }
#else
  if (localtime_r(&moment, &local) == nullptr) {
    return std::nullopt;
  }
#endif
  const int year = local.tm_year + 1900;
  if (year < 1 || year > 9999) {
    return std::nullopt;
  }
  return local;
}

py::str python_format(double seconds) {
  const py::object moment = support::import("datetime").attr("datetime").attr("fromtimestamp")(seconds);
  return moment.attr("strftime")(kTimestampFormat);
}

// The keys of the dictionary forms: first the fields in order, then the added texts.
constexpr const char* kJobKeys[] = {
    "id",       "name",      "description",  "job_type",       "schedule",      "interval_seconds",
    "prompt",   "model_key", "spawn_worker", "state",          "created_at",    "last_run",
    "next_run", "run_count", "max_runs",     "next_run_human", "last_run_human"};
constexpr std::size_t kJobFieldCount = 15;
constexpr std::size_t kJobTypeField = 3, kPromptField = 6, kStateField = 9, kLastRunField = 11,
                      kNextRunField = 12;
constexpr const char* kExecutionKeys[] = {"job_id",     "job_name",  "started_at",      "completed_at",
                                          "duration",   "success",   "result",          "error",
                                          "model_used", "worker_id", "started_at_human"};
constexpr std::size_t kExecutionFieldCount = 10;
constexpr std::size_t kStartedAtField = 2, kDurationField = 4, kResultField = 6;

template <std::size_t N>
py::tuple interned(const char* const (&names)[N]) {
  py::tuple strings(N);
  for (std::size_t index = 0; index < N; ++index) {
    PyObject* name = PyUnicode_InternFromString(names[index]);
    if (name == nullptr) {
      throw py::error_already_set();
    }
    PyTuple_SET_ITEM(strings.ptr(), static_cast<Py_ssize_t>(index), name);
  }
  return strings;
}

// The key strings are made once: the forms are built for every listing and save.
const py::tuple& job_keys() {
  PYBIND11_CONSTINIT static py::gil_safe_call_once_and_store<py::tuple> keys;
  return keys.call_once_and_store_result([] { return interned(kJobKeys); }).get_stored();
}

const py::tuple& execution_keys() {
  PYBIND11_CONSTINIT static py::gil_safe_call_once_and_store<py::tuple> keys;
  return keys.call_once_and_store_result([] { return interned(kExecutionKeys); }).get_stored();
}

void put(const py::dict& form, py::handle key, py::handle value) {
  if (PyDict_SetItem(form.ptr(), key.ptr(), value.ptr()) < 0) {
    throw py::error_already_set();
  }
}

// Reads the fields of a record: from its instance dictionary when it is of the module's
// own class (whose fields live there), otherwise through getattr, which honours
// whatever a subclass defines.
class RecordReader {
 public:
  RecordReader(py::handle record, const char* class_name) : record_(record) {
    if (Py_TYPE(record.ptr()) == reinterpret_cast<PyTypeObject*>(module_attr(class_name).ptr())) {
      fields_ = py::reinterpret_steal<py::object>(PyObject_GenericGetDict(record.ptr(), nullptr));
      if (!fields_) {
        throw py::error_already_set();
      }
    }
  }

  py::object operator[](py::handle name) const {
    if (fields_) {
      if (PyObject* value = PyDict_GetItemWithError(fields_.ptr(), name.ptr())) {
        return py::reinterpret_borrow<py::object>(value);
      }
      if (PyErr_Occurred()) {
        throw py::error_already_set();
      }
    }
    return record_.attr(name);
  }

 private:
  py::handle record_;
  py::object fields_;
};

py::object make_enum(const char* name, std::initializer_list<std::pair<const char*, const char*>> members) {
  py::list pairs;
  for (const auto& [member, value] : members) {
    pairs.append(py::make_tuple(member, value));
  }
  return support::import("enum").attr("Enum")(name, pairs, "module"_a = kModuleName, "qualname"_a = name,
                                              "type"_a = str_type());
}

// Makes a dataclass with `fields` ((name, type[, default or Field]) tuples) and the given
// docstring, owned by this module.
py::object make_dataclass(const char* name, const char* doc, const py::list& fields) {
  py::object cls = support::import("dataclasses")
                       .attr("make_dataclass")(name, fields, "namespace"_a = py::dict("__doc__"_a = doc));
  cls.attr("__module__") = kModuleName;
  return cls;
}

void add_method(py::object& cls, const char* name, py::dict (*method)(py::handle)) {
  cls.attr(name) = py::cpp_function(method, py::name(name), py::is_method(cls));
}

py::object new_job_id() { return support::import("uuid").attr("uuid4")().attr("hex")[py::slice(0, 10, 1)]; }

py::object current_time() { return support::import("time").attr("time")(); }

// ScheduledJob.from_dict: fields from a dictionary form or any part of it.
py::object job_from_dict(py::object cls, py::object data) {
  // A copy: the caller's dictionary keeps its own values.
  py::dict values = py::reinterpret_steal<py::dict>(PyDict_Copy(support::args::to_dict(data, "data").ptr()));
  if (!values) {
    throw py::error_already_set();
  }
  const std::pair<const char*, const char*> enumerations[] = {{"job_type", "JobType"}, {"state", "JobState"}};
  for (const auto& [key, enumeration] : enumerations) {
    if (values.contains(key) && PyUnicode_Check(values[key].ptr())) {
      values[key] = enum_member(module_attr(enumeration), values[key]);
    }
  }
  const py::dict fields = cls.attr("__dataclass_fields__");
  py::dict arguments;
  for (auto [key, value] : values) {
    if (fields.contains(key)) {
      arguments[key] = value;
    }
  }
  // Called directly: pybind11's keyword unpacking checks each key through a Python call.
  PyObject* job = PyObject_Call(cls.ptr(), py::tuple().ptr(), arguments.ptr());
  if (job == nullptr) {
    throw py::error_already_set();
  }
  return py::reinterpret_steal<py::object>(job);
}

}  // namespace

py::object module_attr(const char* name) { return support::import(kModuleName).attr(name); }

py::object enum_member(const py::object& enumeration, const py::object& value) {
  const py::object known = enumeration.attr("_value2member_map_").attr("get")(value);
  return known.is_none() ? enumeration(value) : known;
}

py::list field_names(py::handle dataclass) {
  py::list names;
  for (py::handle field : support::import("dataclasses").attr("fields")(dataclass)) {
    names.append(field.attr("name"));
  }
  return names;
}

py::str format_timestamp(py::handle ts) {
  double seconds = 0;
  try {
    seconds = support::args::to_real(ts, "ts");
  } catch (py::error_already_set& error) {
    if (!error.matches(PyExc_OverflowError)) {
      throw;
    }
    return py::str("Invalid");
  }
  if (seconds == 0) {
    return py::str("Never");
  }
  const std::optional<std::tm> local = local_time(seconds);
  if (!local) {
    return py::str("Invalid");
  }
  if (local->tm_year + 1900 < 1000) {
    return python_format(seconds);  // years of fewer digits: as the runtime's strftime writes them
  }
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local->tm_year + 1900, local->tm_mon + 1,
                local->tm_mday, local->tm_hour, local->tm_min, std::min(local->tm_sec, 59));
  return py::str(text);
}

py::dict job_to_dict(py::handle job) {
  const py::tuple& keys = job_keys();
  const RecordReader fields(job, "ScheduledJob");
  py::dict form;
  for (std::size_t index = 0; index < kJobFieldCount; ++index) {
    py::object value = fields[keys[index]];
    if (index == kJobTypeField || index == kStateField) {
      value = value_of(value);
    } else if (index == kPromptField) {
      value = shortened(value, kPromptShown, "...");
    }
    put(form, keys[index], value);
  }
  const py::object next_run = fields[keys[kNextRunField]];
  const py::object last_run = fields[keys[kLastRunField]];
  put(form, keys[kJobFieldCount], truthy(next_run) ? format_timestamp(next_run) : py::str("Not scheduled"));
  put(form, keys[kJobFieldCount + 1], truthy(last_run) ? format_timestamp(last_run) : py::str("Never"));
  return form;
}

py::dict execution_to_dict(py::handle execution) {
  const py::tuple& keys = execution_keys();
  const RecordReader fields(execution, "JobExecution");
  const py::object round = py::reinterpret_borrow<py::dict>(PyEval_GetBuiltins())["round"];
  py::dict form;
  for (std::size_t index = 0; index < kExecutionFieldCount; ++index) {
    py::object value = fields[keys[index]];
    if (index == kDurationField) {
      value = round(value, 2);
    } else if (index == kResultField) {
      value = shortened(value, kResultShown, "");
    }
    put(form, keys[index], value);
    if (index == kStartedAtField) {
      put(form, keys[kExecutionFieldCount], format_timestamp(value));
    }
  }
  return form;
}

void define_records(py::module_& m) {
  const py::object job_type =
      make_enum("JobType", {{"CRON", "cron"}, {"INTERVAL", "interval"}, {"ONCE", "once"}});
  const py::object job_state = make_enum(
      "JobState",
      {{"ACTIVE", "active"}, {"PAUSED", "paused"}, {"COMPLETED", "completed"}, {"DISABLED", "disabled"}});
  const py::object field = support::import("dataclasses").attr("field");
  const py::object optional_str = str_type() | py::none();
  const py::object metadata_type = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(
      &PyDict_Type))[py::make_tuple(str_type(), support::import("typing").attr("Any"))];

  py::list job_fields;
  job_fields.append(
      py::make_tuple("id", str_type(), field("default_factory"_a = py::cpp_function(&new_job_id))));
  job_fields.append(py::make_tuple("name", str_type(), ""));
  job_fields.append(py::make_tuple("description", str_type(), ""));
  job_fields.append(py::make_tuple("job_type", job_type, job_type.attr("CRON")));
  job_fields.append(py::make_tuple("schedule", str_type(), ""));
  job_fields.append(py::make_tuple("interval_seconds", int_type(), 0));
  job_fields.append(py::make_tuple("prompt", str_type(), ""));
  job_fields.append(py::make_tuple("model_key", optional_str, py::none()));
  job_fields.append(py::make_tuple("spawn_worker", bool_type(), true));
  job_fields.append(py::make_tuple("state", job_state, job_state.attr("ACTIVE")));
  job_fields.append(py::make_tuple("created_at", float_type(),
                                   field("default_factory"_a = py::cpp_function(&current_time))));
  job_fields.append(py::make_tuple("last_run", float_type(), 0.0));
  job_fields.append(py::make_tuple("next_run", float_type(), 0.0));
  job_fields.append(py::make_tuple("run_count", int_type(), 0));
  job_fields.append(py::make_tuple("max_runs", int_type(), 0));
  job_fields.append(py::make_tuple("metadata", metadata_type,
                                   field("default_factory"_a = py::reinterpret_borrow<py::object>(
                                             reinterpret_cast<PyObject*>(&PyDict_Type)))));
  py::object job = make_dataclass("ScheduledJob", "Definition of a scheduled job.", job_fields);
  add_method(job, "to_dict", &job_to_dict);
  job.attr("from_dict") = py::reinterpret_steal<py::object>(PyClassMethod_New(
      py::cpp_function(&job_from_dict, py::name("from_dict"), py::arg("cls"), py::arg("data")).ptr()));

  py::list execution_fields;
  execution_fields.append(py::make_tuple("job_id", str_type()));
  execution_fields.append(py::make_tuple("job_name", str_type()));
  execution_fields.append(py::make_tuple("started_at", float_type()));
  execution_fields.append(py::make_tuple("completed_at", float_type(), 0.0));
  execution_fields.append(py::make_tuple("duration", float_type(), 0.0));
  execution_fields.append(py::make_tuple("success", bool_type(), false));
  execution_fields.append(py::make_tuple("result", str_type(), ""));
  execution_fields.append(py::make_tuple("error", str_type(), ""));
  execution_fields.append(py::make_tuple("model_used", str_type(), ""));
  execution_fields.append(py::make_tuple("worker_id", str_type(), ""));
  py::object execution =
      make_dataclass("JobExecution", "Record of a single job execution.", execution_fields);
  add_method(execution, "to_dict", &execution_to_dict);

  const py::module_ typing = support::import("typing");
  m.attr("JobType") = job_type;
  m.attr("JobState") = job_state;
  m.attr("ScheduledJob") = job;
  m.attr("JobExecution") = execution;
  m.attr("JobFireCallback") = typing.attr(
      "Callable")[py::make_tuple(py::list(py::make_tuple(job)), typing.attr("Awaitable")[str_type()])];
  m.def("_format_timestamp", &format_timestamp, py::arg("ts"),
        "Format a Unix timestamp as a human-readable string.");
}

}  // namespace scheduler
