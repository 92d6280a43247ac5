// Window queries on Linux: the window manager's client list (xprop) for the top-level
// windows, xdotool for titles, the active window and activation.
#include "desktop_access/linux.hpp"
#include "desktop_access/linux_common.hpp"
#include "desktop_access/process.hpp"
#include "support/args.hpp"

#include <limits>

namespace desktop_access {

namespace {

using namespace pybind11::literals;
using namespace linux_desktop;
using support::Coroutine;

constexpr int kWindowNameSeconds = 3;
constexpr Py_ssize_t kMaxListedWindows = 50;
// How long an activation may take to show before focus_window reports that it failed.
constexpr int kActivationChecks = 40;
constexpr double kActivationCheckSeconds = 0.05;

Coroutine get_focused_window(py::object self) {
  if (!flag(self, "_linux_xdotool_available")) {
    co_return failure("xdotool not available");
  }
  try {
    py::tuple output = co_await run_captured(py::make_tuple("xdotool", "getactivewindow", "getwindowname"),
                                             py::int_(kXdotoolSeconds));
    co_return py::dict("success"_a = true, "title"_a = title_text(output[0]));
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    co_return failure(support::exception_text(error.value()));
  }
}

Coroutine list_windows(py::object self) {
  if (!flag(self, "_linux_xdotool_available")) {
    co_return failure("No window listing tool available");
  }
  try {
    py::list windows = co_await client_windows(kMaxListedWindows, kWindowNameSeconds);
    co_return py::dict("success"_a = true, "windows"_a = windows, "count"_a = py::len(windows));
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    co_return failure(support::exception_text(error.value()));
  }
}

// Whether `window_id` becomes the active window within the checks' time.
Coroutine became_active(py::str window_id) {
  py::module_ asyncio = support::import("asyncio");
  for (int check = 0; check < kActivationChecks; ++check) {
    py::object active = co_await active_window_id();
    if (active.equal(window_id)) {
      co_return py::bool_(true);
    }
    co_await asyncio.attr("sleep")(kActivationCheckSeconds);
  }
  co_return py::bool_(false);
}

Coroutine focus_window(py::object self, py::object title) {
  if (!flag(self, "_linux_xdotool_available")) {
    co_return failure("xdotool not available");
  }
  try {
    py::object windows = co_await client_windows(std::numeric_limits<Py_ssize_t>::max(), kWindowNameSeconds);
    py::object window = find_window(windows, title);
    if (!window) {
      co_return failure(py::str("No window matching: {}").format(title));
    }
    py::str window_id = window["id"];
    co_await run_captured(py::make_tuple("xdotool", "windowactivate", window_id), py::int_(kXdotoolSeconds));
    py::object active = co_await became_active(window_id);
    if (!support::args::to_bool(active)) {
      co_return failure(
          py::str("Window \"{}\" (id: {}) did not become active").format(window["title"], window_id));
    }
    co_return py::dict("success"_a = true, "window"_a = title, "window_id"_a = window_id);
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    co_return failure(support::exception_text(error.value()));
  }
}

}  // namespace

void register_linux_queries(support::PlainClass& methods) {
  methods.def_coroutine("_get_focused_window_linux", [](py::object self) { return get_focused_window(self); })
      .def_coroutine("_list_windows_linux", [](py::object self) { return list_windows(self); })
      .def_coroutine(
          "_focus_window_linux", [](py::object self, py::object title) { return focus_window(self, title); },
          py::arg("title"));
}

}  // namespace desktop_access
