#include "desktop_access/linux_common.hpp"

#include "desktop_access/desktop_access.hpp"
#include "desktop_access/process.hpp"

#include <charconv>

namespace desktop_access::linux_desktop {

using namespace pybind11::literals;

namespace {

constexpr int kClientListSeconds = 5;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

support::Coroutine xdotool(py::tuple argv, py::object seconds) {
  py::tuple output = co_await run_captured(argv, seconds);
  co_return output[0].attr("decode")("utf-8").attr("strip")();
}

py::str first_line(py::handle text) { return text.attr("split")("\n")[py::int_(0)]; }

py::str decoded(py::handle bytes, const char* errors) {
  return bytes.attr("decode")("utf-8", errors).attr("strip")();
}

py::str title_text(py::handle bytes) {
  const char* data = PyBytes_AsString(bytes.ptr());
  if (data == nullptr) {
    throw py::error_already_set();
  }
  const Py_ssize_t size = PyBytes_GET_SIZE(bytes.ptr());
  PyObject* text = PyUnicode_DecodeUTF8(data, size, nullptr);
  if (text == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) {
      throw py::error_already_set();
    }
    PyErr_Clear();
    text = PyUnicode_DecodeLatin1(data, size, nullptr);
    if (text == nullptr) {
      throw py::error_already_set();
    }
  }
  return py::reinterpret_steal<py::str>(text).attr("strip")();
}

std::vector<std::string> client_list_ids(std::string_view xprop_output) {
  std::vector<std::string> ids;
  const std::size_t hash = xprop_output.find('#');
  if (hash == std::string_view::npos) {
    return ids;  // "_NET_CLIENT_LIST:  not found."
  }
  std::string_view rest = xprop_output.substr(hash + 1);
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    std::string_view item = rest.substr(0, comma);
    while (!item.empty() && is_space(item.front())) {
      item.remove_prefix(1);
    }
    while (!item.empty() && is_space(item.back())) {
      item.remove_suffix(1);
    }
    if (item.starts_with("0x")) {
      item.remove_prefix(2);
    }
    unsigned long long id = 0;
    const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), id, 16);
    if (error == std::errc() && end == item.data() + item.size() && id != 0) {
      ids.push_back(std::to_string(id));
    }
    if (comma == std::string_view::npos) {
      break;
    }
    rest.remove_prefix(comma + 1);
  }
  return ids;
}

support::Coroutine window_title_of(py::object window_id, int seconds) {
  py::tuple output =
      co_await run_captured(py::make_tuple("xdotool", "getwindowname", window_id), py::int_(seconds));
  co_return title_text(output[0]);
}

support::Coroutine client_windows(Py_ssize_t limit, int title_seconds) {
  py::tuple output = co_await run_captured(py::make_tuple("xprop", "-root", "_NET_CLIENT_LIST"),
                                           py::int_(kClientListSeconds));
  const std::vector<std::string> ids = client_list_ids(support::Utf8(decoded(output[0], "replace")).view());
  py::list windows;
  for (std::size_t i = 0; i < ids.size() && static_cast<Py_ssize_t>(i) < limit; ++i) {
    py::str window_id(ids[i]);
    py::object title = co_await window_title_of(window_id, title_seconds);
    if (!is_empty(title)) {
      windows.append(py::dict("id"_a = window_id, "title"_a = title));
    }
  }
  co_return windows;
}

py::object find_window(py::handle windows, py::handle title) {
  for (py::handle window : windows) {
    py::object candidate = window["title"];
    if (candidate.equal(title)) {
      return py::reinterpret_borrow<py::object>(window);
    }
  }
  py::module_ re = support::import("re");
  py::object pattern;
  try {
    pattern = re.attr("compile")(title, re.attr("IGNORECASE"));
  } catch (py::error_already_set& error) {
    if (!error.matches(re.attr("error"))) {
      throw;
    }
  }
  if (pattern) {
    for (py::handle window : windows) {
      if (!pattern.attr("search")(window["title"]).is_none()) {
        return py::reinterpret_borrow<py::object>(window);
      }
    }
  }
  py::object wanted = title.attr("casefold")();
  for (py::handle window : windows) {
    if (window["title"].attr("casefold")().contains(wanted)) {
      return py::reinterpret_borrow<py::object>(window);
    }
  }
  return py::object();
}

support::Coroutine active_window_id() {
  py::tuple output =
      co_await run_captured(py::make_tuple("xdotool", "getactivewindow"), py::int_(kXdotoolSeconds));
  co_return first_line(decoded(output[0], "replace"));
}

}  // namespace desktop_access::linux_desktop
