// Element actions on Linux: refs from the walker carry no handle to act on.
#include "desktop_access/linux.hpp"

namespace desktop_access {

namespace {

using namespace pybind11::literals;
using support::Coroutine;

py::dict click_ref_linux(py::object self, py::object ref) {
  if (!flag(self, "_pyautogui_available")) {
    return py::dict("success"_a = false,
                    "error"_a = "PyAutoGUI not available for clicking. Install: pip install pyautogui",
                    "ref"_a = ref);
  }
  return py::dict("success"_a = false,
                  "error"_a =
                      "Direct element clicking via AT-SPI2 is not yet supported. Use screenshot + "
                      "coordinate-based click instead: desktop click x=100 y=200",
                  "ref"_a = ref,
                  "hint"_a = "Take a screenshot first, then click at the element's coordinates.");
}

Coroutine click_ref(py::object self, py::object ref) { co_return click_ref_linux(self, ref); }

}  // namespace

void register_linux_actions(support::PlainClass& methods) {
  methods.def_coroutine(
      "_click_ref_linux",
      [](py::object self, py::object ref, py::object, py::object) { return click_ref(self, ref); },
      py::arg("ref"), py::arg("elem_info"), py::arg("double_click"));
}

}  // namespace desktop_access
