#include "screen_operator/results.hpp"

#include <cstdarg>

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
