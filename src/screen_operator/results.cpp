#include "screen_operator/results.hpp"

namespace screen_operator {

namespace {

py::dict result(const char* type, const char* key, py::handle value) {
  py::dict result;
  result["type"] = type;
  result[key] = value;
  return result;
}

}  // namespace

py::dict text_result(py::handle text) { return result("text", "text", text); }

py::dict error_result(py::handle error) { return result("error", "error", error); }

py::dict image_result(py::handle base64) {
  py::dict image = result("image", "base64", base64);
  image["media_type"] = "image/png";
  return image;
}

}  // namespace screen_operator
