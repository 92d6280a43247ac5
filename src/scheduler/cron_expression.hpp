// CronExpression as the host sees it: parsing of the expression text, matching of a
// datetime, and the next matching minute as a datetime of the caller's own type.
#pragma once

#include "scheduler/cron.hpp"
#include "support/python.hpp"

namespace scheduler {

// Candidate minutes the search looks at: one leap year.
inline constexpr std::int64_t kSearchMinutes = 366 * 24 * 60;

class CronExpression {
 public:
  // Raises TypeError when `expression` is not a str, ValueError when it is malformed.
  explicit CronExpression(py::handle expression);

  const py::str& text() const { return text_; }
  const CronFields& fields() const { return fields_; }

  bool matches(py::handle moment) const;
  // The first matching minute strictly after `after` (None: the current local time), or
  // an empty object when no minute of the search window matches (the caller raises
  // not_found_message(): a C++ exception would cost far more than the search).
  py::object find_next(py::handle after) const;
  py::str not_found_message() const;

 private:
  // The first match at or after `start` within the search window, or none; `room` is
  // the number of minutes from `start` to the last minute the date type can hold.
  std::optional<std::int64_t> search(const CivilMinute& start, std::int64_t& room) const;
  // The first matching wall-clock minute after `base`'s, by the date arithmetic of its type.
  py::object find_next_wall(const py::object& base) const;

  py::str text_;
  CronFields fields_;
};

// The set {v : bit v of mask}, as a Python set.
py::set mask_to_set(std::uint64_t mask);
// Cron weekdays (0 = Sunday) as the date type numbers them (0 = Monday).
std::uint64_t python_weekdays(std::uint64_t cron_weekdays);

}  // namespace scheduler
