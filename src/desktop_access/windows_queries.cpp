// The Windows window queries: the focused window, the visible windows and focusing a
// window by title, each a blocking query run in the loop's default executor.
#include "desktop_access/windows.hpp"
#include "desktop_access/windows_common.hpp"

namespace desktop_access::uia {

namespace {

using namespace pybind11::literals;
using support::Coroutine;

constexpr const char* kFocusedHint = "Window focused. Use desktop_snapshot() to see its contents.";

py::object first_wrapper(py::handle windows) { return windows[py::int_(0)].attr("wrapper_object")(); }

py::dict rectangle_dict(py::handle rectangle) {
  return py::dict("left"_a = rectangle.attr("left"), "top"_a = rectangle.attr("top"),
                  "right"_a = rectangle.attr("right"), "bottom"_a = rectangle.attr("bottom"));
}

py::dict focused_window_sync(py::object self) {
  if (flag(self, "_pywinauto_available")) {
    py::object handle = foreground_window();
    if (!args::to_bool(handle)) {
      return failure("No foreground window");
    }
    py::object windows = pywinauto_desktop().attr("windows")("handle"_a = handle);
    if (args::to_bool(windows)) {
      py::object window = first_wrapper(windows);
      py::object title = window.attr("window_text")();
      py::object class_name = window.attr("friendly_class_name")();
      py::dict rect = rectangle_dict(window.attr("rectangle")());
      return py::dict("success"_a = true, "title"_a = title, "class_name"_a = class_name,
                      "handle"_a = py::int_(handle), "rect"_a = rect);
    }
  }
  return failure("Could not get focused window");
}

py::dict list_windows_sync(py::object self) {
  if (!flag(self, "_pywinauto_available")) {
    return failure("pywinauto not available");
  }
  py::list windows;
  for (py::handle found : pywinauto_desktop().attr("windows")("visible_only"_a = true)) {
    // A window that vanishes or cannot be read is left out.
    attempted([&] {
      py::object window = found.attr("wrapper_object")();
      py::object title = window.attr("window_text")();
      if (is_nonblank(title)) {
        py::object class_name = window.attr("friendly_class_name")();
        windows.append(py::dict("title"_a = title, "class_name"_a = class_name));
      }
      return true;
    });
  }
  const std::size_t count = windows.size();
  return py::dict("success"_a = true, "windows"_a = windows, "count"_a = count);
}

py::dict focus_window_sync(py::object, py::object title) {
  py::object windows =
      pywinauto_desktop().attr("windows")("title_re"_a = containing_pattern(title), "visible_only"_a = true);
  if (!args::to_bool(windows)) {
    return failure(py::str("No window matching: {}").format(title));
  }
  py::object window = first_wrapper(windows);
  window.attr("set_focus")();
  py::object name = window.attr("window_text")();
  return py::dict("success"_a = true, "window"_a = name, "hint"_a = kFocusedHint);
}

// The blocking `method` of self, run in the default executor with `arguments` when the
// flag `required` is set; otherwise, and on any failure, a failure result. The texts
// are literals.
Coroutine query(py::object self, const char* required, const char* unavailable, const char* method,
                py::tuple arguments) {
  if (!flag(self, required)) {
    co_return failure(unavailable);
  }
  try {
    co_return co_await in_default_executor(self.attr(method), *arguments);
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    co_return failure(support::exception_text(error.value()));
  }
}

}  // namespace

void register_window_queries(support::PlainClass& methods) {
  methods
      .def_coroutine("_get_focused_window_windows",
                     [](py::object self) {
                       return query(self, "_uia_available", "UIA not available", "_get_focused_window_sync",
                                    py::tuple());
                     })
      .def_coroutine("_list_windows_windows",
                     [](py::object self) {
                       return query(self, "_uia_available", "UIA not available", "_list_windows_sync",
                                    py::tuple());
                     })
      .def_coroutine(
          "_focus_window_windows",
          [](py::object self, py::object title) {
            return query(self, "_pywinauto_available", "pywinauto not available", "_focus_window_sync",
                         py::make_tuple(title));
          },
          py::arg("title"))
      .def("_get_focused_window_sync", &focused_window_sync)
      .def("_list_windows_sync", &list_windows_sync, py::doc("List windows synchronously (Windows)."))
      .def("_focus_window_sync", &focus_window_sync, py::arg("title"),
           py::doc("Focus window synchronously (Windows)."));
}

}  // namespace desktop_access::uia
