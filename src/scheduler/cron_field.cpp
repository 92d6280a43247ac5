#include "scheduler/cron_field.hpp"

#include <cstdint>
#include <limits>
#include <string_view>

namespace scheduler {

namespace {

using Text = std::u32string_view;

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

// str.strip() without arguments.
Text strip(Text text) {
  while (!text.empty() && Py_UNICODE_ISSPACE(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && Py_UNICODE_ISSPACE(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

// An integer of the field, saturated to 64 bits; `exact` holds the runtime's int when
// the value does not fit, for the few computations where saturation would change the
// answer.
struct Integer {
  std::int64_t value;
  py::object exact;
};

Integer read_integer(Text text) {
  constexpr std::size_t kSafeDigits = 18;
  bool plain = !text.empty() && text.size() <= kSafeDigits;
  std::int64_t value = 0;
  for (std::size_t i = 0; plain && i < text.size(); ++i) {
    plain = text[i] >= U'0' && text[i] <= U'9';
    value = value * 10 + (text[i] - U'0');
  }
  if (plain) {
    return {value, {}};
  }
  const py::object piece = support::steal(
      PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, text.data(), static_cast<Py_ssize_t>(text.size())));
  py::object number = support::steal(PyLong_FromUnicodeObject(piece.ptr(), 10));
  int overflow = 0;
  const long long fitted = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (overflow == 0) {
    return {fitted, {}};
  }
  return {overflow > 0 ? kMax : kMin, number};
}

py::object as_python(const Integer& integer) {
  return integer.exact ? integer.exact : py::int_(integer.value);
}

// high - low for low <= high: exact in unsigned arithmetic, where the signed difference
// may overflow.
std::uint64_t distance(std::int64_t low, std::int64_t high) {
  return static_cast<std::uint64_t>(high) - static_cast<std::uint64_t>(low);
}

// low, low + step, ... up to high, never stepping past high (so never past kMax).
void add_steps(std::vector<std::int64_t>& values, std::int64_t low, std::int64_t high, std::uint64_t step) {
  if (low > high) {
    return;
  }
  for (std::int64_t value = low;;
       value = static_cast<std::int64_t>(static_cast<std::uint64_t>(value) + step)) {
    values.push_back(value);
    if (distance(value, high) < step) {
      return;
    }
  }
}

// start, start + step, ... up to max_value, of which only those at or above min_value.
void add_progression(std::vector<std::int64_t>& values, const Integer& start, const Integer& step,
                     std::int64_t min_value, std::int64_t max_value) {
  if (step.value == 0) {
    throw py::value_error("range() arg 3 must not be zero");
  }
  if (step.value < 0) {
    return;  // counts down from start, never reaching the range
  }
  std::int64_t first = start.value;
  if (start.exact || step.exact) {
    // Beyond 64 bits: the first member at or above min_value, in the runtime's integers.
    py::object low = py::int_(min_value);
    py::object begin = as_python(start);
    if (begin < low) {
      begin = low + support::steal(PyNumber_Remainder((begin - low).ptr(), as_python(step).ptr()));
    }
    if (begin > py::int_(max_value)) {
      return;
    }
    first = begin.cast<std::int64_t>();
    if (step.exact) {
      values.push_back(first);
      return;
    }
  } else if (first < min_value) {
    const auto stride = static_cast<std::uint64_t>(step.value);
    const std::uint64_t behind = distance(first, min_value) % stride;
    if (behind != 0) {
      if (min_value > max_value || stride - behind > distance(min_value, max_value)) {
        return;
      }
      first = static_cast<std::int64_t>(static_cast<std::uint64_t>(min_value) + (stride - behind));
    } else {
      first = min_value;
    }
  }
  add_steps(values, first, max_value, static_cast<std::uint64_t>(step.value));
}

void add_piece(std::vector<std::int64_t>& values, Text piece, std::int64_t min_value,
               std::int64_t max_value) {
  if (piece == U"*") {
    add_steps(values, min_value, max_value, 1);
    return;
  }
  if (const std::size_t slash = piece.find(U'/'); slash != Text::npos) {
    const Integer step = read_integer(piece.substr(slash + 1));
    const Text base = piece.substr(0, slash);
    const Integer start = base == U"*" ? Integer{min_value, {}} : read_integer(base);
    add_progression(values, start, step, min_value, max_value);
    return;
  }
  if (const std::size_t dash = piece.find(U'-'); dash != Text::npos) {
    const Integer low = read_integer(piece.substr(0, dash));
    const Integer high = read_integer(piece.substr(dash + 1));
    add_steps(values, std::max(low.value, min_value), std::min(high.value, max_value), 1);
    return;
  }
  const Integer value = read_integer(piece);
  if (!value.exact && value.value >= min_value && value.value <= max_value) {
    values.push_back(value.value);
  }
}

}  // namespace

std::vector<std::int64_t> parse_field(const py::str& text, std::int64_t min_value, std::int64_t max_value) {
  Py_UCS4* buffer = PyUnicode_AsUCS4Copy(text.ptr());
  if (buffer == nullptr) {
    throw py::error_already_set();
  }
  const std::u32string characters(reinterpret_cast<const char32_t*>(buffer),
                                  static_cast<std::size_t>(PyUnicode_GET_LENGTH(text.ptr())));
  PyMem_Free(buffer);

  std::vector<std::int64_t> values;
  Text rest = characters;
  while (true) {
    const std::size_t comma = rest.find(U',');
    add_piece(values, strip(rest.substr(0, comma)), min_value, max_value);
    if (comma == Text::npos) {
      return values;
    }
    rest.remove_prefix(comma + 1);
  }
}

}  // namespace scheduler
