#include "scheduler/state_file.hpp"

#include "scheduler/jobs.hpp"
#include "scheduler/scheduler.hpp"
#include "scheduler/state_text.hpp"
#include "support/errors.hpp"
#include "support/json.hpp"
#include "support/keys.hpp"

#include <optional>
#include <string_view>
#include <utility>

namespace scheduler {

namespace {

using namespace pybind11::literals;

constexpr int kExecutionsSaved = 100;
// Room reserved for each record of the state text, enough for most: growing the text
// copies it.
constexpr std::size_t kRecordSizeGuess = 1024;

void remove_quietly(const py::object& path) {
  try {
    support::import("os").attr("unlink")(path);
  } catch (py::error_already_set&) {
    // Nothing more to do: the temporary file is only litter now.
  }
}

// Writes `text` to a temporary file beside `path`, flushed to the disk, and renames it
// over `path`: readers see the old content or the new, never a part.
void write_atomically(const py::object& path, std::string_view text) {
  const py::module_ os = support::import("os");
  const py::object directory = path.attr("parent");
  directory.attr("mkdir")("parents"_a = true, "exist_ok"_a = true);
  const py::tuple made = support::import("tempfile")
                             .attr("mkstemp")("prefix"_a = py::str(".{}.").format(path.attr("name")),
                                              "suffix"_a = ".tmp", "dir"_a = directory);
  const py::object descriptor = made[0];
  const py::object temporary = made[1];
  try {
    try {
      // Written from the text in place, not copied into a bytes object first; each view
      // is released after its write, so that nothing reads the text once it is freed.
      const py::object view = support::steal(PyMemoryView_FromMemory(
          const_cast<char*>(text.data()), static_cast<Py_ssize_t>(text.size()), PyBUF_READ));
      for (std::size_t written = 0; written < text.size();) {
        const py::object part = view[py::slice(py::int_(written), py::none(), py::none())];
        try {
          written += os.attr("write")(descriptor, part).cast<std::size_t>();
        } catch (py::error_already_set&) {
          part.attr("release")();
          throw;
        }
        part.attr("release")();
      }
      os.attr("fsync")(descriptor);
    } catch (py::error_already_set&) {
      os.attr("close")(descriptor);
      throw;
    }
    os.attr("close")(descriptor);
    os.attr("replace")(temporary, path);
  } catch (py::error_already_set&) {
    remove_quietly(temporary);
    throw;
  }
}

struct Keys {
  support::Interned jobs{"jobs"};
  support::Interned executions{"executions"};
  support::Interned prompt{"prompt"};
};
const Keys& keys() { return support::interned<Keys>(); }

py::list latest_executions(py::handle scheduler) {
  return scheduler.attr("_executions")[py::slice(py::int_(-kExecutionsSaved), py::none(), py::none())];
}

// A record's dictionary form as saved, through its to_dict: a job's with the whole
// prompt, so that a long prompt survives a restart.
py::dict saved_form(py::handle record, bool job) {
  py::dict form = record.attr("to_dict")();
  if (job) {
    form[keys().prompt] = record.attr(keys().prompt);
  }
  return form;
}

py::dict state_of(py::handle scheduler) {
  py::dict jobs;
  for (auto [key, job] : py::dict(scheduler.attr("_jobs"))) {
    jobs[key] = saved_form(job, true);
  }
  py::list executions;
  for (py::handle execution : latest_executions(scheduler)) {
    executions.append(saved_form(execution, false));
  }
  return support::make_dict({{keys().jobs, jobs}, {keys().executions, executions}});
}

// The text of state_of(scheduler) as json.dumps(indent=2) writes it, without building
// the state; none when something in it is left to the json module.
std::optional<std::string> state_text(py::handle scheduler) {
  const py::dict jobs(scheduler.attr("_jobs"));
  IndentedJson text(kRecordSizeGuess * (jobs.size() + kExecutionsSaved));
  text.open('{');
  // Each record straight from its fields while its class has this module's own to_dict
  // (asked once per class: the records of a save share one or two); false when the
  // record holds something left to the json module.
  std::pair<PyTypeObject*, bool> checked[2] = {};  // for executions, for jobs
  const auto write = [&](py::handle record, bool job) {
    auto& [cls, own] = checked[job];
    if (cls != Py_TYPE(record.ptr())) {
      cls = Py_TYPE(record.ptr());
      own = has_own_to_dict(py::type::handle_of(record), job);
    }
    return own ? write_form(text, record, job, 2) : text.value(saved_form(record, job), 2);
  };
  text.entry(0, true, keys().jobs);
  text.open('{');
  bool first = true;
  for (auto [key, job] : jobs) {
    if (!PyUnicode_Check(key.ptr())) {
      return std::nullopt;
    }
    text.entry(1, first, key);
    first = false;
    if (!write(job, true)) {
      return std::nullopt;
    }
  }
  text.close('}', 1, first);
  text.entry(0, false, keys().executions);
  const py::list executions = latest_executions(scheduler);
  text.open('[');
  for (std::size_t index = 0; index < executions.size(); ++index) {
    text.entry(1, index == 0);
    if (!write(executions[index], false)) {
      return std::nullopt;
    }
  }
  text.close(']', 1, executions.empty());
  text.close('}', 0);
  return text.take();
}

// Removes the temporary files of saves that never finished (the process was killed
// while writing): those write_atomically names ".{name}.XXXXXXXX.tmp".
void remove_stale_temporaries(const py::object& path) {
  const py::object pattern = support::import("re").attr("compile")(
      py::str("\\.{}\\.[a-z0-9_]{{8}}\\.tmp")
          .format(support::import("re").attr("escape")(path.attr("name"))));
  try {
    for (py::handle entry : path.attr("parent").attr("iterdir")()) {
      if (!pattern.attr("fullmatch")(entry.attr("name")).is_none()) {
        remove_quietly(py::reinterpret_borrow<py::object>(entry));
      }
    }
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    // An unreadable directory: the load reports what matters.
  }
}

// Copies a damaged state file beside itself before the next save replaces it.
void keep_copy(const py::object& path) {
  try {
    const py::object name = path.attr("name");
    py::object copy = path.attr("with_name")(py::str("{}.bad").format(name));
    for (int number = 1; py::bool_(copy.attr("exists")()); ++number) {
      copy = path.attr("with_name")(py::str("{}.bad.{}").format(name, number));
    }
    support::import("shutil").attr("copyfile")(path, copy);
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    kLog.error([&] {
      return py::str("Failed to load scheduler state: cannot keep a copy of {}: {}")
          .format(path, support::exception_text(error.value()));
    });
  }
}

}  // namespace

void save_state(py::handle scheduler) {
  try {
    const std::optional<std::string> text = state_text(scheduler);
    const py::bytes fallback = text ? py::bytes()
                                    : py::bytes(support::import("json")
                                                    .attr("dumps")(state_of(scheduler), "indent"_a = 2)
                                                    .attr("encode")("ascii"));
    write_atomically(scheduler.attr("_storage_path"),
                     text ? std::string_view(*text) : std::string_view(fallback));
    scheduler.attr("_unsaved") = false;
    scheduler.attr("_save_failure") = py::none();
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    // Saved again by the loop's next pass and by stop(); a failure that repeats the
    // previous one is not logged again.
    scheduler.attr("_unsaved") = true;
    const py::str text(support::exception_text(error.value()));
    if (!text.equal(scheduler.attr("_save_failure"))) {
      scheduler.attr("_save_failure") = text;
      kLog.error([&] { return py::str("Failed to save scheduler state: {}").format(text); });
    }
  }
}

void load_state(py::handle scheduler) {
  const py::object path = scheduler.attr("_storage_path");
  bool damaged = false;
  try {
    remove_stale_temporaries(path);
    if (!py::bool_(path.attr("exists")())) {
      return;
    }
    const py::object data = support::json::loads(path.attr("read_text")("encoding"_a = "utf-8"));
    const py::object records = data.attr("get")("jobs", py::dict());
    py::object table = scheduler.attr("_jobs");
    const py::object from_dict = module_attr("ScheduledJob").attr("from_dict");
    for (py::handle item : records.attr("items")()) {
      const py::object key = item[py::int_(0)];
      try {
        py::object job = from_dict(item[py::int_(1)]);
        check_stored_job(job);
        table[job.attr("id")] = job;
      } catch (py::error_already_set& error) {
        support::rethrow_unless_ordinary(error);
        damaged = true;
        kLog.error([&] {
          return py::str("Failed to load scheduler state: job {}: {}")
              .format(key, support::exception_text(error.value()));
        });
      }
    }
    kLog.info([&] { return py::str("Loaded {} scheduled jobs").format(py::len(table)); });
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    damaged = true;
    kLog.error([&] {
      return py::str("Failed to load scheduler state: {}").format(support::exception_text(error.value()));
    });
  }
  if (damaged) {
    keep_copy(path);
  }
}

}  // namespace scheduler
