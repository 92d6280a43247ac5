// Python binding of nebrix.pc.screen_operator: thin shims over executor.hpp.
#include "screen_operator/executor.hpp"

namespace {

namespace args = support::args;
namespace so = screen_operator;

// A width or height of the screen or API size, read and written as an int attribute.
template <so::ScreenSize so::Geometry::*Size, long long so::ScreenSize::*Field>
void def_extent_attribute(py::class_<so::Executor>& cls, const char* name) {
  cls.def_property(
      name, [](const so::Executor& e) { return e.geometry.*Size.*Field; },
      [name](so::Executor& e, py::handle value) { e.geometry.*Size.*Field = args::to_long(value, name); });
}

py::object optional_int(py::handle value, const char* name) {
  return value.is_none() ? py::none() : py::object(args::to_int(value, name));
}

void def_state(py::class_<so::Executor>& cls) {
  cls.def_property(
      "_display_number", [](const so::Executor& e) { return e.display_number; },
      [](so::Executor& e, py::handle value) { e.display_number = optional_int(value, "_display_number"); });
  def_extent_attribute<&so::Geometry::screen, &so::ScreenSize::width>(cls, "_screen_width");
  def_extent_attribute<&so::Geometry::screen, &so::ScreenSize::height>(cls, "_screen_height");
  cls.def_property(
      "_scale_factor", [](const so::Executor& e) { return e.geometry.scale_factor; },
      [](so::Executor& e, py::handle value) {
        e.geometry.scale_factor = args::to_real(value, "_scale_factor");
      });
  def_extent_attribute<&so::Geometry::api, &so::ScreenSize::width>(cls, "_api_width");
  def_extent_attribute<&so::Geometry::api, &so::ScreenSize::height>(cls, "_api_height");
  cls.def_property(
      "_initialized", [](const so::Executor& e) { return e.initialized; },
      [](so::Executor& e, py::handle value) { e.initialized = args::to_bool(value); });
  cls.def_property(
      "_last_screenshot_path", [](const so::Executor& e) { return e.last_screenshot_path; },
      [](so::Executor& e, py::handle value) {
        e.last_screenshot_path = args::to_optional_str(value, "_last_screenshot_path");
      });
}

void def_actions(py::class_<so::Executor>& cls) {
  for (const so::ActionHandler& handler : so::action_handlers()) {
    cls.def(handler.name, [&handler](py::object self, py::args a, py::kwargs k) {
      return handler.run(std::move(self), handler.signature.bind(a, k));
    });
  }
}

}  // namespace

PYBIND11_MODULE(screen_operator, m) {
  m.doc() = "Executor of the model's screen-control tool: screenshots, mouse and keyboard.";
  m.attr("API_MAX_LONG_EDGE") = so::kApiMaxLongEdge;
  m.attr("API_MAX_TOTAL_PIXELS") = so::kApiMaxTotalPixels;
  m.attr("logger") = so::kLog.get();

  py::register_local_exception_translator([](std::exception_ptr failure) {
    try {
      if (failure) std::rethrow_exception(failure);
    } catch (const so::GeometryError& error) {
      so::set_python_error(error);
    }
  });

  m.def(
      "_get_scale_factor",
      [](py::handle width, py::handle height) {
        return so::scale_factor_for({args::to_long(width, "width"), args::to_long(height, "height")});
      },
      py::arg("width"), py::arg("height"),
      "The factor (at most 1.0) that fits an image of this size within the API limits.");

  py::class_<so::Executor> cls(m, "ScreenOperatorExecutor", py::dynamic_attr(),
                               "Runs the actions of the screen-control tool on this desktop.");
  cls.def(py::init([](py::args a, py::kwargs k) {
            static const args::Signature signature("__init__", {{"display_number", false}});
            py::object display_number = signature.bind(a, k)[0];
            return so::Executor(display_number ? optional_int(display_number, "display_number") : py::none());
          }),
          "ScreenOperatorExecutor(display_number=None)");
  def_state(cls);
  cls.def("_ensure_initialized", &so::ensure_initialized);
  cls.def("_detect_screen_size", &so::detect_screen_size);
  cls.def("_compute_scale", &so::compute_scale);
  cls.def("_to_screen_coords", &so::to_screen_coords, py::arg("api_x"), py::arg("api_y"));
  cls.def("get_tool_definition", &so::tool_definition, "The tool definition to send to the API.");
  cls.def("get_display_info", &so::display_info, "Screen and API sizes, scale and the last screenshot.");
  cls.def(
      "execute_action",
      [](py::object self, py::args a, py::kwargs k) {
        static const args::Signature signature("execute_action", {{"action"}});
        // `action` by position or by name; every other keyword is a parameter of the action.
        py::dict params;
        py::dict action_keyword;
        for (auto [key, value] : k) {
          (py::str(key).equal(py::str("action")) ? action_keyword : params)[key] = value;
        }
        py::object action = signature.bind(a, action_keyword)[0];
        return so::execute_action(std::move(self), args::to_str(action, "action"), std::move(params));
      },
      "execute_action(action, **params): runs one action and returns its result dictionary.");
  cls.def("_fallback_screenshot", &so::fallback_screenshot);
  def_actions(cls);
}
