#include "screen_operator/state.hpp"

#include "support/args.hpp"
#include "support/classes.hpp"
#include "support/compat.hpp"

#include <string>

namespace screen_operator {

namespace args = support::args;

const StateKeys& state_keys() { return support::interned<StateKeys>(); }

namespace {

py::dict attributes_of(py::handle self) {
  return support::steal<py::dict>(PyObject_GenericGetDict(self.ptr(), nullptr));
}

// A property over the instance attribute `key`, whose setter stores convert(value, name).
template <class Convert>
void def_typed(support::PlainClass& cls, const py::str& key, Convert convert) {
  const char* name = support::utf8_view(key).data();
  cls.def_property(
      name,
      [key](py::object self) -> py::object {
        if (py::object value = support::get_item(attributes_of(self), key)) {
          return value;
        }
        throw py::attribute_error("'" + support::type_name(self) + "' object has no attribute '" +
                                  std::string(support::utf8_view(key)) + "'");
      },
      [key, name, convert](py::object self, py::handle value) {
        support::set_item(attributes_of(self), key, convert(value, name));
      });
}

}  // namespace

State::State(py::handle self) : self_(self), attributes_(attributes_of(self)) {}

py::object State::get(const py::str& key) const {
  if (py::object value = support::get_item(attributes_, key)) {
    return value;
  }
  return self_.attr(key);
}

void State::set(const py::str& key, py::handle value) const { support::set_item(attributes_, key, value); }

void State::reset(py::object display_number) {
  const StateKeys& keys = state_keys();
  set(keys.display_number, display_number);
  set_geometry(Geometry{});
  set(keys.initialized, py::bool_(false));
  set(keys.last_screenshot_path, py::none());
}

ScreenSize State::screen() const {
  const StateKeys& keys = state_keys();
  return ScreenSize{args::to_long(get(keys.screen_width), "_screen_width"),
                    args::to_long(get(keys.screen_height), "_screen_height")};
}

double State::scale_factor() const { return args::to_real(get(state_keys().scale_factor), "_scale_factor"); }

Geometry State::geometry() const {
  const StateKeys& keys = state_keys();
  return Geometry{screen(), scale_factor(),
                  ScreenSize{args::to_long(get(keys.api_width), "_api_width"),
                             args::to_long(get(keys.api_height), "_api_height")}};
}

bool State::initialized() const { return args::to_bool(get(state_keys().initialized)); }

void State::set_screen(ScreenSize screen) {
  set(state_keys().screen_width, py::int_(screen.width));
  set(state_keys().screen_height, py::int_(screen.height));
}

void State::set_geometry(const Geometry& geometry) {
  const StateKeys& keys = state_keys();
  set_screen(geometry.screen);
  set(keys.scale_factor, py::float_(geometry.scale_factor));
  set(keys.api_width, py::int_(geometry.api.width));
  set(keys.api_height, py::int_(geometry.api.height));
}

py::object optional_int(py::handle value, const char* name) {
  return value.is_none() ? py::object(py::none()) : py::object(args::to_int(value, name));
}

void def_state_properties(py::handle cls) {
  support::PlainClass plain(py::reinterpret_borrow<py::object>(cls));
  const StateKeys& keys = state_keys();
  const auto integer = [](py::handle value, const char* name) -> py::object {
    return py::int_(args::to_long(value, name));
  };
  def_typed(plain, keys.display_number, &optional_int);
  def_typed(plain, keys.screen_width, integer);
  def_typed(plain, keys.screen_height, integer);
  def_typed(plain, keys.scale_factor, [](py::handle value, const char* name) -> py::object {
    return py::float_(args::to_real(value, name));
  });
  def_typed(plain, keys.api_width, integer);
  def_typed(plain, keys.api_height, integer);
  def_typed(plain, keys.initialized,
            [](py::handle value, const char*) -> py::object { return py::bool_(args::to_bool(value)); });
  def_typed(plain, keys.last_screenshot_path, [](py::handle value, const char* name) -> py::object {
    return args::to_optional_str(value, name);
  });
}

}  // namespace screen_operator
