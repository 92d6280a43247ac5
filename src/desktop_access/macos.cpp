#include "macos.hpp"

namespace desktop_access {

namespace {

using support::Coroutine;

Coroutine not_built() { co_return failure("macOS accessibility support is not built into this module yet"); }

py::object not_built_coroutine(const char* qualname) { return not_built().to_python(qualname); }

}  // namespace

void register_macos(MethodTable& methods) {
  methods
      .def(
          "_snapshot_macos",
          [](py::object, py::object, py::object) { return not_built_coroutine("DesktopAccess._snapshot_macos"); },
          py::arg("window_title"), py::arg("max_depth"))
      .def(
          "_click_ref_macos",
          [](py::object, py::object, py::object, py::object) {
            return not_built_coroutine("DesktopAccess._click_ref_macos");
          },
          py::arg("ref"), py::arg("elem_info"), py::arg("double_click"))
      .def(
          "_type_ref_macos",
          [](py::object, py::object, py::object, py::object, py::object, py::object) {
            return not_built_coroutine("DesktopAccess._type_ref_macos");
          },
          py::arg("ref"), py::arg("elem_info"), py::arg("text"), py::arg("clear_first"), py::arg("press_enter"))
      .def("_get_focused_window_macos",
           [](py::object) { return not_built_coroutine("DesktopAccess._get_focused_window_macos"); })
      .def("_list_windows_macos", [](py::object) { return not_built_coroutine("DesktopAccess._list_windows_macos"); })
      .def(
          "_focus_window_macos",
          [](py::object, py::object) { return not_built_coroutine("DesktopAccess._focus_window_macos"); },
          py::arg("title"));
}

}  // namespace desktop_access
