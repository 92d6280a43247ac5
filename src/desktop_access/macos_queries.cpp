// Window queries on macOS: the frontmost window, the list of windows, focusing one.
#include "desktop_access/core.hpp"
#include "desktop_access/macos.hpp"
#include "desktop_access/macos_common.hpp"
#include "desktop_access/macos_scripts.hpp"
#include "support/args.hpp"

namespace desktop_access {

namespace {

using namespace pybind11::literals;
using namespace macos;
namespace args = support::args;
namespace scripts = macos_scripts;
using support::Coroutine;

constexpr int kFocusedWindowSeconds = 5;
constexpr int kWindowListSeconds = 10;
constexpr int kFocusSeconds = 10;

Coroutine get_focused_window() {
  py::object app = co_await script_answer(support::from_utf8(scripts::frontmost_process()),
                                          py::int_(kFocusedWindowSeconds));
  if (is_empty(app)) {
    co_return failure("No frontmost application found");
  }
  py::object title =
      co_await script_answer(support::from_utf8(scripts::first_window_name(support::utf8_view(app))),
                             py::int_(kFocusedWindowSeconds));
  if (is_empty(title)) {
    title = app;
  }
  co_return py::dict("success"_a = true, "app"_a = app, "title"_a = title);
}

Coroutine list_windows() {
  py::object answer =
      co_await script_answer(support::from_utf8(scripts::window_list()), py::int_(kWindowListSeconds));
  py::list windows;
  for (py::handle line : answer.attr("split")("\n")) {
    if (!line.contains("|")) {
      continue;
    }
    py::list parts = line.attr("split")("|", 1);
    windows.append(py::dict("app"_a = parts[0].attr("strip")(), "title"_a = parts[1].attr("strip")()));
  }
  co_return py::dict("success"_a = true, "windows"_a = windows, "count"_a = py::len(windows));
}

Coroutine focus_window(py::object title) {
  py::object app = co_await script_answer(
      support::from_utf8(scripts::focus_window(support::utf8_view(title))), py::int_(kFocusSeconds));
  if (is_empty(app)) {
    co_return failure(py::str("No window matching: {}").format(title));
  }
  co_return py::dict("success"_a = true, "window"_a = title, "app"_a = app);
}

}  // namespace

void register_macos_queries(support::PlainClass& methods) {
  methods
      .def_coroutine("_get_focused_window_macos",
                     [](py::object) { return answering_failures(get_focused_window()); })
      .def_coroutine("_list_windows_macos", [](py::object) { return answering_failures(list_windows()); })
      .def_coroutine(
          "_focus_window_macos",
          [](py::object, py::object title) {
            py::object checked_title = args::to_str(title, "title");
            return answering_failures(focus_window(checked_title));
          },
          py::arg("title"));
}

}  // namespace desktop_access
