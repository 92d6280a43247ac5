#include "desktop_access/desktop_access.hpp"

#include "support/args.hpp"

#include <algorithm>
#include <limits>

namespace desktop_access {

using namespace pybind11::literals;

py::dict failure(py::handle error) { return py::dict("success"_a = false, "error"_a = error); }

py::dict failure(const std::string& error) { return failure(py::str(error)); }

py::dict ref_failure(py::handle error, py::handle ref) {
  return py::dict("success"_a = false, "error"_a = error, "ref"_a = ref);
}

bool is_empty(py::handle text) { return py::len(text) == 0; }

bool has_title(py::handle window_title) {
  return !window_title.is_none() && support::args::to_bool(window_title);
}

std::string python_lower(std::string_view utf8) {
  bool ascii = true;
  for (char c : utf8) {
    ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  }
  if (!ascii) {
    return std::string(support::Utf8(support::from_utf8(utf8).attr("lower")()).view());
  }
  std::string lowered(utf8);
  for (char& c : lowered) {
    c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return lowered;
}

py::str element_label(py::handle record) {
  py::object control_type = record.attr("get")("control_type", "");
  py::object name = record.attr("get")("name", "");
  return py::str("{} \"{}\"").format(control_type, name);
}

std::optional<std::size_t> element_bound(py::handle max_elements) {
  if (max_elements.is_none()) {
    return std::nullopt;
  }
  py::int_ bound = support::args::to_int(max_elements, "max_elements");
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(bound.ptr(), &overflow);
  if (overflow > 0) {
    return std::numeric_limits<std::size_t>::max();
  }
  if (value == -1 && PyErr_Occurred()) {
    throw py::error_already_set();
  }
  return static_cast<std::size_t>(std::max(1LL, value));
}

py::dict given_options(py::handle states, py::handle max_elements) {
  py::dict given;
  if (support::args::to_bool(states)) {
    given["states"] = true;
  }
  if (!max_elements.is_none()) {
    given["max_elements"] = max_elements;
  }
  return given;
}

bool flag(py::handle self, const char* name) { return support::args::to_bool(self.attr(name)); }

void replace_ref_map(py::handle self, py::object ref_map, std::size_t count) {
  self.attr("_ref_map") = std::move(ref_map);
  self.attr("_ref_counter") = py::int_(count);
}

Platform current_platform() {
  const std::string system = py::str(support::import(kModuleName).attr("SYSTEM"));
  if (system == "Windows") {
    return Platform::kWindows;
  }
  if (system == "Darwin") {
    return Platform::kMacos;
  }
  return Platform::kLinux;
}

}  // namespace desktop_access
