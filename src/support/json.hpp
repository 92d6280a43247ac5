// JSON text through the runtime's json module (its C encoder and decoder).
#pragma once

#include "support/python.hpp"

namespace support::json {

// json.dumps(value) with the module's defaults (ASCII escapes, ", " and ": ").
py::str dumps(py::handle value);
// json.loads(text); raises json.JSONDecodeError (a ValueError) on bad input.
py::object loads(py::handle text);

}  // namespace support::json
