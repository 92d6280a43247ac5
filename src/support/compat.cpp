#include "support/compat.hpp"

namespace support {

py::object optional_attr(py::handle object, py::handle name) {
  PyObject* value = nullptr;
#if PY_VERSION_HEX >= 0x030D0000
  const int found = PyObject_GetOptionalAttr(object.ptr(), name.ptr(), &value);
#else
  const int found = _PyObject_LookupAttr(object.ptr(), name.ptr(), &value);
#endif
  check(found);
  return py::reinterpret_steal<py::object>(value);
}

std::string_view utf8_view(py::handle text) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
  if (data == nullptr) {
    throw py::error_already_set();
  }
  return {data, static_cast<std::size_t>(size)};
}

std::optional<std::string_view> utf8_view_if_valid(py::handle text) {
  if (!PyUnicode_Check(text.ptr())) {
    return std::nullopt;
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
  if (data == nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string_view(data, static_cast<std::size_t>(size));
}

Utf8::Utf8(py::handle text) {
  if (std::optional<std::string_view> cached = utf8_view_if_valid(text)) {
    view_ = *cached;
    return;
  }
  encoded_ = steal(PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogatepass"));
  view_ = std::string_view(PyBytes_AS_STRING(encoded_.ptr()),
                           static_cast<std::size_t>(PyBytes_GET_SIZE(encoded_.ptr())));
}

py::str from_utf8(std::string_view text) {
  return steal<py::str>(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass"));
}

}  // namespace support
