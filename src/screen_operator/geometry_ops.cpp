// The executor's display geometry: lazy detection on Windows, macOS and Linux, the
// scale, the coordinate conversion, the tool definition and the display information.
#include "screen_operator/executor.hpp"
#include "screen_operator/results.hpp"
#include "screen_operator/state.hpp"
#include "support/keys.hpp"

#include <cstdio>
#include <string>

namespace screen_operator {

namespace args = support::args;

namespace {

ScreenSize windows_screen_size() {
  py::object user32 = support::import("ctypes").attr("windll").attr("user32");
  // Physical pixels rather than the DPI-scaled ones (for the whole process).
  user32.attr("SetProcessDPIAware")();
  py::object metrics = user32.attr("GetSystemMetrics");
  return ScreenSize{args::to_long(metrics(0), "width"), args::to_long(metrics(1), "height")};
}

ScreenSize macos_screen_size(ScreenSize current) {
  using namespace py::literals;
  const py::list command(py::make_tuple("system_profiler", "SPDisplaysDataType"));
  py::object completed =
      support::import("subprocess")
          .attr("run")(command, "capture_output"_a = true, "text"_a = true, "timeout"_a = 5);
  const py::str output = args::to_str(completed.attr("stdout"), "stdout");
  const ScreenSize size = scan_display_resolution(output.cast<std::string>(), current);
  return size.width == 0 ? kDefaultScreenSize : size;
}

ScreenSize linux_screen_size() {
  py::object size = support::import("nebrix.pc.platform_utils").attr("get_screen_size_linux")();
  if (!args::to_bool(size)) {
    return kDefaultScreenSize;
  }
  auto [width, height] = unpack_pair(size);
  return ScreenSize{args::to_long(width, "width"), args::to_long(height, "height")};
}

struct Keys {
  support::Interned type{"type"};
  support::Interned computer_tool_type{"computer_20250124"};
  support::Interned name{"name"};
  support::Interned computer{"computer"};
  support::Interned display_width_px{"display_width_px"};
  support::Interned display_height_px{"display_height_px"};
  support::Interned display_number{"display_number"};
  support::Interned screen_width{"screen_width"};
  support::Interned screen_height{"screen_height"};
  support::Interned api_width{"api_width"};
  support::Interned api_height{"api_height"};
  support::Interned scale_factor{"scale_factor"};
  support::Interned last_screenshot{"last_screenshot"};
};
const Keys& keys() { return support::interned<Keys>(); }

}  // namespace

std::pair<py::object, py::object> unpack_pair(py::handle value) {
  py::iterator items = py::iter(value);
  std::vector<py::object> found;
  for (; items != py::iterator::sentinel() && found.size() < 3; ++items) {
    found.push_back(py::reinterpret_borrow<py::object>(*items));
  }
  if (found.size() != 2) {
    throw py::value_error(found.size() > 2 ? "too many values to unpack (expected 2)"
                                           : "not enough values to unpack (expected 2, got " +
                                                 std::to_string(found.size()) + ")");
  }
  return {found[0], found[1]};
}

void ensure_initialized(py::object self) {
  if (State(self).initialized()) {
    return;
  }
  support::catch_ordinary([&] { self.attr("_detect_screen_size")(); },
                          [&](py::error_already_set& error) {
                            kLog.warning([&] {
                              return format("Could not detect screen size: %U. Using defaults.",
                                            support::exception_text(error.value()).ptr());
                            });
                            State(self).set_screen(kDefaultScreenSize);
                            self.attr("_compute_scale")();
                          });
  State(self).set(state_keys().initialized, py::bool_(true));
}

void detect_screen_size(py::object self) {
  State state(self);
  const py::object system = support::import("platform").attr("system")();
  // A platform that cannot tell its size gets the default, silently.
  const ScreenSize screen = support::catch_ordinary(
      [&] {
        if (system.equal(py::str("Windows"))) {
          return windows_screen_size();
        }
        if (system.equal(py::str("Darwin"))) {
          return macos_screen_size(state.screen());
        }
        return linux_screen_size();
      },
      [](py::error_already_set&) { return kDefaultScreenSize; });
  state.set_screen(screen);
  // Outside the platform guard: a size the scale cannot use is for the caller to handle.
  self.attr("_compute_scale")();
}

void compute_scale(py::object self) {
  State state(self);
  const Geometry g = geometry_for(state.screen());
  state.set_geometry(g);
  kLog.info([&] {
    char message[160];
    std::snprintf(message, sizeof message, "Screen: %lldx%lld, API: %lldx%lld, Scale: %.3f", g.screen.width,
                  g.screen.height, g.api.width, g.api.height, g.scale_factor);
    return std::string(message);
  });
}

py::tuple to_screen_coords(py::object self, py::handle api_x, py::handle api_y) {
  const py::int_ x = args::to_int(api_x, "api_x");
  const py::int_ y = args::to_int(api_y, "api_y");
  const Geometry geometry = State(self).geometry();
  if (geometry.scale_factor >= 1.0) {
    return py::make_tuple(x, y);
  }
  // float(x): OverflowError for an int beyond the reals.
  const Point point = to_screen_scaled(geometry, args::to_real(x, "api_x"), args::to_real(y, "api_y"));
  return py::make_tuple(point.x, point.y);
}

py::dict tool_definition(py::object self) {
  self.attr("_ensure_initialized")();
  const State state(self);
  const Geometry geometry = state.geometry();
  const Keys& k = keys();
  py::dict definition = support::make_dict({{k.type, k.computer_tool_type},
                                            {k.name, k.computer},
                                            {k.display_width_px, py::int_(geometry.api.width)},
                                            {k.display_height_px, py::int_(geometry.api.height)}});
  if (py::object display_number = state.get(state_keys().display_number); !display_number.is_none()) {
    support::set_item(definition, k.display_number, display_number);
  }
  return definition;
}

py::dict display_info(py::object self) {
  self.attr("_ensure_initialized")();
  const State state(self);
  const Geometry geometry = state.geometry();
  const Keys& k = keys();
  // round(factor, 3) of the runtime, which rounds the decimal value correctly.
  const py::object rounded_factor = py::float_(geometry.scale_factor).attr("__round__")(3);
  return support::make_dict({{k.screen_width, py::int_(geometry.screen.width)},
                             {k.screen_height, py::int_(geometry.screen.height)},
                             {k.api_width, py::int_(geometry.api.width)},
                             {k.api_height, py::int_(geometry.api.height)},
                             {k.scale_factor, rounded_factor},
                             {k.last_screenshot, state.get(state_keys().last_screenshot_path)}});
}

}  // namespace screen_operator
