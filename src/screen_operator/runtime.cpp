#include "screen_operator/runtime.hpp"

#include <cstdarg>

namespace screen_operator {

py::str format(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  PyObject* text = PyUnicode_FromFormatV(format, arguments);
  va_end(arguments);
  return support::steal<py::str>(text);
}

}  // namespace screen_operator
