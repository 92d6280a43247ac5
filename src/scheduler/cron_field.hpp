// Parsing of one cron field into the values it denotes. Numbers are read exactly as
// the runtime's int() reads text (Unicode digits, underscores, signs, whitespace), so
// this part works on Python strings.
#pragma once

#include "support/python.hpp"

#include <cstdint>
#include <vector>

namespace scheduler {

// The values of `text` that lie in [min_value, max_value], in the order the pieces name
// them (repeats possible). Values outside the range are never enumerated. Raises
// ValueError for a malformed piece or a step of zero.
std::vector<std::int64_t> parse_field(const py::str& text, std::int64_t min_value, std::int64_t max_value);

}  // namespace scheduler
