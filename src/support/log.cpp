#include "support/log.hpp"

namespace support {

py::object Logger::get() const { return import("logging").attr("getLogger")(name_); }

bool Logger::enabled(Level level) const {
  return get().attr("isEnabledFor")(static_cast<int>(level)).cast<bool>();
}

void Logger::emit(Level level, const py::str& message, py::handle exc_info) const {
  py::object logger = get();
  if (exc_info) {
    logger.attr("log")(static_cast<int>(level), message, py::arg("exc_info") = exc_info);
  } else {
    logger.attr("log")(static_cast<int>(level), message);
  }
}

}  // namespace support
