// The state file's text: what json.dumps(state, indent=2) writes (ASCII, escapes,
// "," and ": "), byte for byte, built in C++ because the runtime's json module formats
// indented text in Python code, a tenth of a second for ten thousand jobs.
#pragma once

#include "support/python.hpp"

#include <string>

namespace scheduler {

// Builds that text piece by piece, so that a caller can write records without first
// building them as dictionaries. Every `depth` is the nesting of what is written.
class IndentedJson {
 public:
  explicit IndentedJson(std::size_t expected_size = 0) { text_.reserve(expected_size); }

  // Appends `item`; false when it holds something this writer leaves to the json module.
  bool value(py::handle item, int depth);
  // "{" or "[" of a container.
  void open(char bracket) { text_ += bracket; }
  // The separator and indent before an entry of a container at `depth`; with `key`
  // (a str), also the key and ": ".
  void entry(int depth, bool first, py::handle key = {});
  // "}" or "]" of a container at `depth`, right after its "{" or "[" when `empty`.
  void close(char bracket, int depth, bool empty = false);

  std::string take() { return std::move(text_); }

 private:
  void newline(int depth);
  bool dict(PyObject* item, int depth);
  bool sequence(PyObject* item, int depth);
  void escaped(Py_UCS4 c);
  void string(PyObject* item);
  bool integer(PyObject* item);
  void real(double number);

  std::string text_;
};

}  // namespace scheduler
