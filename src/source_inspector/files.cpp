#include "source_inspector/files.hpp"

#include "source_inspector/strings.hpp"
#include "support/errors.hpp"

#include <climits>
#include <string>
#include <string_view>

namespace source_inspector {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Larger files are refused rather than read: no source file comes near it, and a bound
// keeps a wrong path (a disk image, a log) from exhausting the worker's memory.
constexpr long long kSizeLimit = 64LL * 1024 * 1024;

// The file's bytes as text: UTF-8 with undecodable bytes replaced, \r\n and lone \r
// read as \n. A leading byte order mark is dropped, as the interpreter does when it
// runs a file, rather than reaching the parser as a stray character.
py::object decode_source(py::handle data) {
  char* bytes = nullptr;
  Py_ssize_t size = 0;
  support::check(PyBytes_AsStringAndSize(data.ptr(), &bytes, &size));
  std::string_view raw(bytes, static_cast<std::size_t>(size));
  if (raw.starts_with(kUtf8Bom)) raw.remove_prefix(kUtf8Bom.size());
  std::string translated;
  if (raw.find('\r') != std::string_view::npos) {
    translated.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
      translated.push_back(raw[i] == '\r' ? '\n' : raw[i]);
      if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
    }
    raw = translated;
  }
  return support::steal(PyUnicode_DecodeUTF8(raw.data(), static_cast<Py_ssize_t>(raw.size()), "replace"));
}

// Whether `path` is short enough for the system to open it at all (a longer one fails
// with ENAMETOOLONG): resolving a path of a million components takes quadratic time
// only to fail at the open. A path the file system encoding cannot take is left to fail
// where it did.
bool within_path_limit(const py::str& path) {
#if defined(_WIN32)
  return PyUnicode_GET_LENGTH(path.ptr()) < 32767;  // UTF-16 units of a long path
#else
  return support::catch_ordinary(
      [&] {
        py::bytes encoded = support::import("os").attr("fsencode")(path);
        return PyBytes_GET_SIZE(encoded.ptr()) < PATH_MAX;  // bytes, the terminating NUL included
      },
      [](py::error_already_set&) { return true; });
#endif
}

// At most `limit` bytes of the file.
py::object read_bytes(const py::object& path, long long limit) {
  py::object file = support::import("io").attr("open")(path, "rb");
  try {
    py::object data = file.attr("read")(limit);
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
    py::object expanded = support::import("pathlib").attr("Path")(path).attr("expanduser")();
    if (!within_path_limit(py::str(expanded))) {
      return failure(py::str("File not found: ") + path);
    }
    py::object resolved = expanded.attr("resolve")();
    if (!resolved.attr("exists")().cast<bool>()) {
      return failure(py::str("File not found: ") + path);
    }
    // Only regular files are read: a FIFO would block the worker, a device would never
    // end. A directory fails at the open, as it always has.
    py::object status = support::import("os").attr("stat")(resolved);
    py::module_ stat = support::import("stat");
    py::object mode = status.attr("st_mode");
    if (!stat.attr("S_ISREG")(mode).cast<bool>() && !stat.attr("S_ISDIR")(mode).cast<bool>()) {
      return failure(py::str("Not a regular file: ") + path);
    }
    py::object too_large = py::str("File too large: {} (more than 64 MB)").format(path);
    if (support::check(
            PyObject_RichCompareBool(status.attr("st_size").ptr(), py::int_(kSizeLimit).ptr(), Py_GT))) {
      return failure(too_large);
    }
    py::object data = read_bytes(resolved, kSizeLimit + 1);
    if (static_cast<long long>(py::len(data)) > kSizeLimit) {  // it grew since the stat
      return failure(too_large);
    }
    py::object source = decode_source(data);
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
