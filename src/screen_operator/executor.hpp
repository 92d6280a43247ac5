// ScreenOperatorExecutor: the Python-facing operations on it (its state: state.hpp).
//
// The operations take the Python object (`self`) and reach the executor's other methods
// through it, as methods of a Python class would, so a subclass or a test that patches
// one method (`_detect_screen_size`, `_to_screen_coords`, `_fallback_screenshot`, a
// handler) changes what the others do.
#pragma once

#include "screen_operator/geometry.hpp"
#include "support/args.hpp"
#include "support/errors.hpp"
#include "support/log.hpp"

#include <initializer_list>
#include <span>
#include <utility>
#include <vector>

namespace screen_operator {

inline constexpr support::Logger kLog("nebrix.pc.screen_operator");

// Two items out of an iterable, as `a, b = value` unpacks it.
std::pair<py::object, py::object> unpack_pair(py::handle value);

// Display geometry (geometry_ops.cpp).
void ensure_initialized(py::object self);
void detect_screen_size(py::object self);
void compute_scale(py::object self);
py::tuple to_screen_coords(py::object self, py::handle api_x, py::handle api_y);
py::dict tool_definition(py::object self);
py::dict display_info(py::object self);

// Dispatch and the action handlers (actions.cpp).
py::object execute_action(py::object self, py::str action, py::dict params);

using Params = std::vector<py::object>;  // bound by name; empty where left out
struct ActionHandler {
  using Run = py::object (*)(py::object self, const Params& params);
  // `name` is the method's name, also the one its argument errors show.
  ActionHandler(const char* name_, std::initializer_list<support::args::Parameter> parameters, Run run_)
      : name(name_), signature(name_, parameters), run(run_) {}

  const char* name;
  support::args::Signature signature;
  Run run;
};
std::span<const ActionHandler> action_handlers();

// Screenshots (screenshot.cpp); the first is the screenshot action's handler.
py::object take_screenshot(py::object self, const Params& params);
py::object fallback_screenshot(py::object self);

}  // namespace screen_operator
