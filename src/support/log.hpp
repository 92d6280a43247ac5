// Logging through the runtime's logging module, so the host's handlers, levels and
// filters apply. The logger is looked up by name at each use; nothing is cached.
#pragma once

#include "support/python.hpp"

#include <string>
#include <utility>

namespace support {

enum class Level : int { debug = 10, info = 20, warning = 30, error = 40 };

class Logger {
 public:
  explicit constexpr Logger(const char* name) : name_(name) {}

  // logging.getLogger(name)
  py::object get() const;
  bool enabled(Level level) const;

  // The message is built only when the level is enabled: pass a callable returning
  // something convertible to std::string (or a py::str). An exception object, when
  // given (not an empty handle), goes as exc_info (a traceback in the record).
  template <class MakeMessage>
  void log_exception(Level level, py::handle exception, MakeMessage&& make_message) const {
    if (enabled(level)) {
      emit(level, py::str(std::forward<MakeMessage>(make_message)()), exception);
    }
  }

  template <class F>
  void debug(F&& f) const {
    log_exception(Level::debug, py::handle(), std::forward<F>(f));
  }
  template <class F>
  void info(F&& f) const {
    log_exception(Level::info, py::handle(), std::forward<F>(f));
  }
  template <class F>
  void warning(F&& f) const {
    log_exception(Level::warning, py::handle(), std::forward<F>(f));
  }
  template <class F>
  void error(F&& f) const {
    log_exception(Level::error, py::handle(), std::forward<F>(f));
  }

 private:
  void emit(Level level, const py::str& message, py::handle exc_info) const;

  const char* name_;
};

}  // namespace support
