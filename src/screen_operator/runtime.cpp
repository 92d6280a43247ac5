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

}  // namespace screen_operator
