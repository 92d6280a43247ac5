#include "support/compat.hpp"

namespace support {

py::object optional_attr(py::handle object, py::handle name) {
  PyObject* value = nullptr;
#if PY_VERSION_HEX >= 0x030D0000
  const int found = PyObject_GetOptionalAttr(object.ptr(), name.ptr(), &value);
#else
  const int found = _PyObject_LookupAttr(object.ptr(), name.ptr(), &value);
#endif
  if (found < 0) {
    throw py::error_already_set();
  }
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

}  // namespace support
