#include "source_inspector/node_text.hpp"

#include "source_inspector/strings.hpp"
#include "support/args.hpp"
#include "support/compat.hpp"

#include <algorithm>
#include <climits>
#include <variant>

namespace source_inspector {

namespace {

// What changed in the runtime's ast and inspect modules with 3.13.
constexpr bool kRuntime313 = PY_VERSION_HEX >= 0x030D0000;
constexpr IndentStrip kDocstringIndent = kRuntime313 ? IndentStrip::kSpacesOnly : IndentStrip::kAnyWhitespace;
constexpr LineTableStyle kLineTable =
    kRuntime313 ? LineTableStyle::kTruncatedWithEmptyTail : LineTableStyle::kComplete;

py::object decode(std::string_view utf8, ByteRange range) {
  return support::steal(PyUnicode_DecodeUTF8(utf8.data() + range.begin,
                                             static_cast<Py_ssize_t>(range.end - range.begin), nullptr));
}

void check_line_number(const py::object& value) {
  if (!PyLong_Check(value.ptr())) {
    throw py::type_error("unsupported operand type(s) for -: '" + support::type_name(value) + "' and 'int'");
  }
}

// An int as a 64-bit value: beyond that range the nearest one, and `fits` false.
LineIndex saturated(const py::object& value) {
  int overflow = 0;
  const long long result = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (result == -1 && PyErr_Occurred()) {
    throw py::error_already_set();
  }
  return overflow == 0 ? LineIndex{result, true} : LineIndex{overflow > 0 ? LLONG_MAX : LLONG_MIN, false};
}

// A line number as the runtime uses it: `lineno - 1`, as a list index.
LineIndex line_index(const py::object& lineno) {
  return saturated(support::steal(PyNumber_Subtract(lineno.ptr(), py::int_(1).ptr())));
}

// A column as a bytes slice bound: beyond 64 bits it acts as the nearest 64-bit value.
Column column(const py::object& value) {
  if (value.is_none()) {
    return std::nullopt;
  }
  if (!PyLong_Check(value.ptr())) {
    throw py::type_error("slice indices must be integers or None or have an __index__ method");
  }
  return saturated(value).value;
}

std::u32string code_points_of(py::handle text) {
  CodePoints view = view_of(text);
  std::u32string copy(view.length, U'\0');
  for (std::size_t i = 0; i < view.length; ++i) {
    copy[i] = PyUnicode_READ(view.width, view.data, i);
  }
  return copy;
}

py::object from_code_points(std::u32string_view text) {
  return support::steal(
      PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, text.data(), static_cast<Py_ssize_t>(text.size())));
}

// ast.get_docstring(node): the text of a leading string expression, or None.
std::optional<std::u32string> docstring(AstSchema& schema, py::handle node) {
  const Strings& names = strings();
  NodeKind kind = schema.kind_of(node);
  if (!is_function(kind) && kind != NodeKind::kClassDef && kind != NodeKind::kModule) {
    throw py::type_error("'" + std::string(py::str(py::type::handle_of(node).attr("__name__"))) +
                         "' can't have docstrings");
  }
  py::object body = py::getattr(node, names.body);
  if (!support::args::to_bool(body)) {
    return std::nullopt;
  }
  py::object first = body[py::int_(0)];
  if (schema.kind_of(first) != NodeKind::kExpr) {
    return std::nullopt;
  }
  py::object value = py::getattr(first, names.value);
  if (schema.kind_of(value) != NodeKind::kConstant) {
    return std::nullopt;
  }
  py::object text = py::getattr(value, names.value);
  if (!PyUnicode_Check(text.ptr())) {
    return std::nullopt;
  }
  return clean_docstring(code_points_of(text), kDocstringIndent);
}

}  // namespace

CodePoints view_of(py::handle text) {
#if PY_VERSION_HEX < 0x030C0000
  support::check(PyUnicode_READY(text.ptr()));
#endif
  return {PyUnicode_DATA(text.ptr()), static_cast<int>(PyUnicode_KIND(text.ptr())),
          static_cast<std::size_t>(PyUnicode_GET_LENGTH(text.ptr()))};
}

SegmentReader::SegmentReader(py::object source) : source_(std::move(source)) {}

const SourceLines& SegmentReader::lines() {
  if (!lines_) {
    std::string_view utf8 = support::utf8_view(source_);
    py::gil_scoped_release unlocked;
    lines_.emplace(utf8, kLineTable);
  }
  return *lines_;
}

py::object SegmentReader::segment(py::handle node) {
  const Strings& names = strings();
  py::object end_lineno = support::optional_attr(node, names.end_lineno);
  if (!end_lineno || end_lineno.is_none()) {
    return py::none();
  }
  py::object end_col_offset = support::optional_attr(node, names.end_col_offset);
  if (!end_col_offset || end_col_offset.is_none()) {
    return py::none();
  }
  py::object lineno = support::optional_attr(node, names.lineno);
  py::object col_offset = support::optional_attr(node, names.col_offset);
  if (!lineno || !col_offset) {
    return py::none();
  }
  check_line_number(lineno);
  check_line_number(end_lineno);
  const int one_line = support::check(PyObject_RichCompareBool(end_lineno.ptr(), lineno.ptr(), Py_EQ));
  std::variant<SegmentPieces, SegmentError> located = lines().locate(
      line_index(lineno), line_index(end_lineno), one_line == 1, column(col_offset), column(end_col_offset));
  if (const SegmentError* error = std::get_if<SegmentError>(&located)) {
    throw py::index_error(*error == SegmentError::kTooLarge ? "cannot fit 'int' into an index-sized integer"
                                                            : "list index out of range");
  }
  const SegmentPieces* pieces = &std::get<SegmentPieces>(located);
  std::string_view utf8 = support::utf8_view(source_);
  py::object first = decode(utf8, pieces->first);
  if (!pieces->last) {
    return first;
  }
  py::object last = decode(utf8, *pieces->last);
  py::object joined = first;
  if (pieces->middle.end > pieces->middle.begin) {
    joined = support::steal(PyUnicode_Concat(joined.ptr(), decode(utf8, pieces->middle).ptr()));
  }
  return support::steal(PyUnicode_Concat(joined.ptr(), last.ptr()));
}

py::object SegmentReader::text_or_empty(py::handle node) {
  if (node.is_none()) {
    return strings().empty;
  }
  py::object text = segment(node);
  return text.is_none() ? py::object(strings().empty) : text;
}

py::object docstring_prefix(AstSchema& schema, py::handle node, std::size_t limit) {
  std::optional<std::u32string> text = docstring(schema, node);
  if (!text) {
    return strings().empty;
  }
  return from_code_points(std::u32string_view(*text).substr(0, limit));
}

}  // namespace source_inspector
