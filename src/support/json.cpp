#include "support/json.hpp"

namespace support::json {

py::str dumps(py::handle value) { return import("json").attr("dumps")(value); }

py::object loads(py::handle text) { return import("json").attr("loads")(text); }

}  // namespace support::json
