#include "screen_operator/geometry.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

namespace screen_operator {

namespace {

// Python's int(float): truncation, with its errors for values that have no integer.
double truncated(double value) {
  if (std::isnan(value)) {
    throw GeometryError(GeometryError::Kind::kDomain, "cannot convert float NaN to integer");
  }
  if (std::isinf(value)) {
    throw GeometryError(GeometryError::Kind::kOverflow, "cannot convert float infinity to integer");
  }
  return std::trunc(value);
}

long long to_integer(double value) {
  const double whole = truncated(value);
  constexpr double kLimit = 9223372036854775808.0;  // 2^63, exact in a double
  if (!(whole < kLimit && whole >= -kLimit)) {
    throw GeometryError(GeometryError::Kind::kOverflow, "integer too large for a screen coordinate");
  }
  return static_cast<long long>(whole);
}

// Clamped as a real number, so a far-off coordinate cannot overflow.
long long clamp_to_extent(double value, long long extent) {
  return static_cast<long long>(std::max(0.0, std::min(truncated(value), static_cast<double>(extent - 1))));
}

// str.split() for the ASCII whitespace system_profiler writes.
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r') || (c >= '\x1c' && c <= '\x1f'); }

std::vector<std::string_view> split_words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_space(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !is_space(line[i])) ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// int(text) for decimal text: an optional sign, digits, single underscores between digits.
long long parse_integer(std::string_view text) {
  std::string digits;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') digits.push_back('-');
    ++i;
  }
  bool after_digit = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digits.push_back(c);
      after_digit = true;
    } else if (c == '_' && after_digit && i + 1 < text.size() && text[i + 1] != '_') {
      after_digit = false;
    } else {
      throw std::invalid_argument("invalid literal for int() with base 10: '" + std::string(text) + "'");
    }
  }
  long long value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) {
    throw std::invalid_argument("invalid literal for int() with base 10: '" + std::string(text) + "'");
  }
  return value;
}

}  // namespace

double scale_factor_for(ScreenSize size) {
  const long long long_edge = std::max(size.width, size.height);
  if (long_edge == 0 || size.width == 0 || size.height == 0) {
    throw GeometryError(GeometryError::Kind::kDivisionByZero, "division by zero");
  }
  if (size.width < 0 || size.height < 0) {
    throw GeometryError(GeometryError::Kind::kDomain, "math domain error");
  }
  const double total_pixels = static_cast<double>(size.width) * static_cast<double>(size.height);
  const double long_edge_scale = static_cast<double>(kApiMaxLongEdge) / static_cast<double>(long_edge);
  const double total_pixels_scale = std::sqrt(static_cast<double>(kApiMaxTotalPixels) / total_pixels);
  return std::min({1.0, long_edge_scale, total_pixels_scale});
}

Geometry geometry_for(ScreenSize screen) {
  const double factor = scale_factor_for(screen);
  // With a positive size and a factor in (0, 1] the products stay within the screen.
  return Geometry{screen, factor,
                  ScreenSize{to_integer(static_cast<double>(screen.width) * factor),
                             to_integer(static_cast<double>(screen.height) * factor)}};
}

Point to_screen_scaled(const Geometry& geometry, double api_x, double api_y) {
  if (geometry.scale_factor == 0.0) {
    throw GeometryError(GeometryError::Kind::kDivisionByZero, "float division by zero");
  }
  return Point{clamp_to_extent(api_x / geometry.scale_factor, geometry.screen.width),
               clamp_to_extent(api_y / geometry.scale_factor, geometry.screen.height)};
}

Point to_api(double scale_factor, double screen_x, double screen_y) {
  return Point{to_integer(screen_x * scale_factor), to_integer(screen_y * scale_factor)};
}

ScreenSize scan_display_resolution(std::string_view output, ScreenSize size) {
  std::size_t line_start = 0;
  while (line_start <= output.size()) {
    std::size_t line_end = output.find('\n', line_start);
    if (line_end == std::string_view::npos) line_end = output.size();
    const std::string_view line = output.substr(line_start, line_end - line_start);
    line_start = line_end + 1;
    if (line.find("Resolution") == std::string_view::npos) continue;
    const std::vector<std::string_view> words = split_words(line);
    for (std::size_t i = 1; i + 1 < words.size(); ++i) {
      if (words[i] == "x") {
        size.width = parse_integer(words[i - 1]);
        size.height = parse_integer(words[i + 1]);
        break;
      }
    }
    if (size.width > 0) break;
  }
  return size;
}

}  // namespace screen_operator
