#include "support/json.hpp"

namespace support::json {

py::str dumps(py::handle value) { return import("json").attr("dumps")(value); }

py::str dumps_indented(py::handle value, int indent) {
  return import("json").attr("dumps")(value, py::arg("indent") = indent);
}

py::object loads(py::handle text) { return import("json").attr("loads")(text); }

}  // namespace support::json
