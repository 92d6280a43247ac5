// Display geometry: the factor that fits a screen into the API's image limits and the
// conversions between the screen's pixels and the pixels of the image the model sees.
// Plain C++; the binding layer turns GeometryError into the matching Python error.
#pragma once

#include <stdexcept>
#include <string_view>

namespace screen_operator {

inline constexpr long long kApiMaxLongEdge = 1568;
inline constexpr long long kApiMaxTotalPixels = 1150000;

struct ScreenSize {
  long long width = 0;
  long long height = 0;
};

// Used whenever the real size cannot be detected.
inline constexpr ScreenSize kDefaultScreenSize{1920, 1080};

struct GeometryError : std::runtime_error {
  enum class Kind { kDivisionByZero, kDomain, kOverflow };
  GeometryError(Kind error_kind, const char* message) : std::runtime_error(message), kind(error_kind) {}
  Kind kind;
};

// The factor (at most 1.0) that brings an image of this size within both API limits.
// A zero or negative size has no such factor and raises GeometryError.
double scale_factor_for(ScreenSize size);

struct Geometry {
  ScreenSize screen;
  double scale_factor = 1.0;
  ScreenSize api;
};

Geometry geometry_for(ScreenSize screen);

struct Point {
  long long x = 0;
  long long y = 0;
};

// API pixels to screen pixels on a scaled screen (factor below 1.0), clamped onto it.
Point to_screen_scaled(const Geometry& geometry, double api_x, double api_y);

// Screen pixels back to API pixels, truncated, not clamped.
Point to_api(double scale_factor, double screen_x, double screen_y);

// Applies the "Resolution" lines of `system_profiler SPDisplaysDataType` output to
// `size` in turn ("Resolution: 2560 x 1600 Retina" sets 2560 x 1600), stopping at the
// first line that leaves a positive width. A number that does not parse raises
// std::invalid_argument, so a malformed line never lets a later one decide.
ScreenSize scan_display_resolution(std::string_view system_profiler_output, ScreenSize size);

}  // namespace screen_operator
