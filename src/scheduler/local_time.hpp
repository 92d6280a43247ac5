// The machine's local time as the runtime's datetime sees it: Unix seconds to naive
// wall-clock seconds and back (both folds of a repeated hour), and the next Unix time
// whose wall-clock minute a cron expression matches. Plain C++ over the C library's
// localtime, which the runtime's datetime uses too.
#pragma once

#include "scheduler/cron.hpp"

#include <cstdint>
#include <ctime>
#include <optional>

namespace scheduler {

// The broken-down local time of a Unix time, none where the platform cannot convert it.
std::optional<std::tm> local_tm(std::int64_t unix_seconds);

// The first Unix time strictly after `after` at which the local wall-clock minute
// matches `fields`, within `search_minutes` candidate minutes from the minute after
// `after`'s own. Every real moment counts once: a wall minute that occurs twice (a
// repeated hour) is two moments, except for a fixed-time expression (named hours),
// whose wall slot counts once, at its first pass.
std::optional<std::int64_t> next_local_match(const CronFields& fields, double after,
                                             std::int64_t search_minutes);

}  // namespace scheduler
