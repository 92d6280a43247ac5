#include "windows.hpp"

#include <stdexcept>

namespace desktop_access {

namespace {

using support::Coroutine;

constexpr const char* kNotBuilt = "Windows UI Automation support is not built into this module yet";

Coroutine not_built() { co_return failure(kNotBuilt); }

py::object not_built_coroutine(const char* qualname) { return not_built().to_python(qualname); }

[[noreturn]] void raise_not_built() { throw std::runtime_error(kNotBuilt); }

}  // namespace

void register_windows(MethodTable& methods) {
  methods
      .def(
          "_snapshot_windows",
          [](py::object, py::object, py::object) { return not_built_coroutine("DesktopAccess._snapshot_windows"); },
          py::arg("window_title"), py::arg("max_depth"))
      .def(
          "_click_ref_windows",
          [](py::object, py::object, py::object, py::object) {
            return not_built_coroutine("DesktopAccess._click_ref_windows");
          },
          py::arg("ref"), py::arg("elem_info"), py::arg("double_click"))
      .def(
          "_type_ref_windows",
          [](py::object, py::object, py::object, py::object, py::object, py::object) {
            return not_built_coroutine("DesktopAccess._type_ref_windows");
          },
          py::arg("ref"), py::arg("elem_info"), py::arg("text"), py::arg("clear_first"), py::arg("press_enter"))
      .def("_get_focused_window_windows",
           [](py::object) { return not_built_coroutine("DesktopAccess._get_focused_window_windows"); })
      .def("_list_windows_windows", [](py::object) { return not_built_coroutine("DesktopAccess._list_windows_windows"); })
      .def(
          "_focus_window_windows",
          [](py::object, py::object) { return not_built_coroutine("DesktopAccess._focus_window_windows"); },
          py::arg("title"))
      .def(
          "_select_element_sync", [](py::object, py::object, py::object, py::object) { raise_not_built(); },
          py::arg("element"), py::arg("backend"), py::arg("value"))
      .def(
          "_toggle_element_sync", [](py::object, py::object, py::object) { raise_not_built(); }, py::arg("element"),
          py::arg("backend"));
}

}  // namespace desktop_access
