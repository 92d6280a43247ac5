// The snapshot result of a successful walker answer: the snapshot text and the ref map.
#include "desktop_access/desktop_access.hpp"
#include "desktop_access/linux.hpp"
#include "desktop_access/snapshot_text.hpp"
#include "support/args.hpp"
#include "support/keys.hpp"

#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace desktop_access {

namespace {

using namespace pybind11::literals;
namespace args = support::args;

// The keys of walker elements and element records.
struct ElementKeys {
  support::Interned ref{"ref"};
  support::Interned role{"role"};
  support::Interned name{"name"};
  support::Interned value{"value"};
  support::Interned depth{"depth"};
  support::Interned backend{"backend"};
  support::Interned linux_atspi{"linux_atspi"};
  support::Interned bus_name{"bus_name"};
  support::Interned pid{"pid"};
  support::Interned path{"path"};
  support::Interned states{"states"};
  support::Interned not_shown{"not_shown"};
};

// Where the elements' application is found again: its bus name and process id.
struct Application {
  py::str bus_name;
  py::object pid;
};

// {"role", "name", "value", "backend": "linux_atspi", "bus_name", "pid", "path"}
py::dict element_record(const ElementKeys& keys, const py::str& role, const py::str& name,
                        const py::str& value, const Application& application, const py::list& path) {
  return support::make_dict({{keys.role, role},
                             {keys.name, name},
                             {keys.value, value},
                             {keys.backend, keys.linux_atspi},
                             {keys.bus_name, application.bus_name},
                             {keys.pid, application.pid},
                             {keys.path, path}});
}

// A text field: missing or null reads as "", anything else that is not a str as str(value).
py::str text_field(const py::dict& element, const py::str& key) {
  py::object value = support::get_item(element, key);
  if (!value || value.is_none()) {
    return py::str();
  }
  if (PyUnicode_CheckExact(value.ptr())) {
    return py::reinterpret_steal<py::str>(value.release());
  }
  return py::str(value);
}

bool has_ref(const py::dict& element, const ElementKeys& keys) {
  py::object ref = support::get_item(element, keys.ref);
  if (!ref) {
    return false;
  }
  if (PyLong_CheckExact(ref.ptr())) {
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(ref.ptr(), &overflow);
    return overflow > 0 || (overflow == 0 && value > 0);
  }
  const int positive = PyObject_RichCompareBool(ref.ptr(), py::int_(0).ptr(), Py_GT);
  if (positive < 0) {
    throw py::error_already_set();
  }
  return positive == 1;
}

// The application of an answer; a process id that is not an integer reads as None.
Application application_of(const py::dict& data, const ElementKeys& keys) {
  py::object pid = support::get_item(data, keys.pid);
  return {text_field(data, keys.bus_name),
          pid && PyLong_Check(pid.ptr()) && !PyBool_Check(pid.ptr()) ? pid : py::none()};
}

// The element's child indexes from the application, a new list ([] when it has none).
py::list path_of(const py::dict& element, const ElementKeys& keys) {
  py::object path = support::get_item(element, keys.path);
  return path && PyList_Check(path.ptr()) ? py::list(path) : py::list();
}

// " (checked, focused)" for an element's "states" list, "" without one; `listed` tells
// whether it had one at all.
std::string states_suffix(const py::dict& element, const ElementKeys& keys, bool& listed) {
  py::object states = support::get_item(element, keys.states);
  listed = states && PyList_Check(states.ptr());
  if (!listed || PyList_GET_SIZE(states.ptr()) == 0) {
    return {};
  }
  std::string suffix = " (";
  bool first = true;
  for (py::handle state : py::reinterpret_borrow<py::list>(states)) {
    suffix.append(first ? "" : ", ").append(support::Utf8(py::str(state)).view());
    first = false;
  }
  return suffix + ")";
}

// The line that ends a walk cut short by its bound, when the answer says so.
std::optional<std::string> ending_line(const py::dict& data, const ElementKeys& keys) {
  py::object not_shown = support::get_item(data, keys.not_shown);
  if (!not_shown) {
    return std::nullopt;
  }
  if (not_shown.is_none()) {
    return more_elements_line(std::nullopt);
  }
  return more_elements_line(static_cast<std::size_t>(std::max(0LL, args::to_long(not_shown, "not_shown"))));
}

long long depth_of(const py::dict& element, const ElementKeys& keys) {
  py::object depth = support::get_item(element, keys.depth);
  if (!depth) {
    return 0;
  }
  if (!PyLong_Check(depth.ptr())) {
    throw py::type_error("walker element depth is not an integer: " + std::string(py::repr(depth)));
  }
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(depth.ptr(), &overflow);
  return overflow > 0 ? std::numeric_limits<long long>::max() : overflow < 0 ? 0 : value;
}

// Renders a successful walker answer into the snapshot result and gives the ref map
// its new records: every element with a ref gets the next number, in answer order.
py::dict render_atspi_answer(py::object self, py::dict data) {
  py::object window = data["window"];
  py::object elements = data.attr("get")("elements", py::list());
  if (!PyList_Check(elements.ptr())) {
    throw py::type_error("walker elements are not a list");
  }
  const ElementKeys& keys = support::interned<ElementKeys>();
  const Application application = application_of(data, keys);
  const py::str window_name = py::str(window);
  const support::Utf8 window_utf8(window_name);
  // Names and values are shown on one line each, so that text after a line break in
  // them cannot pass for an element of its own.
  std::string window_buffer, name_buffer, value_buffer;
  SnapshotText text(one_line(window_utf8.view(), window_buffer), true);
  py::dict ref_map;
  long long counter = 0;
  for (py::handle item : py::reinterpret_borrow<py::list>(elements)) {
    if (!PyDict_Check(item.ptr())) {
      throw py::type_error("walker element is not an object: " + std::string(py::repr(item)));
    }
    const auto element = py::reinterpret_borrow<py::dict>(item);
    const long long depth = depth_of(element, keys);
    py::str role = text_field(element, keys.role);
    py::str name = text_field(element, keys.name);
    const support::Utf8 role_utf8(role);
    const support::Utf8 name_utf8(name);
    const std::string_view shown_name = one_line(name_utf8.view(), name_buffer);
    bool has_states = false;
    const std::string suffix = states_suffix(element, keys, has_states);
    if (has_ref(element, keys)) {
      py::str value = text_field(element, keys.value);
      const support::Utf8 value_utf8(value);
      ++counter;
      text.ref_line(depth, counter, role_utf8.view(), shown_name, one_line(value_utf8.view(), value_buffer))
          .append(suffix);
      if (PyDict_SetItem(
              ref_map.ptr(), py::int_(counter).ptr(),
              element_record(keys, role, name, value, application, path_of(element, keys)).ptr()) != 0) {
        throw py::error_already_set();
      }
    } else if (has_states) {
      // An element listed without a ref for its states (a disabled one): its line
      // stands even without a name.
      text.context_line(depth, role_utf8.view(), shown_name)
          .append(shown_name.empty() && !suffix.empty() ? std::string_view(suffix).substr(1) : suffix);
    } else if (!shown_name.empty()) {
      text.context_line(depth, role_utf8.view(), shown_name);
    }
  }
  if (const std::optional<std::string> line = ending_line(data, keys)) {
    text.append("\n").append(*line);
  }
  replace_ref_map(self, ref_map, static_cast<std::size_t>(counter));
  return py::dict("success"_a = true, "window"_a = window, "snapshot"_a = support::from_utf8(text.text()),
                  "element_count"_a = counter, "platform"_a = "linux_atspi", "hint"_a = kRefHint);
}

}  // namespace

void register_linux_rendering(support::PlainClass& methods) {
  methods.def("_render_atspi_answer", &render_atspi_answer, py::arg("data"),
              py::doc("Render a successful walker answer into the snapshot result and a new ref map."));
}

}  // namespace desktop_access
