#include "desktop_access/windows_common.hpp"

namespace desktop_access::uia {

using namespace pybind11::literals;

py::object pywinauto_desktop() { return support::import("pywinauto").attr("Desktop")("backend"_a = "uia"); }

py::object foreground_window() {
  return support::import("ctypes").attr("windll").attr("user32").attr("GetForegroundWindow")();
}

py::str text_or_empty(py::handle value) {
  if (!args::to_bool(value)) {
    return py::str();
  }
  if (PyUnicode_Check(value.ptr())) {
    return py::reinterpret_borrow<py::str>(value);
  }
  return py::str(value);
}

py::str containing_pattern(py::handle text) { return py::str(".*{}.*").format(text); }

bool is_nonblank(py::handle text) {
  if (!PyUnicode_Check(text.ptr())) {
    return args::to_bool(text) && args::to_bool(text.attr("strip")());
  }
  const Py_ssize_t length = PyUnicode_GET_LENGTH(text.ptr());
  const int kind = PyUnicode_KIND(text.ptr());
  const void* data = PyUnicode_DATA(text.ptr());
  for (Py_ssize_t i = 0; i < length; ++i) {
    if (!Py_UNICODE_ISSPACE(PyUnicode_READ(kind, data, i))) {
      return true;
    }
  }
  return false;
}

py::object call_method(py::handle object, const py::str& name) {
  return support::steal(PyObject_CallMethodNoArgs(object.ptr(), name.ptr()));
}

bool contains(py::handle container, py::handle item) {
  return support::check(PySequence_Contains(container.ptr(), item.ptr())) == 1;
}

bool is_uiautomation(py::handle backend) { return backend.equal(py::str("uiautomation")); }

void sleep_on_worker(double seconds) { support::import("time").attr("sleep")(seconds); }

}  // namespace desktop_access::uia
