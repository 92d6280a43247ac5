// Small helpers for reaching the runtime: optional attributes, and message text
// built from Python values as an f-string would.
#pragma once

#include "support/python.hpp"

#include <optional>
#include <string_view>

namespace screen_operator {

// PyUnicode_FromFormat: %U a str, %S str() of any object, %R its repr, %s UTF-8 text.
py::str format(const char* format, ...);

// str(exception) as an f-string shows it; an exception whose __str__ fails is named
// by its type instead, so reporting a failure never fails.
py::str message_of(py::handle exception);

// getattr(object, name, None) without building the AttributeError: empty when missing.
py::object optional_attribute(py::handle object, py::handle name);

// The UTF-8 form of a str, or nothing for one that has none (lone surrogates).
std::optional<std::string_view> utf8_of(py::handle text);

}  // namespace screen_operator
