#include "source_inspector/files.hpp"

#include "source_inspector/strings.hpp"
#include "support/errors.hpp"

#include <string>
#include <string_view>

namespace source_inspector {

namespace {

constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";

// The file's bytes as text: UTF-8 with undecodable bytes replaced, \r\n and lone \r
// read as \n. A leading byte order mark is dropped, as the interpreter does when it
// runs a file, rather than reaching the parser as a stray character.
py::object decode_source(py::handle data) {
  char* bytes = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(data.ptr(), &bytes, &size) < 0) {
    throw py::error_already_set();
  }
  std::string_view raw(bytes, static_cast<std::size_t>(size));
  if (raw.substr(0, UTF8_BOM.size()) == UTF8_BOM) {
    raw.remove_prefix(UTF8_BOM.size());
  }
  std::string translated;
  if (raw.find('\r') != std::string_view::npos) {
    translated.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != '\r') {
        translated.push_back(raw[i]);
        continue;
      }
      translated.push_back('\n');
      if (i + 1 < raw.size() && raw[i + 1] == '\n') {
        ++i;
      }
    }
    raw = translated;
  }
  PyObject* text = PyUnicode_DecodeUTF8(raw.data(), static_cast<Py_ssize_t>(raw.size()), "replace");
  if (text == nullptr) {
    throw py::error_already_set();
  }
  return py::reinterpret_steal<py::object>(text);
}

py::object read_bytes(const py::object& path) {
  py::object file = support::import("io").attr("open")(path, "rb");
  try {
    py::object data = file.attr("read")();
    file.attr("close")();
    return data;
  } catch (...) {
    file.attr("close")();
    throw;
  }
}

ParsedFile failure(py::object error) { return {py::none(), strings().empty, std::move(error)}; }

}  // namespace

py::str error_text(const py::error_already_set& error) {
  return support::exception_text(error.value(), support::EmptyText::kTypeName);
}

ParsedFile parse_file(const py::str& path) {
  try {
    py::object resolved =
        support::import("pathlib").attr("Path")(path).attr("expanduser")().attr("resolve")();
    if (!resolved.attr("exists")().cast<bool>()) {
      return failure(py::str("File not found: ") + path);
    }
    py::object source = decode_source(read_bytes(resolved));
    py::object tree = support::import("ast").attr("parse")(source, py::arg("filename") = py::str(resolved));
    return {std::move(tree), std::move(source), py::none()};
  } catch (...) {
    py::error_already_set error = support::current_error();
    if (error.matches(PyExc_SyntaxError)) {
      py::object value = error.value();
      return failure(py::str("Syntax error at line {}: {}").format(value.attr("lineno"), value.attr("msg")));
    }
    if (support::is_ordinary(error)) {
      return failure(error_text(error));
    }
    throw error;
  }
}

}  // namespace source_inspector
