#include "scheduler/cron_expression.hpp"

#include "scheduler/cron_field.hpp"
#include "scheduler/scheduler.hpp"
#include "support/args.hpp"

#include <datetime.h>

#include <algorithm>
#include <bit>

namespace scheduler {

namespace {

void ensure_datetime_api() {
  if (PyDateTimeAPI == nullptr) {
    PyDateTime_IMPORT;
    if (PyDateTimeAPI == nullptr) {
      throw py::error_already_set();
    }
  }
}

// The value set of each field, as `[min, max]`, in the order of the expression.
constexpr std::int64_t kFieldRanges[5][2] = {{0, 59}, {0, 23}, {1, 31}, {1, 12}, {0, 6}};

std::uint64_t parse_mask(const py::list& parts, std::size_t index) {
  std::uint64_t mask = 0;
  const auto [low, high] = kFieldRanges[index];
  for (std::int64_t value : parse_field(py::reinterpret_borrow<py::str>(parts[index]), low, high)) {
    mask |= std::uint64_t{1} << value;
  }
  return mask;
}

// `value in {v : bit v of mask}`, with the set's own semantics for values that are
// not plain ints (5.0 is in {5}).
bool in_mask(py::handle value, std::uint64_t mask) {
  if (PyLong_CheckExact(value.ptr())) {
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    return overflow == 0 && number >= 0 && number < 64 && ((mask >> number) & 1U);
  }
  return support::check(PySequence_Contains(mask_to_set(mask).ptr(), value.ptr())) != 0;
}

CivilMinute civil_fields(py::handle moment) {
  return {PyDateTime_GET_YEAR(moment.ptr()), PyDateTime_GET_MONTH(moment.ptr()),
          PyDateTime_GET_DAY(moment.ptr()), PyDateTime_DATE_GET_HOUR(moment.ptr()),
          PyDateTime_DATE_GET_MINUTE(moment.ptr())};
}

// A plain datetime at `moment` with the tzinfo of `like` (fold 0, as date arithmetic gives).
py::object make_datetime(const CivilMinute& moment, py::handle like) {
  PyObject* tzinfo = PyDateTime_DATE_GET_TZINFO(like.ptr());
  return support::steal(PyDateTimeAPI->DateTime_FromDateAndTime(static_cast<int>(moment.year), moment.month,
                                                                moment.day, moment.hour, moment.minute, 0, 0,
                                                                tzinfo, PyDateTimeAPI->DateTimeType));
}

py::object minutes(std::int64_t count) {
  ensure_datetime_api();
  return support::steal(
      PyDelta_FromDSU(static_cast<int>(count / 1440), static_cast<int>(count % 1440) * 60, 0));
}

// The current local time as a naive datetime, through time.time().
py::object local_now() {
  return support::import("datetime").attr("datetime").attr("fromtimestamp")(current_time());
}

}  // namespace

CronExpression::CronExpression(py::handle expression) {
  text_ = support::args::to_str(expression, "expression").attr("strip")();
  const py::list parts = text_.attr("split")();
  if (parts.size() != 5) {
    support::raise(PyExc_ValueError,
                   py::str("Cron expression must have 5 fields (min hour dom month dow), got {}: '{}'")
                       .format(parts.size(), text_));
  }
  fields_ = {parse_mask(parts, 0), parse_mask(parts, 1), parse_mask(parts, 2), parse_mask(parts, 3),
             parse_mask(parts, 4)};
}

bool CronExpression::matches(py::handle moment) const {
  ensure_datetime_api();
  if (PyDateTime_CheckExact(moment.ptr())) {
    return fields_.matches(civil_fields(moment));
  }
  // Anything else is asked for its fields, in the order that tests the cheap ones first.
  return in_mask(moment.attr("minute"), fields_.minutes) && in_mask(moment.attr("hour"), fields_.hours) &&
         in_mask(moment.attr("day"), fields_.days) && in_mask(moment.attr("month"), fields_.months) &&
         in_mask(moment.attr("weekday")(), python_weekdays(fields_.weekdays));
}

std::optional<std::int64_t> CronExpression::search(const CivilMinute& start, std::int64_t& room) const {
  room = kLastMinute - minute_index(start);
  return first_match_offset(fields_, start, std::min(room, kSearchMinutes - 1));
}

py::str CronExpression::not_found_message() const {
  return py::str("No next occurrence found for cron: {}").format(text_);
}

py::object CronExpression::find_next(py::handle after) const {
  ensure_datetime_api();
  const py::object base = after.is_none() ? local_now() : py::reinterpret_borrow<py::object>(after);
  if (!PyDateTime_Check(base.ptr())) {
    support::args::raise_incorrect_type("after", "datetime", base);
  }
  py::object found = find_next_wall(base);
  if (!found || py::handle(PyDateTime_DATE_GET_TZINFO(base.ptr())).is_none()) {
    return found;
  }
  // An aware time in the second pass of a repeated hour: wall-clock arithmetic lands in
  // the first pass, before `after`. Take each matching minute's later pass, or go on
  // (for a day of minutes at most: a zone's shift is never that long).
  const py::object limit = base.attr("timestamp")();
  for (int step = 0; step < 24 * 60 && found && !(py::object(found.attr("timestamp")()) > limit); ++step) {
    py::object second_pass = found.attr("replace")(py::arg("fold") = 1);
    if (py::object(second_pass.attr("timestamp")()) > limit) {
      return second_pass;
    }
    found = find_next_wall(found);
  }
  return found;
}

py::object CronExpression::find_next_wall(const py::object& base) const {
  std::int64_t room = 0;
  if (PyDateTime_CheckExact(base.ptr()) && minute_index(civil_fields(base)) < kLastMinute) {
    // A plain datetime: the answer is built directly, with the caller's tzinfo.
    const std::int64_t first = minute_index(civil_fields(base)) + 1;
    if (const auto offset = search(civil_minute(first), room)) {
      return make_datetime(civil_minute(first + *offset), base);
    }
    if (room >= kSearchMinutes) {
      return {};
    }
  }
  // Other types get the date arithmetic of their own type, as a minute-by-minute
  // search would do it.
  const py::object candidate =
      base.attr("replace")(py::arg("second") = 0, py::arg("microsecond") = 0) + minutes(1);
  if (!PyDateTime_Check(candidate.ptr())) {
    support::args::raise_incorrect_type("after", "datetime", candidate);
  }
  if (const auto offset = search(civil_fields(candidate), room)) {
    return *offset == 0 ? candidate : candidate + minutes(*offset);
  }
  if (room < kSearchMinutes) {
    // That search would step past the end of the calendar: the same OverflowError.
    (void)(candidate + minutes(room) + minutes(1));
  }
  return {};
}

py::set mask_to_set(std::uint64_t mask) {
  py::set values;
  for (; mask != 0; mask &= mask - 1) {
    values.add(py::int_(std::countr_zero(mask)));
  }
  return values;
}

std::uint64_t python_weekdays(std::uint64_t cron_weekdays) {
  // Cron Sunday (bit 0) becomes 6; every other day moves down by one.
  return (cron_weekdays >> 1) | ((cron_weekdays & 1U) << 6);
}

}  // namespace scheduler
