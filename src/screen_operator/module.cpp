// Python binding of nebrix.pc.screen_operator: thin shims over executor.hpp.
#include "screen_operator/executor.hpp"
#include "screen_operator/state.hpp"
#include "support/classes.hpp"

namespace {

namespace args = support::args;
namespace so = screen_operator;

void initialize(py::object self, py::args a, py::kwargs k) {
  static const args::Signature signature("__init__", {{"display_number", false}});
  py::object display_number = signature.bind(a, k)[0];
  so::State(self).reset(display_number ? so::optional_int(display_number, "display_number") : py::none());
}

// `action` by position or by name; every other keyword is a parameter of the action.
py::object execute_action(py::object self, py::args a, py::kwargs k) {
  static const args::Signature signature("execute_action", {{"action"}});
  py::dict params;
  py::dict action_keyword;
  for (auto [key, value] : k) {
    (py::str(key).equal(py::str("action")) ? action_keyword : params)[key] = value;
  }
  py::object action = signature.bind(a, action_keyword)[0];
  return so::execute_action(std::move(self), args::to_str(action, "action"), std::move(params));
}

}  // namespace

PYBIND11_MODULE(screen_operator, m) {
  m.doc() = "Executor of the model's screen-control tool: screenshots, mouse and keyboard.";
  m.attr("API_MAX_LONG_EDGE") = so::kApiMaxLongEdge;
  m.attr("API_MAX_TOTAL_PIXELS") = so::kApiMaxTotalPixels;
  m.attr("logger") = so::kLog.get();

  // A failure of the geometry arithmetic raises what the same arithmetic raises in Python.
  py::register_local_exception_translator([](std::exception_ptr failure) {
    try {
      if (failure) std::rethrow_exception(failure);
    } catch (const so::GeometryError& error) {
      using Kind = so::GeometryError::Kind;
      PyErr_SetString(error.kind == Kind::kDivisionByZero ? PyExc_ZeroDivisionError
                      : error.kind == Kind::kOverflow     ? PyExc_OverflowError
                                                          : PyExc_ValueError,
                      error.what());
    }
  });

  m.def(
      "_get_scale_factor",
      [](py::handle width, py::handle height) {
        return so::scale_factor_for({args::to_long(width, "width"), args::to_long(height, "height")});
      },
      py::arg("width"), py::arg("height"),
      "The factor (at most 1.0) that fits an image of this size within the API limits.");

  support::PlainClass cls(m, "ScreenOperatorExecutor",
                          "Runs the actions of the screen-control tool on this desktop.");
  cls.def_init("ScreenOperatorExecutor(display_number=None)", &initialize)
      .def("_ensure_initialized", &so::ensure_initialized)
      .def("_detect_screen_size", &so::detect_screen_size)
      .def("_compute_scale", &so::compute_scale)
      .def("_to_screen_coords", &so::to_screen_coords, py::arg("api_x"), py::arg("api_y"))
      .def("get_tool_definition", &so::tool_definition, "The tool definition to send to the API.")
      .def("get_display_info", &so::display_info, "Screen and API sizes, scale and the last screenshot.")
      .def("execute_action", &execute_action,
           "execute_action(action, **params): runs one action and returns its result dictionary.")
      .def("_fallback_screenshot", &so::fallback_screenshot);
  for (const so::ActionHandler& handler : so::action_handlers()) {
    cls.def(handler.name, [&handler](py::object self, py::args a, py::kwargs k) {
      return handler.run(std::move(self), handler.signature.bind(a, k));
    });
  }
  so::def_state_properties(cls.cls());
}
