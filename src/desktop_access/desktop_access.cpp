#include "desktop_access/desktop_access.hpp"

#include "support/args.hpp"

namespace desktop_access {

using namespace pybind11::literals;

Utf8::Utf8(py::handle text) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
  if (data == nullptr) {
    PyErr_Clear();
    encoded_ =
        py::reinterpret_steal<py::object>(PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogatepass"));
    if (!encoded_) {
      throw py::error_already_set();
    }
    data = PyBytes_AS_STRING(encoded_.ptr());
    size = PyBytes_GET_SIZE(encoded_.ptr());
  }
  view_ = std::string_view(data, static_cast<std::size_t>(size));
}

py::str from_utf8(std::string_view text) {
  PyObject* decoded =
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass");
  if (decoded == nullptr) {
    throw py::error_already_set();
  }
  return py::reinterpret_steal<py::str>(decoded);
}

py::dict failure(py::handle error) { return py::dict("success"_a = false, "error"_a = error); }

py::dict failure(const std::string& error) { return failure(py::str(error)); }

py::dict ref_failure(py::handle error, py::handle ref) {
  return py::dict("success"_a = false, "error"_a = error, "ref"_a = ref);
}

bool is_empty(py::handle text) { return py::len(text) == 0; }

std::string python_lower(std::string_view utf8) {
  bool ascii = true;
  for (char c : utf8) {
    ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  }
  if (!ascii) {
    return std::string(Utf8(from_utf8(utf8).attr("lower")()).view());
  }
  std::string lowered(utf8);
  for (char& c : lowered) {
    c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return lowered;
}

std::string error_text(const py::error_already_set& error) { return py::str(error.value()); }

void rethrow_unless_exception(const py::error_already_set& error) {
  if (!error.matches(PyExc_Exception)) {
    throw;
  }
}

py::str element_label(py::handle record) {
  py::object control_type = record.attr("get")("control_type", "");
  py::object name = record.attr("get")("name", "");
  return py::str("{} \"{}\"").format(control_type, name);
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
