// Failures at the boundary: Python code catches `Exception` and lets the rest
// (KeyboardInterrupt, SystemExit, asyncio.CancelledError, GeneratorExit) travel on; so
// does every module here, with these helpers.
//
//   py::dict answer = support::catch_ordinary(
//       [&] { return run(command); },
//       [](py::error_already_set& error) { return failure(support::exception_text(error.value())); });
#pragma once

#include "support/python.hpp"

#include <utility>

namespace support {

// True for what `except Exception` catches; false for a bare BaseException.
bool is_ordinary(const py::error_already_set& error);

// The exception being handled, as a Python error: Python failures as they are, C++ ones
// as set_error_from_current_exception() maps them (MemoryError, RuntimeError, ...).
// Call only inside a catch block.
py::error_already_set current_error();

// Inside a catch block for py::error_already_set: rethrows it unless it is ordinary.
void rethrow_unless_ordinary(const py::error_already_set& error);

// Runs `work`; an ordinary failure (a Python Exception, or any C++ exception) becomes
// `on_error(py::error_already_set&)`, whose result is returned instead. Anything else
// propagates as py::error_already_set.
template <class Work, class OnError>
auto catch_ordinary(Work&& work, OnError&& on_error) -> decltype(work()) {
  try {
    return std::forward<Work>(work)();
  } catch (...) {
    py::error_already_set error = current_error();
    if (!is_ordinary(error)) {
      throw error;
    }
    return std::forward<OnError>(on_error)(error);
  }
}

enum class EmptyText { kKeep, kTypeName };

// str(exception), or the name of its type when str() raises: never raises for a
// misbehaving __str__. With EmptyText::kTypeName an empty text (a bare MemoryError)
// also gives the type's name, for messages that must say something.
py::str exception_text(py::handle exception, EmptyText empty = EmptyText::kKeep);

}  // namespace support
