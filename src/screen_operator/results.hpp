// The result dictionaries handed to the model.
#pragma once

#include "support/python.hpp"

namespace screen_operator {

// {"type": "text", "text": ...}
py::dict text_result(py::handle text);
// {"type": "error", "error": ...}
py::dict error_result(py::handle error);
// {"type": "image", "base64": ..., "media_type": "image/png"}
py::dict image_result(py::handle base64);

}  // namespace screen_operator
