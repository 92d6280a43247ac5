// The result dictionaries handed to the model, and their texts.
#pragma once

#include "support/python.hpp"

namespace screen_operator {

// Message text built from Python values as an f-string would. PyUnicode_FromFormat:
// %U a str, %S str() of any object, %R its repr, %s UTF-8 text.
py::str format(const char* format, ...);

// {"type": "text", "text": ...}
py::dict text_result(py::handle text);
// {"type": "error", "error": ...}
py::dict error_result(py::handle error);
// {"type": "image", "base64": ..., "media_type": "image/png"}
py::dict image_result(py::handle base64);

}  // namespace screen_operator
