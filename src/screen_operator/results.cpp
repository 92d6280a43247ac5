#include "screen_operator/results.hpp"

#include "support/keys.hpp"

#include <cstdarg>

namespace screen_operator {

namespace {

struct Keys {
  support::Interned type{"type"};
  support::Interned text{"text"};
  support::Interned error{"error"};
  support::Interned image{"image"};
  support::Interned base64{"base64"};
  support::Interned media_type{"media_type"};
  support::Interned image_png{"image/png"};
};
const Keys& keys() { return support::interned<Keys>(); }

}  // namespace

py::str format(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  PyObject* text = PyUnicode_FromFormatV(format, arguments);
  va_end(arguments);
  return support::steal<py::str>(text);
}

py::dict text_result(py::handle text) {
  return support::make_dict({{keys().type, keys().text}, {keys().text, text}});
}

py::dict error_result(py::handle error) {
  return support::make_dict({{keys().type, keys().error}, {keys().error, error}});
}

py::dict image_result(py::handle base64) {
  return support::make_dict(
      {{keys().type, keys().image}, {keys().base64, base64}, {keys().media_type, keys().image_png}});
}

}  // namespace screen_operator
