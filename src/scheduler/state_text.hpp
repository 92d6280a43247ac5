// The state file's text: what json.dumps(state, indent=2) writes (ASCII, escapes,
// "," and ": "), byte for byte, built in C++ because the runtime's json module formats
// indented text in Python code, a tenth of a second for ten thousand jobs.
#pragma once

#include "support/python.hpp"

#include <optional>
#include <string>

namespace scheduler {

// The text of `value`, or none when it holds something this writer leaves to the json
// module (a type other than dict, list, tuple, str, int, float, bool and None, a key
// that is not a str, or nesting deeper than a state has).
std::optional<std::string> indented_json(py::handle value);

}  // namespace scheduler
