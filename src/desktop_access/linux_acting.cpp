#include "desktop_access/linux_acting.hpp"

#include "desktop_access/atspi_acting.hpp"
#include "desktop_access/desktop_access.hpp"
#include "desktop_access/linux_common.hpp"
#include "desktop_access/process.hpp"
#include "support/args.hpp"
#include "support/json.hpp"

namespace desktop_access::linux_desktop {

using namespace pybind11::literals;

namespace {

// Long enough for a busy application's reply; the child is killed after it.
constexpr int kActingSeconds = 10;

bool is_int(py::handle value) { return PyLong_Check(value.ptr()) && !PyBool_Check(value.ptr()); }

// A path of child indexes: a non-empty list of ints.
bool is_path(py::handle value) {
  if (!PyList_Check(value.ptr()) || PyList_GET_SIZE(value.ptr()) == 0) {
    return false;
  }
  for (py::handle index : value) {
    if (!is_int(index)) {
      return false;
    }
  }
  return true;
}

// The (x, y) of "Absolute upper-left X: 81" and "...Y: 80" in xwininfo output, or None.
py::object absolute_origin(py::handle text) {
  py::object x, y;
  for (py::handle line : text.attr("splitlines")()) {
    py::list parts = line.attr("partition")(":");
    py::str key = py::str(parts[0]).attr("strip")();
    if (key.equal(py::str("Absolute upper-left X"))) {
      x = py::int_(parts[2]);
    } else if (key.equal(py::str("Absolute upper-left Y"))) {
      y = py::int_(parts[2]);
    }
  }
  if (!x || !y) {
    return py::none();
  }
  return py::make_tuple(x, y);
}

// The visible X window of process `pid` named `name` (the only one when none has that
// name), or None.
support::Coroutine x_window_of(py::object pid, py::object name) {
  py::str ids = co_await xdotool(py::make_tuple("xdotool", "search", "--onlyvisible", "--pid", py::str(pid)),
                                 py::int_(kXdotoolSeconds));
  py::list found = ids.attr("split")();
  for (py::handle window_id : found) {
    py::object title = co_await window_title_of(py::reinterpret_borrow<py::object>(window_id));
    if (title.equal(name)) {
      co_return py::reinterpret_borrow<py::object>(window_id);
    }
  }
  if (py::len(found) == 1) {
    co_return py::object(found[0]);
  }
  co_return py::none();
}

// The X window of an element: x_window_of, None without a process id or xdotool.
support::Coroutine element_window(py::object self, py::object pid, py::object name) {
  if (pid.is_none() || !flag(self, "_linux_xdotool_available")) {
    co_return py::none();
  }
  co_return co_await x_window_of(pid, name);
}

}  // namespace

py::object acting_request(py::handle record, const char* op) {
  py::object get = record.attr("get");
  py::object bus_name = get("bus_name");
  py::object pid = get("pid");
  py::object path = get("path");
  py::object role = get("role");
  py::object name = get("name");
  if (!PyUnicode_Check(bus_name.ptr()) || !(pid.is_none() || is_int(pid)) || !is_path(path) ||
      !PyUnicode_Check(role.ptr()) || !PyUnicode_Check(name.ptr())) {
    return py::object();
  }
  return py::dict("op"_a = op, "bus_name"_a = bus_name, "pid"_a = pid, "path"_a = path, "role"_a = role,
                  "name"_a = name);
}

support::Coroutine run_acting(py::object self, py::object request) {
  py::object python = support::optional_attr(self, py::str("_linux_atspi_python"));
  // json.dumps escapes every character beyond ASCII: the text arrives whole whatever
  // the child's locale, lone surrogates included.
  py::tuple argv = py::make_tuple(python && !python.is_none() ? python : py::str("python3"), "-c",
                                  kAtspiActingProgram, support::json::dumps(request));
  py::tuple output = co_await run_captured(argv, py::int_(kActingSeconds));
  py::str raw = decoded(output[0], "replace");
  if (is_empty(raw)) {
    co_return failure("AT-SPI2 failed: " + std::string(decoded(output[1], "replace")));
  }
  co_return support::json::loads(raw);
}

support::Coroutine activate_window(py::object self, py::object pid, py::object name) {
  py::object window = co_await element_window(self, pid, name);
  if (!window.is_none()) {
    co_await xdotool(py::make_tuple("xdotool", "windowactivate", "--sync", window),
                     py::int_(kXdotoolSeconds));
  }
  co_return window;
}

support::Coroutine answer_point(py::object self, py::object answer, py::object pid) {
  py::object rectangle = answer.attr("get")("rectangle");
  if (rectangle.is_none()) {
    co_return py::none();
  }
  auto field = [&](int index) { return rectangle[py::int_(index)].cast<long long>(); };
  long long x = field(0) + field(2) / 2;
  long long y = field(1) + field(3) / 2;
  // The pointer clicks whatever is on top at that point: the element's window first,
  // unless the element is in an open popup, which activating would close.
  const bool in_popup = support::args::to_bool(answer.attr("get")("popup", false));
  const bool window_relative = support::args::to_bool(answer.attr("get")("window_relative", false));
  py::object name = answer.attr("get")("window", "");
  py::object window = py::none();
  if (!in_popup) {
    window = co_await activate_window(self, pid, name);
  } else if (window_relative) {
    window = co_await element_window(self, pid, name);
  }
  if (window_relative) {
    if (window.is_none()) {
      co_return py::none();
    }
    py::tuple output =
        co_await run_captured(py::make_tuple("xwininfo", "-id", window), py::int_(kXdotoolSeconds));
    py::object origin = absolute_origin(decoded(output[0], "replace"));
    if (origin.is_none()) {
      co_return py::none();
    }
    x += origin[py::int_(0)].cast<long long>();
    y += origin[py::int_(1)].cast<long long>();
  }
  co_return py::make_tuple(x, y);
}

bool can_point(py::handle self) {
  return flag(self, "_pyautogui_available") || flag(self, "_linux_xdotool_available");
}

support::Coroutine point_and_click(py::object self, py::object point, bool double_click) {
  py::object x = point[py::int_(0)];
  py::object y = point[py::int_(1)];
  if (flag(self, "_pyautogui_available")) {
    support::import("pyautogui").attr(double_click ? "doubleClick" : "click")(x, y);
    co_return py::none();
  }
  py::list argv(py::make_tuple("xdotool", "mousemove", "--sync", py::str(x), py::str(y), "click"));
  if (double_click) {
    argv.append("--repeat");
    argv.append("2");
  }
  argv.append("1");
  co_await xdotool(py::tuple(argv), py::int_(kXdotoolSeconds));
  co_return py::none();
}

}  // namespace desktop_access::linux_desktop
