// Snapshots on Linux: the AT-SPI2 walker in a child python3, else the window's title
// from xdotool.
#include "desktop_access/linux.hpp"
#include "desktop_access/linux_common.hpp"
#include "desktop_access/process.hpp"
#include "desktop_access/walker_program.hpp"
#include "support/args.hpp"
#include "support/json.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace desktop_access {

namespace {

using namespace pybind11::literals;
using namespace linux_desktop;
namespace args = support::args;
using support::Coroutine;

// The walker stops reading the tree this long before the time limit, to read the
// values of what it lists and print its answer.
constexpr double kAnswerSeconds = 4.0;
constexpr const char* kTimedOut = "AT-SPI2 snapshot timed out";

py::str walker_program_for(py::handle max_depth, py::handle window_title, const WalkerOptions& options,
                           std::optional<long long> target_pid = std::nullopt) {
  std::optional<std::u32string> title;
  if (!window_title.is_none()) {
    Py_UCS4* characters = PyUnicode_AsUCS4Copy(window_title.ptr());
    if (characters == nullptr) {
      throw py::error_already_set();
    }
    title.emplace(characters, characters + PyUnicode_GET_LENGTH(window_title.ptr()));
    PyMem_Free(characters);
  }
  return support::from_utf8(walker_program(std::string(py::str(max_depth)), title, target_pid, options));
}

bool succeeded(py::handle data) { return args::to_bool(data.attr("get")("success")); }

// The walker's answer when it finds no window to walk.
bool found_no_window(py::handle data) {
  return PyDict_Check(data.ptr()) && !succeeded(data) &&
         data.attr("get")("error").equal(py::str("No window found"));
}

// The snapshot's time limit in seconds: the module's SNAPSHOT_TIMEOUT, read at each
// snapshot so that a host can change it.
// A value of the wrong type or range raises, as a Python error.
double time_limit() {
  double seconds = 0;
  try {
    seconds = args::to_real(support::import(kModuleName).attr("SNAPSHOT_TIMEOUT"), "SNAPSHOT_TIMEOUT");
  } catch (py::builtin_exception&) {
    support::set_error_from_current_exception();
    throw py::error_already_set();
  }
  if (!(seconds > 0) || !std::isfinite(seconds)) {
    PyErr_SetString(PyExc_ValueError, "SNAPSHOT_TIMEOUT must be a positive number of seconds");
    throw py::error_already_set();
  }
  return seconds;
}

// Runs the walker under the interpreter that probing found with the AT-SPI2 bindings
// and returns its answer object, or a failure when it printed nothing.
Coroutine run_walker(py::object self, py::object program, py::object seconds) {
  py::object python = support::optional_attr(self, py::str("_linux_atspi_python"));
  py::tuple argv = py::make_tuple(python && !python.is_none() ? python : py::str("python3"), "-c", program);
  py::tuple output = co_await run_captured(argv, seconds);
  py::str raw = decoded(output[0], "replace");
  if (py::len(raw) == 0) {
    co_return failure("AT-SPI2 failed: " + std::string(decoded(output[1], "replace")));
  }
  co_return support::json::loads(raw);
}

// The X window a snapshot is meant for, {"id": ..., "title": ...}: the managed window
// that `window_title` names, or the active window without a title. None when there is
// none or X cannot tell.
Coroutine x_window(py::object window_title) {
  try {
    if (has_title(window_title)) {
      py::object windows = co_await client_windows(std::numeric_limits<Py_ssize_t>::max(), kXdotoolSeconds);
      py::object window = find_window(windows, window_title);
      if (!window) {
        co_return py::none();
      }
      co_return window;
    }
    py::str window_id = co_await active_window_id();
    if (is_empty(window_id)) {
      co_return py::none();
    }
    py::object title = co_await window_title_of(window_id);
    co_return py::dict("id"_a = window_id, "title"_a = title);
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    co_return py::none();
  }
}

// The process id of an X window (_NET_WM_PID), or None.
Coroutine window_pid(py::object window_id) {
  try {
    py::str pid =
        co_await xdotool(py::make_tuple("xdotool", "getwindowpid", window_id), py::int_(kXdotoolSeconds));
    if (is_empty(pid) || !args::to_bool(pid.attr("isdigit")())) {
      co_return py::none();
    }
    co_return py::int_(pid);
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    co_return py::none();
  }
}

// When no accessible window's name holds the title (or none is active), the X window
// is found by its title (or as the active window) and the accessible application of
// the same process gives the window. Another window's tree never stands in for it.
Coroutine snapshot_atspi(py::object self, py::object window_title, py::object max_depth,
                         WalkerOptions options) {
  try {
    const double limit = time_limit();
    options.walk_seconds = std::max(0.0, limit - kAnswerSeconds);
    py::float_ seconds(limit);
    py::object data =
        co_await run_walker(self, walker_program_for(max_depth, window_title, options), seconds);
    if (found_no_window(data)) {
      py::object window = co_await x_window(window_title);
      py::object pid = py::none();
      if (!window.is_none()) {
        pid = co_await window_pid(window["id"]);
      }
      if (!pid.is_none()) {
        py::object by_process = co_await run_walker(
            self, walker_program_for(max_depth, window["title"], options, pid.cast<long long>()), seconds);
        if (!found_no_window(by_process)) {
          data = by_process;
        }
      }
      if (found_no_window(data)) {
        if (has_title(window_title)) {
          co_return failure(py::str("No window found matching: {}").format(window_title));
        }
        if (!window.is_none()) {
          co_return failure(
              py::str("The focused window exposes no accessibility tree: {}").format(window["title"]));
        }
        co_return data;
      }
    }
    if (!succeeded(data)) {
      co_return data;
    }
    py::dict result = self.attr("_render_atspi_answer")(data);
    if (args::to_bool(data.attr("get")("timed_out", false))) {
      // What was walked before the walker's own deadline; its refs are the ones kept.
      co_return py::dict("success"_a = false, "error"_a = kTimedOut,
                         "partial_snapshot"_a = result["snapshot"]);
    }
    co_return result;
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    if (error.matches(PyExc_TimeoutError)) {
      co_return failure(kTimedOut);
    }
    const std::string text = support::exception_text(error.value());
    kLog.error([&] { return "Linux AT-SPI2 snapshot failed: " + text; });
    co_return failure(text);
  }
}

Coroutine snapshot_xdotool(py::object self, py::object window_title) {
  try {
    py::object window_id;
    py::object name;
    if (has_title(window_title)) {
      py::object windows = co_await client_windows(std::numeric_limits<Py_ssize_t>::max(), kXdotoolSeconds);
      py::object window = find_window(windows, window_title);
      if (window) {
        window_id = window["id"];
        name = window["title"];
      }
    } else {
      window_id = co_await active_window_id();
      if (!is_empty(window_id)) {
        name = co_await window_title_of(window_id);
      }
    }
    if (!name) {
      co_return failure("No window found");
    }
    replace_ref_map(self, py::dict(), 0);
    py::str snapshot = py::str(
                           "Window: {} (id: {})\n\nNote: Full accessibility tree requires AT-SPI2.\n"
                           "Install: sudo apt install python3-gi gir1.2-atspi-2.0 at-spi2-core\n"
                           "For now, use coordinate-based interaction via desktop_click(x, y).")
                           .format(name, window_id);
    co_return py::dict(
        "success"_a = true, "window"_a = name, "window_id"_a = window_id, "snapshot"_a = snapshot,
        "element_count"_a = 0, "platform"_a = "linux_xdotool",
        "hint"_a = "Install AT-SPI2 for full element tree, or use screenshot + coordinate clicks.");
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    co_return failure(support::exception_text(error.value()));
  }
}

// The walker's options from the backend's keyword arguments.
WalkerOptions walker_options(const py::object& states, const py::object& max_elements) {
  WalkerOptions options;
  options.states = args::to_bool(states);
  if (!max_elements.is_none()) {
    const long long bound = args::to_long(max_elements, "max_elements");
    if (bound < 1) {
      throw py::value_error("Argument 'max_elements' must be at least 1 (got " + std::to_string(bound) + ")");
    }
    options.max_elements = bound;
  }
  return options;
}

Coroutine snapshot_linux(py::object self, py::object window_title, py::object max_depth, py::dict options) {
  if (flag(self, "_linux_atspi_available")) {
    co_return co_await self.attr("_snapshot_linux_atspi")(window_title, max_depth, **options);
  }
  if (flag(self, "_linux_xdotool_available")) {
    co_return co_await self.attr("_snapshot_linux_xdotool")(window_title);
  }
  co_return failure(
      "No Linux desktop accessibility tools available. Install xdotool: sudo apt install xdotool\n"
      "For full accessibility tree: sudo apt install python3-gi gir1.2-atspi-2.0 at-spi2-core");
}

}  // namespace

void register_linux_snapshot(support::PlainClass& methods) {
  methods
      .def_coroutine(
          "_snapshot_linux",
          [](py::object self, py::object window_title, py::object max_depth, py::object states,
             py::object max_elements) {
            return snapshot_linux(self, window_title, max_depth, given_options(states, max_elements));
          },
          py::arg("window_title"), py::arg("max_depth"), py::kw_only(), py::arg("states") = false,
          py::arg("max_elements") = py::none())
      .def_coroutine(
          "_snapshot_linux_atspi",
          [](py::object self, py::object window_title, py::object max_depth, py::object states,
             py::object max_elements) {
            // All go into the walker's program text: only a str (or None) and integers.
            py::object title = args::to_optional_str(window_title, "window_title");
            py::object depth = args::to_int(max_depth, "max_depth");
            return snapshot_atspi(self, title, depth, walker_options(states, max_elements));
          },
          py::arg("window_title"), py::arg("max_depth"), py::kw_only(), py::arg("states") = false,
          py::arg("max_elements") = py::none())
      .def_coroutine(
          "_snapshot_linux_xdotool",
          [](py::object self, py::object window_title) { return snapshot_xdotool(self, window_title); },
          py::arg("window_title"));
}

}  // namespace desktop_access
