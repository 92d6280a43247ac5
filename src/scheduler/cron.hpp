// The cron matcher: five value sets as bit masks, and the search for the first
// matching minute, which skips whole months, days and hours that cannot match.
// Plain C++; nothing here knows about Python.
#pragma once

#include <cstdint>
#include <optional>

namespace scheduler {

// 9999-12-31 23:59, the last minute the date type holds, in minutes since 1970.
inline constexpr std::int64_t kLastMinute = 4223371679;

// Naive wall-clock fields of one minute in the proleptic Gregorian calendar.
struct CivilMinute {
  std::int64_t year;
  int month;   // 1..12
  int day;     // 1..31
  int hour;    // 0..23
  int minute;  // 0..59
};

// The value sets of a five-field expression: bit v of a mask is set when v is in the set.
struct CronFields {
  std::uint64_t minutes = 0;   // 0..59
  std::uint64_t hours = 0;     // 0..23
  std::uint64_t days = 0;      // day of month, 1..31
  std::uint64_t months = 0;    // 1..12
  std::uint64_t weekdays = 0;  // cron numbering, 0 = Sunday .. 6 = Saturday

  bool matches(const CivilMinute& moment) const;
};

// Days since 1970-01-01 of a civil date.
std::int64_t days_from_civil(std::int64_t year, int month, int day);
// Minutes since 1970-01-01 00:00 of a civil minute, and back.
std::int64_t minute_index(const CivilMinute& moment);
CivilMinute civil_minute(std::int64_t index);

// The number of minutes from `start` to the first minute at or after it that matches
// `fields`, if that number is at most `limit`; the same answer as testing `start`,
// `start` + 1 minute, ... `start` + `limit` minutes one by one.
std::optional<std::int64_t> first_match_offset(const CronFields& fields, const CivilMinute& start,
                                               std::int64_t limit);

}  // namespace scheduler
