// Message text built from Python values as an f-string would.
#pragma once

#include "support/python.hpp"

namespace screen_operator {

// PyUnicode_FromFormat: %U a str, %S str() of any object, %R its repr, %s UTF-8 text.
py::str format(const char* format, ...);

}  // namespace screen_operator
