#include "scheduler/cron.hpp"

#include <bit>

namespace scheduler {

namespace {

// The lowest set bit of `mask` at or above `from` (a field's value, below 64), or -1.
int lowest_bit_from(std::uint64_t mask, int from) {
  const std::uint64_t remaining = mask & (~std::uint64_t{0} << from);
  return remaining == 0 ? -1 : std::countr_zero(remaining);
}

// Cron day of week (0 = Sunday) of a day counted from 1970-01-01.
int cron_weekday(std::int64_t days) {
  // 1970-01-01 was a Thursday (4).
  const std::int64_t weekday = (days + 4) % 7;
  return static_cast<int>(weekday < 0 ? weekday + 7 : weekday);
}

int days_in_month(std::int64_t year, int month) {
  static constexpr int kLengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  return month == 2 && leap ? 29 : kLengths[month - 1];
}

// Days of the month (bit d for day d) on which both the day-of-month and the
// day-of-week sets hold.
std::uint64_t matching_days(const CronFields& fields, std::int64_t year, int month) {
  const int length = days_in_month(year, month);
  int weekday = cron_weekday(days_from_civil(year, month, 1));
  std::uint64_t days = 0;
  for (int day = 1; day <= length; ++day) {
    if ((fields.weekdays >> weekday) & 1U) {
      days |= std::uint64_t{1} << day;
    }
    weekday = weekday == 6 ? 0 : weekday + 1;
  }
  return days & fields.days;
}

}  // namespace

bool CronFields::matches(const CivilMinute& moment) const {
  return ((minutes >> moment.minute) & 1U) && ((hours >> moment.hour) & 1U) && ((days >> moment.day) & 1U) &&
         ((months >> moment.month) & 1U) &&
         ((weekdays >> cron_weekday(days_from_civil(moment.year, moment.month, moment.day))) & 1U);
}

// Howard Hinnant's days_from_civil.
std::int64_t days_from_civil(std::int64_t year, int month, int day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t year_of_era = year - era * 400;
  const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

std::int64_t minute_index(const CivilMinute& moment) {
  return days_from_civil(moment.year, moment.month, moment.day) * 1440 + moment.hour * 60 + moment.minute;
}

// Howard Hinnant's civil_from_days.
CivilMinute civil_minute(std::int64_t index) {
  const std::int64_t day_index = index >= 0 ? index / 1440 : (index - 1439) / 1440;
  const int minute_of_day = static_cast<int>(index - day_index * 1440);
  const std::int64_t days = day_index + 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t day_of_era = days - era * 146097;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;
  const int day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
  const int month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
  const std::int64_t year = year_of_era + era * 400 + (month <= 2);
  return {year, month, day, minute_of_day / 60, minute_of_day % 60};
}

std::optional<std::int64_t> first_match_offset(const CronFields& fields, const CivilMinute& start,
                                               std::int64_t limit) {
  if (fields.minutes == 0 || fields.hours == 0 || fields.days == 0 || fields.months == 0 ||
      fields.weekdays == 0) {
    return std::nullopt;
  }
  const std::int64_t origin = minute_index(start);
  CivilMinute at = start;
  auto next_month = [&at] {
    at = {at.month == 12 ? at.year + 1 : at.year, at.month == 12 ? 1 : at.month + 1, 1, 0, 0};
  };
  auto next_day = [&at, &next_month] {
    if (at.day == days_in_month(at.year, at.month)) {
      next_month();
    } else {
      at = {at.year, at.month, at.day + 1, 0, 0};
    }
  };
  // Each step moves `at` forward to the earliest minute that can still match, so the
  // first minute where all fields hold is the first match.
  while (minute_index(at) - origin <= limit) {
    if (!((fields.months >> at.month) & 1U)) {
      const int month = lowest_bit_from(fields.months, at.month);
      if (month < 0) {
        at = {at.year + 1, std::countr_zero(fields.months), 1, 0, 0};
      } else {
        at = {at.year, month, 1, 0, 0};
      }
      continue;
    }
    const int day = lowest_bit_from(matching_days(fields, at.year, at.month), at.day);
    if (day < 0) {
      next_month();
      continue;
    }
    if (day != at.day) {
      at = {at.year, at.month, day, 0, 0};
    }
    const int hour = lowest_bit_from(fields.hours, at.hour);
    if (hour < 0) {
      next_day();
      continue;
    }
    if (hour != at.hour) {
      at.hour = hour;
      at.minute = 0;
    }
    const int minute = lowest_bit_from(fields.minutes, at.minute);
    if (minute < 0) {
      if (at.hour == 23) {
        next_day();
      } else {
        at = {at.year, at.month, at.day, at.hour + 1, 0};
      }
      continue;
    }
    at.minute = minute;
    break;
  }
  if (const std::int64_t offset = minute_index(at) - origin; offset <= limit) {
    return offset;
  }
  return std::nullopt;
}

}  // namespace scheduler
