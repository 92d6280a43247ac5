// Dispatch of the model's actions and the mouse and keyboard handlers.
#include "screen_operator/executor.hpp"
#include "screen_operator/keys.hpp"
#include "screen_operator/results.hpp"
#include "screen_operator/state.hpp"
#include "support/compat.hpp"

#include <algorithm>
#include <array>

namespace screen_operator {

namespace args = support::args;
using namespace py::literals;

namespace {

// Fixed timings, in seconds.
constexpr double kMoveGlide = 0.3;
constexpr double kDragStartGlide = 0.1;
constexpr double kDragEndGlide = 0.5;
constexpr double kApproachGlide = 0.1;
constexpr double kPastePause = 0.1;
constexpr double kKeystrokeInterval = 0.02;
constexpr double kLongestWait = 10.0;
constexpr double kLongestHold = 5.0;

constexpr Py_ssize_t kTypedPreviewLength = 50;

py::module_ input_layer() { return support::import("pyautogui"); }

void sleep_for(double seconds) { support::import("time").attr("sleep")(seconds); }

bool on_macos() { return support::import("platform").attr("system")().equal(py::str("Darwin")); }

// A coordinate parameter: None or a list; the list when it holds exactly two items.
py::object optional_point(const py::object& given, const char* name) {
  if (!given) {
    return py::object();
  }
  py::object coordinate = args::to_optional_list(given, name);
  return !coordinate.is_none() && py::len(coordinate) == 2 ? coordinate : py::object();
}

py::str text_param(const py::object& given, const char* name) {
  return given ? args::to_str(given, name) : py::str("");
}

std::pair<py::object, py::object> screen_point(py::object& self, const py::object& coordinate) {
  const auto items = py::reinterpret_borrow<py::list>(coordinate);
  return unpack_pair(self.attr("_to_screen_coords")(items[0], items[1]));
}

// Glides to the coordinate, when there is one, before a scroll or a button press.
void approach(py::object& self, const py::module_& gui, const py::object& coordinate) {
  if (coordinate) {
    auto [x, y] = screen_point(self, coordinate);
    gui.attr("moveTo")(x, y, "duration"_a = kApproachGlide);
  }
}

// Runs `step`; if it fails, `release` (of a key or button left pressed) runs before the
// error goes on. A failing release does not hide the error that caused it.
template <class Step, class Release>
void releasing_on_failure(Step&& step, Release&& release) {
  try {
    step();
  } catch (py::error_already_set&) {
    support::catch_ordinary(release, [](py::error_already_set& failure) {
      kLog.log_exception(support::Level::warning, failure.value(),
                         [] { return "Could not release what a failed action left pressed"; });
    });
    throw;
  }
}

// -- clicks and moves ------------------------------------------------------------

// A press or a move at one point: the input layer's `method`, given `clicks` or a glide
// where they are set.
struct PointerAction {
  const char* action;
  const char* done;  // followed by " (x, y)"
  const char* method;
  int clicks = 0;
  double glide = 0.0;
};

constexpr PointerAction kLeftClick{"left_click", "Clicked at", "click"};
constexpr PointerAction kRightClick{"right_click", "Right-clicked at", "rightClick"};
constexpr PointerAction kMiddleClick{"middle_click", "Middle-clicked at", "middleClick"};
constexpr PointerAction kDoubleClick{"double_click", "Double-clicked at", "doubleClick"};
constexpr PointerAction kTripleClick{"triple_click", "Triple-clicked at", "click", 3};
constexpr PointerAction kMouseMove{"mouse_move", "Moved cursor to", "moveTo", 0, kMoveGlide};

template <const PointerAction& pointer>
py::object point_at(py::object self, const Params& params) {
  py::object coordinate = optional_point(params[0], "coordinate");
  if (!coordinate) {
    return error_result(format("%s requires coordinate [x, y]", pointer.action));
  }
  py::module_ gui = input_layer();
  auto [x, y] = screen_point(self, coordinate);
  const py::object perform = gui.attr(pointer.method);
  if (pointer.clicks > 0) {
    perform(x, y, "clicks"_a = pointer.clicks);
  } else if (pointer.glide > 0.0) {
    perform(x, y, "duration"_a = pointer.glide);
  } else {
    perform(x, y);
  }
  return text_result(format("%s (%S, %S)", pointer.done, x.ptr(), y.ptr()));
}

py::object drag(py::object self, const Params& params) {
  py::object start = optional_point(params[0], "start_coordinate");
  py::object end = optional_point(params[1], "coordinate");
  if (!start || !end) {
    return error_result(
        format("left_click_drag requires %s [x, y]", start ? "coordinate" : "start_coordinate"));
  }
  py::module_ gui = input_layer();
  auto [start_x, start_y] = screen_point(self, start);
  auto [end_x, end_y] = screen_point(self, end);
  gui.attr("moveTo")(start_x, start_y, "duration"_a = kDragStartGlide);
  gui.attr("mouseDown")();
  // Structured bindings are captured through initializers: Clang before 16 cannot capture them.
  releasing_on_failure(
      [&gui, x = end_x, y = end_y] { gui.attr("moveTo")(x, y, "duration"_a = kDragEndGlide); },
      [&] { gui.attr("mouseUp")(); });
  gui.attr("mouseUp")();
  return text_result(
      format("Dragged from (%S, %S) to (%S, %S)", start_x.ptr(), start_y.ptr(), end_x.ptr(), end_y.ptr()));
}

// -- keyboard ----------------------------------------------------------------------

py::object type_text(py::object, const Params& params) {
  const py::str text = text_param(params[0], "text");
  if (py::len(text) == 0) {
    return error_result(py::str("type requires text parameter"));
  }
  py::module_ gui = input_layer();
  try {
    // Pasting is fast and keeps characters that have no key on this keyboard layout.
    support::import("pyperclip").attr("copy")(text);
    gui.attr("hotkey")(on_macos() ? "command" : "ctrl", "v");
    sleep_for(kPastePause);
  } catch (py::error_already_set& error) {
    if (!error.matches(PyExc_ImportError)) throw;
    gui.attr("write")(text, "interval"_a = kKeystrokeInterval);
  }
  const bool shortened = PyUnicode_GET_LENGTH(text.ptr()) > kTypedPreviewLength;
  const py::object preview = support::steal(PyUnicode_Substring(text.ptr(), 0, kTypedPreviewLength));
  return text_result(format("Typed: %U%s", preview.ptr(), shortened ? "..." : ""));
}

// The input layer's name for one key the model names.
py::str key_name(const py::str& name) {
  if (auto text = support::utf8_view_if_valid(name)) {
    if (auto mapped = mapped_key_name(*text)) {
      return py::str(mapped->data(), mapped->size());
    }
  }
  return name.attr("lower")();
}

py::object press_key(py::object, const Params& params) {
  const py::str text = text_param(params[0], "text");
  if (py::len(text) == 0) {
    return error_result(py::str("key requires text parameter"));
  }
  py::module_ gui = input_layer();
  const py::str plus("+");
  if (!text.contains(plus)) {
    py::str key = key_name(text);
    gui.attr("press")(key);
    return text_result(format("Pressed: %U", key.ptr()));
  }
  const bool macos = on_macos();
  py::list keys;
  for (py::handle part : text.attr("split")(plus)) {
    py::str key = key_name(part.attr("strip")());
    keys.append(macos && key.equal(py::str("ctrl")) ? py::str(kMacControlKey.data(), kMacControlKey.size())
                                                    : key);
  }
  gui.attr("hotkey")(*keys);
  return text_result(format("Pressed: %U", plus.attr("join")(keys).ptr()));
}

py::object hold_key(py::object, const Params& params) {
  const py::str text = text_param(params[0], "text");
  const double duration = params[1] ? args::to_real(params[1], "duration") : 0.5;
  if (py::len(text) == 0) {
    return error_result(py::str("hold_key requires text parameter"));
  }
  py::module_ gui = input_layer();
  const py::str key = text.attr("lower")();
  gui.attr("keyDown")(key);
  releasing_on_failure([&] { sleep_for(std::min(duration, kLongestHold)); }, [&] { gui.attr("keyUp")(key); });
  gui.attr("keyUp")(key);
  return text_result(format("Held %U for %Rs", key.ptr(), py::float_(duration).ptr()));
}

// -- scrolling, waiting, the left button, the pointer ---------------------------------

py::object scroll(py::object self, const Params& params) {
  py::object coordinate = optional_point(params[0], "coordinate");
  const py::str direction = params[1] ? args::to_str(params[1], "direction") : py::str("down");
  const py::int_ amount = params[2] ? args::to_int(params[2], "amount") : py::int_(3);
  py::module_ gui = input_layer();
  approach(self, gui, coordinate);
  const auto name = support::utf8_view_if_valid(direction);
  const bool forward = name && scrolls_forward(*name);
  const py::object steps = forward ? py::object(amount) : support::steal(PyNumber_Negative(amount.ptr()));
  gui.attr(name && scrolls_horizontally(*name) ? "hscroll" : "scroll")(steps);
  return text_result(format("Scrolled %U by %S", direction.ptr(), amount.ptr()));
}

py::object wait(py::object, const Params& params) {
  const double duration = std::min(params[0] ? args::to_real(params[0], "duration") : 1.0, kLongestWait);
  sleep_for(duration);
  return text_result(format("Waited %Rs", py::float_(duration).ptr()));
}

py::object left_mouse_down(py::object self, const Params& params) {
  py::object coordinate = optional_point(params[0], "coordinate");
  py::module_ gui = input_layer();
  approach(self, gui, coordinate);
  gui.attr("mouseDown")();
  return text_result(py::str("Left mouse button down"));
}

py::object left_mouse_up(py::object, const Params&) {
  input_layer().attr("mouseUp")();
  return text_result(py::str("Left mouse button up"));
}

py::object cursor_position(py::object self, const Params&) {
  auto [screen_x, screen_y] = unpack_pair(input_layer().attr("position")());
  const Point api =
      to_api(State(self).scale_factor(), args::to_real(screen_x, "x"), args::to_real(screen_y, "y"));
  return text_result(format("Cursor position: (%lld, %lld)", api.x, api.y));
}

const std::array<ActionHandler, 16> kHandlers{{
    {"_action_screenshot", {}, &take_screenshot},
    {"_action_left_click", {{"coordinate", false}}, &point_at<kLeftClick>},
    {"_action_right_click", {{"coordinate", false}}, &point_at<kRightClick>},
    {"_action_middle_click", {{"coordinate", false}}, &point_at<kMiddleClick>},
    {"_action_double_click", {{"coordinate", false}}, &point_at<kDoubleClick>},
    {"_action_triple_click", {{"coordinate", false}}, &point_at<kTripleClick>},
    {"_action_mouse_move", {{"coordinate", false}}, &point_at<kMouseMove>},
    {"_action_left_click_drag", {{"start_coordinate", false}, {"coordinate", false}}, &drag},
    {"_action_type", {{"text", false}}, &type_text},
    {"_action_key", {{"text", false}}, &press_key},
    {"_action_scroll", {{"coordinate", false}, {"direction", false}, {"amount", false}}, &scroll},
    {"_action_wait", {{"duration", false}}, &wait},
    {"_action_hold_key", {{"text", false}, {"duration", false}}, &hold_key},
    {"_action_left_mouse_down", {{"coordinate", false}}, &left_mouse_down},
    {"_action_left_mouse_up", {}, &left_mouse_up},
    {"_action_cursor_position", {}, &cursor_position},
}};

}  // namespace

std::span<const ActionHandler> action_handlers() { return kHandlers; }

py::object execute_action(py::object self, py::str action, py::dict params) {
  self.attr("_ensure_initialized")();
  return support::catch_ordinary(
      [&]() -> py::object {
        py::object handler = support::optional_attr(self, format("_action_%U", action.ptr()));
        return handler ? handler(**params)
                       : py::object(error_result(format("Unknown action: %U", action.ptr())));
      },
      [&](py::error_already_set& error) -> py::object {
        kLog.log_exception(support::Level::error, error.value(),
                           [&] { return format("Action %U failed", action.ptr()); });
        return error_result(
            format("Action %U failed: %U", action.ptr(), support::exception_text(error.value()).ptr()));
      });
}

}  // namespace screen_operator
