// The result dictionaries handed to the model, and the small text helpers that build
// their messages from Python values exactly as an f-string would.
#pragma once

#include "support/python.hpp"

#include <optional>
#include <string_view>

namespace screen_operator {

// {"type": "text", "text": ...}
py::dict text_result(py::handle text);
// {"type": "error", "error": ...}
py::dict error_result(py::handle error);
// {"type": "image", "base64": ..., "media_type": "image/png"}
py::dict image_result(py::handle base64);

// PyUnicode_FromFormat: %U a str, %S str() of any object, %R its repr, %s UTF-8 text.
py::str format(const char* format, ...);

// str(exception) as an f-string shows it; an exception whose __str__ fails is named
// by its type instead, so reporting a failure never fails.
py::str message_of(py::handle exception);

// The UTF-8 form of a str, or nothing for one that has none (lone surrogates).
std::optional<std::string_view> utf8_of(py::handle text);

}  // namespace screen_operator
