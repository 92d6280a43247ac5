// Window queries on Linux through xdotool: the focused window, the list, focusing one.
#include "desktop_access/linux.hpp"
#include "desktop_access/linux_common.hpp"
#include "desktop_access/process.hpp"

#include <algorithm>

namespace desktop_access {

namespace {

using namespace pybind11::literals;
using namespace linux_desktop;
using support::Coroutine;

constexpr int kWindowNameSeconds = 3;
constexpr Py_ssize_t kMaxListedWindows = 50;

Coroutine get_focused_window(py::object self) {
  if (!flag(self, "_linux_xdotool_available")) {
    co_return failure("xdotool not available");
  }
  try {
    py::object title = co_await xdotool(py::make_tuple("xdotool", "getactivewindow", "getwindowname"),
                                        py::int_(kXdotoolSeconds));
    co_return py::dict("success"_a = true, "title"_a = title);
  } catch (py::error_already_set& error) {
    rethrow_unless_exception(error);
    co_return failure(py::str(error.value()));
  }
}

Coroutine list_windows(py::object self) {
  if (!flag(self, "_linux_xdotool_available")) {
    co_return failure("No window listing tool available");
  }
  try {
    py::object ids = co_await xdotool(py::make_tuple("xdotool", "search", "--onlyvisible", "--name", ""),
                                      py::int_(kXdotoolSeconds));
    py::list lines = ids.attr("split")("\n");
    py::list windows;
    const Py_ssize_t examined = std::min(static_cast<Py_ssize_t>(py::len(lines)), kMaxListedWindows);
    for (Py_ssize_t i = 0; i < examined; ++i) {
      py::str window_id = lines[static_cast<std::size_t>(i)].attr("strip")();
      if (is_empty(window_id)) {
        continue;
      }
      py::object title = co_await xdotool(py::make_tuple("xdotool", "getwindowname", window_id),
                                          py::int_(kWindowNameSeconds));
      if (!is_empty(title)) {
        windows.append(py::dict("id"_a = window_id, "title"_a = title));
      }
    }
    co_return py::dict("success"_a = true, "windows"_a = windows, "count"_a = py::len(windows));
  } catch (py::error_already_set& error) {
    rethrow_unless_exception(error);
    co_return failure(py::str(error.value()));
  }
}

Coroutine focus_window(py::object self, py::object title) {
  if (!flag(self, "_linux_xdotool_available")) {
    co_return failure("xdotool not available");
  }
  try {
    py::str window_id = first_line(
        co_await xdotool(py::make_tuple("xdotool", "search", "--name", title), py::int_(kXdotoolSeconds)));
    if (is_empty(window_id)) {
      co_return failure(py::str("No window matching: {}").format(title));
    }
    co_await run_captured(py::make_tuple("xdotool", "windowactivate", window_id), py::int_(kXdotoolSeconds));
    co_return py::dict("success"_a = true, "window"_a = title, "window_id"_a = window_id);
  } catch (py::error_already_set& error) {
    rethrow_unless_exception(error);
    co_return failure(py::str(error.value()));
  }
}

}  // namespace

void register_linux_queries(MethodTable& methods) {
  methods
      .def("_get_focused_window_linux",
           [](py::object self) {
             return get_focused_window(self).to_python("DesktopAccess._get_focused_window_linux");
           })
      .def("_list_windows_linux",
           [](py::object self) { return list_windows(self).to_python("DesktopAccess._list_windows_linux"); })
      .def(
          "_focus_window_linux",
          [](py::object self, py::object title) {
            return focus_window(self, title).to_python("DesktopAccess._focus_window_linux");
          },
          py::arg("title"));
}

}  // namespace desktop_access
