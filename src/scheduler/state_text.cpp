#include "scheduler/state_text.hpp"

#include <limits>

namespace scheduler {

namespace {

constexpr int kIndent = 2;
constexpr int kMaxDepth = 16;

// A character written as itself: printable ASCII other than the quote and the backslash.
constexpr bool is_plain(Py_UCS4 c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; }

}  // namespace

bool IndentedJson::value(py::handle handle, int depth) {
  PyObject* item = handle.ptr();
  if (item == Py_None) {
    text_ += "null";
  } else if (item == Py_True) {
    text_ += "true";
  } else if (item == Py_False) {
    text_ += "false";
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
    text_ += ": ";
  }
}

void IndentedJson::close(char bracket, int depth) {
  newline(depth);
  text_ += bracket;
}

void IndentedJson::newline(int depth) {
  text_ += '\n';
  text_.append(static_cast<std::size_t>(depth * kIndent), ' ');
}

bool IndentedJson::dict(PyObject* item, int depth) {
  if (PyDict_GET_SIZE(item) == 0) {
    text_ += "{}";
    return true;
  }
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
  close('}', depth);
  return true;
}

bool IndentedJson::sequence(PyObject* item, int depth) {
  const Py_ssize_t size = PySequence_Fast_GET_SIZE(item);
  if (size == 0) {
    text_ += "[]";
    return true;
  }
  open('[');
  for (Py_ssize_t index = 0; index < size; ++index) {
    entry(depth, index == 0);
    if (!value(PySequence_Fast_GET_ITEM(item, index), depth + 1)) {
      return false;
    }
  }
  close(']', depth);
  return true;
}

void IndentedJson::escape(Py_UCS4 unit) {
  static constexpr char kHex[] = "0123456789abcdef";
  text_ += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) {
    text_ += kHex[(unit >> shift) & 0xF];
  }
}

void IndentedJson::escaped(Py_UCS4 c) {
  switch (c) {
    case '"':
      text_ += "\\\"";
      break;
    case '\\':
      text_ += "\\\\";
      break;
    case '\n':
      text_ += "\\n";
      break;
    case '\r':
      text_ += "\\r";
      break;
    case '\t':
      text_ += "\\t";
      break;
    case '\b':
      text_ += "\\b";
      break;
    case '\f':
      text_ += "\\f";
      break;
    default:
      if (c >= 0x10000) {
        escape(0xD800 + ((c - 0x10000) >> 10));
        escape(0xDC00 + ((c - 0x10000) & 0x3FF));
      } else {
        escape(c);
      }
  }
}

void IndentedJson::string(PyObject* item) {
  const int kind = PyUnicode_KIND(item);
  const void* data = PyUnicode_DATA(item);
  const Py_ssize_t length = PyUnicode_GET_LENGTH(item);
  text_ += '"';
  if (kind == PyUnicode_1BYTE_KIND) {
    // Runs of plain characters appended whole: most of a state is such text.
    const char* bytes = static_cast<const char*>(data);
    Py_ssize_t index = 0;
    while (index < length) {
      Py_ssize_t end = index;
      while (end < length && is_plain(static_cast<unsigned char>(bytes[end]))) {
        ++end;
      }
      text_.append(bytes + index, static_cast<std::size_t>(end - index));
      if (end < length) {
        escaped(static_cast<unsigned char>(bytes[end]));
        ++end;
      }
      index = end;
    }
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
    text_ += std::to_string(number);
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
  if (number != number) {
    text_ += "NaN";
  } else if (number == std::numeric_limits<double>::infinity()) {
    text_ += "Infinity";
  } else if (number == -std::numeric_limits<double>::infinity()) {
    text_ += "-Infinity";
  } else {
    // float.__repr__: the shortest text that reads back to the same value.
    char* digits = PyOS_double_to_string(number, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
    if (digits == nullptr) {
      throw py::error_already_set();
    }
    text_ += digits;
    PyMem_Free(digits);
  }
}

}  // namespace scheduler
