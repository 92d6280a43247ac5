#include "scheduler/state_text.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace scheduler {

namespace {

using namespace std::string_view_literals;

constexpr int kIndent = 2;
constexpr int kMaxDepth = 16;

// A character written as itself: printable ASCII other than the quote and the backslash.
constexpr bool is_plain(Py_UCS4 c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; }

constexpr auto kPlainByte = [] {
  std::array<bool, 256> plain{};
  for (Py_UCS4 c = 0; c < plain.size(); ++c) {
    plain[c] = is_plain(c);
  }
  return plain;
}();

// Whether the eight bytes at `bytes` are all plain (word-wide tests for a byte below
// 0x20, above 0x7E, or equal to the quote or the backslash; a carry may only add a
// false alarm, which the caller's byte by byte check settles).
bool all_plain(const char* bytes) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHigh = 0x8080808080808080;
  std::uint64_t word = 0;
  std::memcpy(&word, bytes, sizeof word);
  const auto has_zero = [](std::uint64_t v) { return (v - kOnes) & ~v & kHigh; };
  const std::uint64_t control = (word - kOnes * 0x20) & ~word & kHigh;
  const std::uint64_t high = ((word + kOnes) | word) & kHigh;
  return (control | high | has_zero(word ^ (kOnes * '"')) | has_zero(word ^ (kOnes * '\\'))) == 0;
}

}  // namespace

bool IndentedJson::value(py::handle handle, int depth) {
  PyObject* item = handle.ptr();
  if (item == Py_None) {
    text_ += "null"sv;
  } else if (item == Py_True) {
    text_ += "true"sv;
  } else if (item == Py_False) {
    text_ += "false"sv;
  } else if (PyUnicode_Check(item)) {
    string(item);
  } else if (PyLong_Check(item)) {
    return integer(item);
  } else if (PyFloat_Check(item)) {
    real(PyFloat_AS_DOUBLE(item));
  } else if (depth >= kMaxDepth) {
    return false;
  } else if (PyDict_CheckExact(item)) {
    return dict(item, depth);
  } else if (PyList_CheckExact(item) || PyTuple_CheckExact(item)) {
    return sequence(item, depth);
  } else {
    return false;
  }
  return true;
}

void IndentedJson::entry(int depth, bool first, py::handle key) {
  if (!first) {
    text_ += ',';
  }
  newline(depth + 1);
  if (key) {
    string(key.ptr());
    text_ += ": "sv;
  }
}

void IndentedJson::close(char bracket, int depth, bool empty) {
  if (!empty) {
    newline(depth);
  }
  text_ += bracket;
}

void IndentedJson::newline(int depth) {
  text_ += '\n';
  text_.append(static_cast<std::size_t>(depth * kIndent), ' ');
}

bool IndentedJson::dict(PyObject* item, int depth) {
  open('{');
  Py_ssize_t position = 0;
  PyObject* key = nullptr;
  PyObject* member = nullptr;
  bool first = true;
  while (PyDict_Next(item, &position, &key, &member)) {
    if (!PyUnicode_Check(key)) {
      return false;
    }
    entry(depth, first, key);
    first = false;
    if (!value(member, depth + 1)) {
      return false;
    }
  }
  close('}', depth, first);
  return true;
}

bool IndentedJson::sequence(PyObject* item, int depth) {
  const Py_ssize_t size = PySequence_Fast_GET_SIZE(item);
  open('[');
  for (Py_ssize_t index = 0; index < size; ++index) {
    entry(depth, index == 0);
    if (!value(PySequence_Fast_GET_ITEM(item, index), depth + 1)) {
      return false;
    }
  }
  close(']', depth, size == 0);
  return true;
}

void IndentedJson::escaped(Py_UCS4 c) {
  // The characters with a short escape, each followed by its letter.
  static constexpr std::string_view kShort = "\"\"\\\\\nn\rr\tt\bb\ff";
  for (std::size_t index = 0; index < kShort.size(); index += 2) {
    if (c == static_cast<unsigned char>(kShort[index])) {
      text_ += '\\';
      text_ += kShort[index + 1];
      return;
    }
  }
  const auto escape = [this](Py_UCS4 unit) {
    static constexpr char kHex[] = "0123456789abcdef";
    text_ += "\\u"sv;
    for (int shift = 12; shift >= 0; shift -= 4) {
      text_ += kHex[(unit >> shift) & 0xF];
    }
  };
  if (c >= 0x10000) {
    escape(0xD800 + ((c - 0x10000) >> 10));
    escape(0xDC00 + ((c - 0x10000) & 0x3FF));
  } else {
    escape(c);
  }
}

void IndentedJson::string(PyObject* item) {
  const int kind = PyUnicode_KIND(item);
  const void* data = PyUnicode_DATA(item);
  const Py_ssize_t length = PyUnicode_GET_LENGTH(item);
  text_ += '"';
  if (kind == PyUnicode_1BYTE_KIND) {
    // Runs of plain characters appended whole, eight at a time: most of a state is such text.
    const char* bytes = static_cast<const char*>(data);
    Py_ssize_t start = 0;
    for (Py_ssize_t index = 0; index < length; ++index) {
      while (index + 8 <= length && all_plain(bytes + index)) {
        index += 8;
      }
      if (index == length) {
        break;
      }
      const auto c = static_cast<unsigned char>(bytes[index]);
      if (!kPlainByte[c]) {
        text_.append(bytes + start, static_cast<std::size_t>(index - start));
        escaped(c);
        start = index + 1;
      }
    }
    text_.append(bytes + start, static_cast<std::size_t>(length - start));
  } else {
    for (Py_ssize_t index = 0; index < length; ++index) {
      const Py_UCS4 c = PyUnicode_READ(kind, data, index);
      if (is_plain(c)) {
        text_ += static_cast<char>(c);
      } else {
        escaped(c);
      }
    }
  }
  text_ += '"';
}

bool IndentedJson::integer(PyObject* item) {
  int overflow = 0;
  const long long number = PyLong_AsLongLongAndOverflow(item, &overflow);
  if (overflow == 0 && !(number == -1 && PyErr_Occurred())) {
    char digits[24];
    text_.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
    return true;
  }
  PyErr_Clear();
  // int.__repr__, as the json module writes any int (its subclasses too).
  const py::object digits = py::reinterpret_steal<py::object>(PyLong_Type.tp_repr(item));
  if (!digits) {
    PyErr_Clear();
    return false;
  }
  text_ += PyUnicode_AsUTF8(digits.ptr());
  return true;
}

void IndentedJson::real(double number) {
  if (!std::isfinite(number)) {
    text_ += std::isnan(number) ? "NaN"sv : number > 0 ? "Infinity"sv : "-Infinity"sv;
    return;
  }
  // float.__repr__: the shortest digits that read back to the same value (what to_chars
  // gives without a precision), positional from 1e-4 up to 1e16 with at least one decimal.
  const double magnitude = std::fabs(number);
  const bool positional = magnitude == 0 || (magnitude >= 1e-4 && magnitude < 1e16);
  char buffer[32];
  char* end = std::to_chars(buffer, buffer + sizeof buffer, number,
                            positional ? std::chars_format::fixed : std::chars_format::scientific)
                  .ptr;
  text_.append(buffer, end);
  if (positional && std::find(buffer, end, '.') == end) {
    text_ += ".0"sv;
  }
}

}  // namespace scheduler
