#include "scheduler/local_time.hpp"

#include <algorithm>
#include <cmath>

namespace scheduler {

namespace {

constexpr std::int64_t kDaySeconds = 24 * 3600;
// The largest clock shift any zone makes at once, for the searches around a shift.
constexpr std::int64_t kMaxShiftSeconds = 3 * 3600;
constexpr std::uint64_t kAllHours = (std::uint64_t{1} << 24) - 1;

std::int64_t floor_div(std::int64_t value, std::int64_t divisor) {
  return value / divisor - (value % divisor < 0 ? 1 : 0);
}

// Seconds since 1970-01-01 00:00 of the naive local time at `unix_seconds`.
std::optional<std::int64_t> wall_seconds(std::int64_t unix_seconds) {
  const auto local = local_tm(unix_seconds);
  if (!local) {
    return std::nullopt;
  }
  return days_from_civil(std::int64_t{local->tm_year} + 1900, local->tm_mon + 1, local->tm_mday) *
             kDaySeconds +
         local->tm_hour * 3600 + local->tm_min * 60 + std::min(local->tm_sec, 59);
}

// Local offset from UTC at `unix_seconds`, in seconds.
std::optional<std::int64_t> offset_at(std::int64_t unix_seconds) {
  const auto wall = wall_seconds(unix_seconds);
  return wall ? std::optional<std::int64_t>(*wall - unix_seconds) : std::nullopt;
}

// The Unix time of naive local time `wall` (seconds since 1970-01-01 00:00) with the
// given fold, as datetime.timestamp() computes it (CPython's local_to_seconds: solve
// wall = local(u) for u): in a repeated hour fold 0 is the first pass and fold 1 the
// second; a skipped time takes the offset from before the jump with fold 0 (so it lands
// after the jump) and from after it with fold 1.
std::optional<std::int64_t> unix_seconds(std::int64_t wall, int fold) {
  const auto a = offset_at(wall);
  if (!a) {
    return std::nullopt;
  }
  const std::int64_t u1 = wall - *a;
  const auto t1 = wall_seconds(u1);
  if (!t1) {
    return std::nullopt;
  }
  std::int64_t b = 0;
  if (*t1 == wall) {
    // One solution; look for an earlier one (fold 0) or a later one (fold 1).
    const auto probed = offset_at(fold != 0 ? u1 + kDaySeconds : u1 - kDaySeconds);
    if (!probed) {
      return std::nullopt;
    }
    b = *probed;
    if (*a == b) {
      return u1;
    }
  } else {
    b = *t1 - u1;
  }
  const std::int64_t u2 = wall - b;
  const auto t2 = wall_seconds(u2);
  if (!t2) {
    return std::nullopt;
  }
  if (*t2 == wall) {
    return u2;
  }
  if (*t1 == wall) {
    return u1;
  }
  return fold != 0 ? std::min(u1, u2) : std::max(u1, u2);  // a skipped time
}

}  // namespace

std::optional<std::tm> local_tm(std::int64_t unix_seconds) {
  const std::time_t moment = static_cast<std::time_t>(unix_seconds);
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &moment) != 0) {
    return std::nullopt;
  }
#else
  if (localtime_r(&moment, &local) == nullptr) {
    return std::nullopt;
  }
#endif
  return local;
}

std::optional<std::int64_t> next_local_match(const CronFields& fields, double after,
                                             std::int64_t search_minutes) {
  if (!std::isfinite(after) || std::fabs(after) > 1e17) {
    return std::nullopt;
  }
  const auto now = static_cast<std::int64_t>(std::floor(after));
  const auto wall = wall_seconds(now);
  const auto offset_before = offset_at(now - kMaxShiftSeconds);
  const auto offset_now = offset_at(now);
  const auto offset_after = offset_at(now + kMaxShiftSeconds);
  if (!wall || !offset_before || !offset_now || !offset_after) {
    return std::nullopt;
  }
  // Around a fall back, wall minutes already passed come again: search them too.
  const std::int64_t repeated =
      std::max({std::int64_t{0}, *offset_before - *offset_now, *offset_now - *offset_after});
  const std::int64_t first = floor_div(*wall, 60) + 1;
  const std::int64_t last = std::min(first + search_minutes - 1, kLastMinute);
  const bool fixed_time = (fields.hours & kAllHours) != kAllHours;
  std::int64_t start = first - (repeated + 59) / 60;
  std::optional<std::int64_t> best;
  std::int64_t best_minute = 0;
  while (start <= last) {
    const auto offset = first_match_offset(fields, civil_minute(start), last - start);
    if (!offset) {
      break;
    }
    const std::int64_t minute = start + *offset;
    const auto earlier = unix_seconds(minute * 60, 0);
    const auto later = fixed_time ? earlier : unix_seconds(minute * 60, 1);
    if (!earlier || !later) {
      return std::nullopt;
    }
    // The later moment counts only for a repeated minute (for a skipped one it lies before).
    for (const std::int64_t moment : {*earlier, std::max(*earlier, *later)}) {
      if (moment > after && (!best || moment < *best)) {
        best = moment;
        best_minute = minute;
      }
    }
    if (best) {
      // Later wall minutes come later in real time too, unless the clock shifts nearby.
      const auto before_shift = offset_at(*earlier - kMaxShiftSeconds);
      const auto after_shift = offset_at(*earlier + kMaxShiftSeconds);
      if ((before_shift && after_shift && *before_shift == *after_shift) ||
          minute > best_minute + kMaxShiftSeconds / 60) {
        break;
      }
    }
    start = minute + 1;
  }
  return best;
}

}  // namespace scheduler
