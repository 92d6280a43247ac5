#include "scheduler/jobs.hpp"

#include "scheduler/local_time.hpp"
#include "scheduler/scheduler.hpp"
#include "support/args.hpp"
#include "support/classes.hpp"
#include "support/keys.hpp"

#include <pybind11/gil_safe_call_once.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <optional>
#include <span>

namespace scheduler {

namespace {

using namespace pybind11::literals;

constexpr const char* kTimestampFormat = "%Y-%m-%d %H:%M:%S";
constexpr Py_ssize_t kPromptShown = 300;
constexpr Py_ssize_t kResultShown = 200;

// `text` itself when it has at most `limit` items, else its first `limit` followed by `marker`.
py::object shortened(const py::object& text, Py_ssize_t limit, const char* marker) {
  if (static_cast<Py_ssize_t>(py::len(text)) <= limit) {
    return text;
  }
  py::object head = text[py::slice(0, limit, 1)];
  return *marker == '\0' ? head : head + py::str(marker);
}

struct Keys {
  support::Interned value{"_value_"};
};

// The value string of an enumeration member; a plain string (as a host may assign one)
// stands for itself.
py::object value_of(const py::object& member) {
  if (PyUnicode_CheckExact(member.ptr())) {
    return member;
  }
  // Enumeration members keep their value in `_value_`; `.value` is a property written
  // in Python, slow for every form of every save.
  if (PyObject* value = PyObject_GetAttr(member.ptr(), support::interned<Keys>().value.ptr())) {
    return py::reinterpret_steal<py::object>(value);
  }
  PyErr_Clear();
  return member.attr("value");
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
  const std::optional<std::tm> local = local_tm(static_cast<std::int64_t>(whole));
  if (!local || local->tm_year + 1900 < 1 || local->tm_year + 1900 > 9999) {
    return std::nullopt;
  }
  return local;
}

// What a field holds, which gives its annotation.
enum class Kind { kText, kOptionalText, kInteger, kReal, kBoolean, kJobType, kJobState, kMetadata };
// A field's default: the zero of its type unless named otherwise.
enum class Initial { kZero, kRequired, kTrue, kNewId, kNow };
// How a column shows in the dictionary form.
enum class Shown { kAsIs, kValueString, kShortPrompt, kShortResult, kRounded, kHidden, kTimeText };

// One column of a record: a dataclass field, or (kTimeText) a text the dictionary form
// adds for the time field `source`, `unset` standing for a false time (none: always
// formatted). Columns are in the order of the fields and of the dictionary form.
struct Column {
  const char* name;
  Kind kind;
  Initial initial;
  Shown shown;
  const char* source = nullptr;
  const char* unset = nullptr;

  constexpr bool is_field() const { return shown != Shown::kTimeText; }
};

// A time-text column without a field.
constexpr Column time_text(const char* name, const char* source, const char* unset) {
  return {name, Kind::kReal, Initial::kRequired, Shown::kTimeText, source, unset};
}

constexpr Column kJobColumns[] = {
    {"id", Kind::kText, Initial::kNewId, Shown::kAsIs},
    {"name", Kind::kText, Initial::kZero, Shown::kAsIs},
    {"description", Kind::kText, Initial::kZero, Shown::kAsIs},
    {"job_type", Kind::kJobType, Initial::kZero, Shown::kValueString},
    {"schedule", Kind::kText, Initial::kZero, Shown::kAsIs},
    {"interval_seconds", Kind::kInteger, Initial::kZero, Shown::kAsIs},
    {"prompt", Kind::kText, Initial::kZero, Shown::kShortPrompt},
    {"model_key", Kind::kOptionalText, Initial::kZero, Shown::kAsIs},
    {"spawn_worker", Kind::kBoolean, Initial::kTrue, Shown::kAsIs},
    {"state", Kind::kJobState, Initial::kZero, Shown::kValueString},
    {"created_at", Kind::kReal, Initial::kNow, Shown::kAsIs},
    {"last_run", Kind::kReal, Initial::kZero, Shown::kAsIs},
    {"next_run", Kind::kReal, Initial::kZero, Shown::kAsIs},
    {"run_count", Kind::kInteger, Initial::kZero, Shown::kAsIs},
    {"max_runs", Kind::kInteger, Initial::kZero, Shown::kAsIs},
    {"metadata", Kind::kMetadata, Initial::kZero, Shown::kHidden},
    time_text("next_run_human", "next_run", "Not scheduled"),
    time_text("last_run_human", "last_run", "Never"),
};

constexpr Column kExecutionColumns[] = {
    {"job_id", Kind::kText, Initial::kRequired, Shown::kAsIs},
    {"job_name", Kind::kText, Initial::kRequired, Shown::kAsIs},
    {"started_at", Kind::kReal, Initial::kRequired, Shown::kAsIs},
    time_text("started_at_human", "started_at", nullptr),
    {"completed_at", Kind::kReal, Initial::kZero, Shown::kAsIs},
    {"duration", Kind::kReal, Initial::kZero, Shown::kRounded},
    {"success", Kind::kBoolean, Initial::kZero, Shown::kAsIs},
    {"result", Kind::kText, Initial::kZero, Shown::kShortResult},
    {"error", Kind::kText, Initial::kZero, Shown::kAsIs},
    {"model_used", Kind::kText, Initial::kZero, Shown::kAsIs},
    {"worker_id", Kind::kText, Initial::kZero, Shown::kAsIs},
};

// What this module made for a record kind: the class and its to_dict, kept to tell them
// from a host's, and the column names as interned strings (the forms are built for every
// listing and save), with for each column the name of the field it shows.
struct Made {
  py::object cls;
  py::object to_dict;
  py::tuple keys;
  py::tuple sources;
};
PYBIND11_CONSTINIT py::gil_safe_call_once_and_store<Made> made_job;
PYBIND11_CONSTINIT py::gil_safe_call_once_and_store<Made> made_execution;

// A record kind: its columns, its class name and what this module made for it.
struct Record {
  std::span<const Column> columns;
  const char* class_name;
  py::gil_safe_call_once_and_store<Made>* made;
};

constexpr Record kJob{kJobColumns, "ScheduledJob", &made_job};
constexpr Record kExecution{kExecutionColumns, "JobExecution", &made_execution};

// Reads the fields of a record: from its instance dictionary when it is of the class
// this module made (whose fields live there), otherwise through getattr, which honours
// whatever a subclass defines.
class RecordReader {
 public:
  RecordReader(py::handle record, const Record& kind) : record_(record) {
    if (Py_TYPE(record.ptr()) == reinterpret_cast<PyTypeObject*>(kind.made->get_stored().cls.ptr())) {
      fields_ = support::steal<py::dict>(PyObject_GenericGetDict(record.ptr(), nullptr));
    }
  }

  py::object operator[](py::handle name) const {
    py::object value = fields_ ? support::get_item(*fields_, name) : py::object();
    return value ? value : record_.attr(name);
  }

 private:
  py::handle record_;
  std::optional<py::dict> fields_;
};

// Calls `entry(key, value)` for each entry of the dictionary form of `record`, in order;
// with `whole_prompt`, the prompt as it is.
template <class Entry>
void each_entry(py::handle record, const Record& kind, bool whole_prompt, Entry&& entry) {
  const Made& made = kind.made->get_stored();
  PyObject* keys = made.keys.ptr();
  const RecordReader fields(record, kind);
  for (std::size_t index = 0; index < kind.columns.size(); ++index) {
    const Column& column = kind.columns[index];
    const py::handle key = PyTuple_GET_ITEM(keys, index);
    if (column.shown == Shown::kHidden) {
      continue;
    }
    if (column.shown == Shown::kTimeText) {
      const py::object time = fields[PyTuple_GET_ITEM(made.sources.ptr(), index)];
      const bool formatted = column.unset == nullptr || support::args::to_bool(time);
      entry(key, formatted ? format_timestamp(time) : py::str(column.unset));
      continue;
    }
    py::object value = fields[key];
    switch (column.shown) {
      case Shown::kValueString:
        value = value_of(value);
        break;
      case Shown::kShortPrompt:
        value = whole_prompt ? value : shortened(value, kPromptShown, "...");
        break;
      case Shown::kShortResult:
        value = shortened(value, kResultShown, "");
        break;
      case Shown::kRounded:
        value = py::reinterpret_borrow<py::dict>(PyEval_GetBuiltins())["round"](value, 2);
        break;
      default:
        break;
    }
    entry(key, value);
  }
}

py::dict to_dict(py::handle record, const Record& kind) {
  py::dict form;
  each_entry(record, kind, false,
             [&](py::handle key, const py::object& value) { support::set_item(form, key, value); });
  return form;
}

py::object make_enum(const char* name, std::initializer_list<std::pair<const char*, const char*>> members) {
  py::list pairs;
  for (const auto& [member, value] : members) {
    pairs.append(py::make_tuple(member, value));
  }
  return support::import("enum").attr("Enum")(name, pairs, "module"_a = kModuleName, "qualname"_a = name,
                                              "type"_a = support::type_object(PyUnicode_Type));
}

py::object new_job_id() { return support::import("uuid").attr("uuid4")().attr("hex")[py::slice(0, 10, 1)]; }

// The enumerations and their members the columns name.
struct Enumerations {
  py::object job_type;
  py::object job_state;
};

// The annotation of a field that holds `kind`, and the zero of that type (an
// enumeration's first member; a new dict for the metadata).
std::pair<py::object, py::object> field_type(Kind kind, const Enumerations& enumerations) {
  switch (kind) {
    case Kind::kText:
      return {support::type_object(PyUnicode_Type), py::str("")};
    case Kind::kOptionalText:
      return {support::type_object(PyUnicode_Type) | py::none(), py::none()};
    case Kind::kInteger:
      return {support::type_object(PyLong_Type), py::int_(0)};
    case Kind::kReal:
      return {support::type_object(PyFloat_Type), py::float_(0.0)};
    case Kind::kBoolean:
      return {support::type_object(PyBool_Type), py::bool_(false)};
    case Kind::kJobType:
      return {enumerations.job_type, py::list(enumerations.job_type)[0]};
    case Kind::kJobState:
      return {enumerations.job_state, py::list(enumerations.job_state)[0]};
    case Kind::kMetadata:
      return {support::type_object(PyDict_Type)[py::make_tuple(support::type_object(PyUnicode_Type),
                                                               support::import("typing").attr("Any"))],
              support::import("dataclasses")
                  .attr("field")("default_factory"_a = support::type_object(PyDict_Type))};
  }
  return {};
}

// Makes the dataclass of `kind` with the given docstring, owned by this module, and its
// to_dict method.
py::object make_dataclass(const Record& kind, const char* doc, const Enumerations& enumerations) {
  py::list fields;
  py::tuple keys(kind.columns.size());
  py::tuple sources(kind.columns.size());
  for (std::size_t index = 0; index < kind.columns.size(); ++index) {
    const Column& column = kind.columns[index];
    keys[index] = support::intern(column.name);
    sources[index] = support::intern(column.source == nullptr ? column.name : column.source);
    if (!column.is_field()) {
      continue;
    }
    auto [type, initial] = field_type(column.kind, enumerations);
    const py::object field = support::import("dataclasses").attr("field");
    if (column.initial == Initial::kTrue) {
      initial = py::bool_(true);
    } else if (column.initial == Initial::kNewId) {
      initial = field("default_factory"_a = py::cpp_function(&new_job_id));
    } else if (column.initial == Initial::kNow) {
      initial = field("default_factory"_a = py::cpp_function(&current_time));
    }
    fields.append(column.initial == Initial::kRequired
                      ? py::tuple(py::make_tuple(column.name, type))
                      : py::tuple(py::make_tuple(column.name, type, initial)));
  }
  py::object cls =
      support::import("dataclasses")
          .attr("make_dataclass")(kind.class_name, fields, "namespace"_a = py::dict("__doc__"_a = doc));
  cls.attr("__module__") = kModuleName;
  support::PlainClass(cls).def("to_dict", [&kind](py::handle record) { return to_dict(record, kind); });
  kind.made->call_once_and_store_result([&] { return Made{cls, cls.attr("to_dict"), keys, sources}; });
  return cls;
}

// The column of job field `name`, if it is one.
const Column* job_column(py::handle name) {
  if (!PyUnicode_Check(name.ptr())) {
    return nullptr;
  }
  for (const Column& column : kJobColumns) {
    if (column.is_field() && PyUnicode_CompareWithASCIIString(name.ptr(), column.name) == 0) {
      return &column;
    }
  }
  return nullptr;
}

// TypeError unless `value` is of the type `column` holds: a str for text, a real number
// (not a bool) for numbers, an enumeration member for the enumerations.
void check_type(const Column& column, py::handle value) {
  PyObject* item = value.ptr();
  const bool number = (PyLong_Check(item) || PyFloat_Check(item)) && !PyBool_Check(item);
  const auto [expected, right] = [&]() -> std::pair<const char*, bool> {
    switch (column.kind) {
      case Kind::kText:
        return {"str", PyUnicode_Check(item) != 0};
      case Kind::kOptionalText:
        return {"str or None", PyUnicode_Check(item) != 0 || value.is_none()};
      case Kind::kInteger:
        return {"int", number};
      case Kind::kReal:
        return {"float", number};
      case Kind::kJobType:
        return {"JobType", py::isinstance(value, module_attr("JobType"))};
      case Kind::kJobState:
        return {"JobState", py::isinstance(value, module_attr("JobState"))};
      default:
        return {nullptr, true};
    }
  }();
  if (!right) {
    support::raise(PyExc_TypeError, py::str("Field '{}' has incorrect type (expected {}, got {})")
                                        .format(column.name, expected, support::type_name(value)));
  }
}

// ScheduledJob.from_dict: fields from a dictionary form or any part of it.
py::object job_from_dict(py::object cls, py::object data) {
  const py::dict values = support::args::to_dict(data, "data");
  const py::dict fields = cls.attr("__dataclass_fields__");
  py::dict arguments;
  for (auto [key, value] : values) {
    if (fields.contains(key)) {
      support::set_item(arguments, key, job_field_value(key, py::reinterpret_borrow<py::object>(value)));
    }
  }
  // Called directly: pybind11's keyword unpacking checks each key through a Python call.
  return support::steal(PyObject_Call(cls.ptr(), py::tuple().ptr(), arguments.ptr()));
}

}  // namespace

py::object job_field_value(py::handle name, const py::object& value) {
  const Column* column = job_column(name);
  if (column == nullptr || !PyUnicode_Check(value.ptr()) ||
      (column->kind != Kind::kJobType && column->kind != Kind::kJobState)) {
    return value;
  }
  const py::object enumeration = module_attr(column->kind == Kind::kJobType ? "JobType" : "JobState");
  const py::object known = enumeration.attr("_value2member_map_").attr("get")(value);
  return known.is_none() ? enumeration(value) : known;
}

void check_job_field(py::handle name, py::handle value) {
  if (const Column* column = job_column(name)) {
    check_type(*column, value);
  }
}

void check_stored_job(py::handle job) {
  for (const Column& column : kJobColumns) {
    if (!column.is_field() || column.kind == Kind::kMetadata) {
      continue;
    }
    const py::object value = job.attr(column.name);
    check_type(column, value);
    if (PyFloat_Check(value.ptr()) && !std::isfinite(PyFloat_AS_DOUBLE(value.ptr()))) {
      support::raise(PyExc_ValueError,
                     py::str("Field '{}' is not a finite number: {}").format(column.name, value));
    }
  }
  to_dict(job, kJob);
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
    // Years of fewer digits: as the runtime's strftime writes them, where its datetime
    // can hold the moment (not the first hours of year 1 in every zone).
    try {
      return support::import("datetime")
          .attr("datetime")
          .attr("fromtimestamp")(seconds)
          .attr("strftime")(kTimestampFormat);
    } catch (py::error_already_set& error) {
      if (!error.matches(PyExc_ValueError) && !error.matches(PyExc_OverflowError) &&
          !error.matches(PyExc_OSError)) {
        throw;
      }
      return py::str("Invalid");
    }
  }
  char text[] = "YYYY-mm-dd HH:MM:SS";
  const auto put = [&](std::size_t at, int number, std::size_t width) {
    for (std::size_t digit = width; digit-- > 0; number /= 10) {
      text[at + digit] = static_cast<char>('0' + number % 10);
    }
  };
  put(0, local->tm_year + 1900, 4);
  put(5, local->tm_mon + 1, 2);
  put(8, local->tm_mday, 2);
  put(11, local->tm_hour, 2);
  put(14, local->tm_min, 2);
  put(17, std::min(local->tm_sec, 59), 2);
  return py::str(text, sizeof text - 1);
}

bool has_own_to_dict(py::handle cls, bool job) {
  const py::object method = cls.attr("to_dict");
  return method.is((job ? kJob : kExecution).made->get_stored().to_dict);
}

bool write_form(IndentedJson& text, py::handle record, bool job, int depth) {
  bool first = true;
  bool written = true;
  text.open('{');
  each_entry(record, job ? kJob : kExecution, true, [&](py::handle key, py::handle value) {
    text.entry(depth, first, key);
    first = false;
    written = written && text.value(value, depth + 1);
  });
  text.close('}', depth, first);
  return written;
}

void define_records(py::module_& m) {
  const Enumerations enumerations{
      make_enum("JobType", {{"CRON", "cron"}, {"INTERVAL", "interval"}, {"ONCE", "once"}}),
      make_enum("JobState", {{"ACTIVE", "active"},
                             {"PAUSED", "paused"},
                             {"COMPLETED", "completed"},
                             {"DISABLED", "disabled"}})};
  const py::object job = make_dataclass(kJob, "Definition of a scheduled job.", enumerations);
  support::PlainClass(job).def_classmethod("from_dict", &job_from_dict, py::arg("data"));
  const py::object execution = make_dataclass(kExecution, "Record of a single job execution.", enumerations);

  const py::module_ typing = support::import("typing");
  m.attr("JobType") = enumerations.job_type;
  m.attr("JobState") = enumerations.job_state;
  m.attr("ScheduledJob") = job;
  m.attr("JobExecution") = execution;
  m.attr("JobFireCallback") = typing.attr("Callable")[py::make_tuple(
      py::list(py::make_tuple(job)), typing.attr("Awaitable")[support::type_object(PyUnicode_Type)])];
  m.def("_format_timestamp", &format_timestamp, py::arg("ts"),
        "Format a Unix timestamp as a human-readable string.");
}

}  // namespace scheduler
