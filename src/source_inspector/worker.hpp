// The worker's commands and its line protocol on the standard streams.
#pragma once

#include "support/python.hpp"

namespace source_inspector {

// {"success": true, "result": {...every analysis...}} or {"success": false, "error": ...}
// when the file cannot be read or parsed; errors of the analyses themselves propagate.
py::dict full_analysis(const py::str& path);

// Answers one command; every ordinary error becomes {"success": false, "error": ...}.
py::dict handle_command(const py::dict& command);

// The command loop: one JSON command per line on standard input, one JSON answer per
// line on standard output, until "quit" or the end of input.
void serve();

}  // namespace source_inspector
