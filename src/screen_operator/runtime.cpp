#include "screen_operator/runtime.hpp"

#include <cstdarg>

namespace screen_operator {

py::str format(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  PyObject* text = PyUnicode_FromFormatV(format, arguments);
  va_end(arguments);
  if (text == nullptr) {
    throw py::error_already_set();
  }
  return py::reinterpret_steal<py::str>(text);
}

py::str message_of(py::handle exception) {
  PyObject* text = PyObject_Str(exception.ptr());
  if (text == nullptr) {
    PyErr_Clear();
    return py::str(support::type_name(exception));
  }
  return py::reinterpret_steal<py::str>(text);
}

py::object optional_attribute(py::handle object, py::handle name) {
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

std::optional<std::string_view> utf8_of(py::handle text) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
  if (data == nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string_view(data, static_cast<std::size_t>(size));
}

}  // namespace screen_operator
