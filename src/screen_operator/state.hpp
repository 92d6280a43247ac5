// The executor's state, kept where a Python class keeps it: in the instance's
// attributes. Properties on the class give each attribute its type when Python code
// sets it; C++ reads and writes the instance's __dict__ through State.
#pragma once

#include "screen_operator/geometry.hpp"
#include "support/keys.hpp"

namespace screen_operator {

struct StateKeys {
  support::Interned display_number{"_display_number"};
  support::Interned screen_width{"_screen_width"};
  support::Interned screen_height{"_screen_height"};
  support::Interned scale_factor{"_scale_factor"};
  support::Interned api_width{"_api_width"};
  support::Interned api_height{"_api_height"};
  support::Interned initialized{"_initialized"};
  support::Interned last_screenshot_path{"_last_screenshot_path"};
};
const StateKeys& state_keys();

class State {
 public:
  explicit State(py::handle self);

  // A fresh executor's state (in the attributes' order of definition).
  void reset(py::object display_number);

  ScreenSize screen() const;
  double scale_factor() const;
  Geometry geometry() const;
  bool initialized() const;
  // Any attribute's value (a key of state_keys()); a missing one raises AttributeError
  // as getattr would.
  py::object get(const py::str& key) const;

  void set(const py::str& key, py::handle value) const;
  void set_screen(ScreenSize screen);
  void set_geometry(const Geometry& geometry);

 private:
  py::handle self_;
  py::dict attributes_;
};

// An int parameter that may be None (`display_number`).
py::object optional_int(py::handle value, const char* name);

// The typed properties of the state attributes, on the executor class.
void def_state_properties(py::handle cls);

}  // namespace screen_operator
