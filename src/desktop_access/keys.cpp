#include "desktop_access/keys.hpp"

#include "desktop_access/core.hpp"
#include "desktop_access/key_names.hpp"
#include "desktop_access/process.hpp"
#include "support/args.hpp"

#include <string>
#include <string_view>

namespace desktop_access {

namespace {

using namespace pybind11::literals;
namespace args = support::args;
using support::Coroutine;

constexpr int kOsascriptSeconds = 5;

void press_with_pyautogui(py::handle lowered) {
  py::module_ pyautogui = support::import("pyautogui");
  const Utf8 lowered_utf8(lowered);
  if (!is_combination(lowered_utf8.view())) {
    pyautogui.attr("press")(lowered);
    return;
  }
  const bool on_macos = current_platform() == Platform::kMacos;
  py::list parts;
  for (std::string_view part : combination_parts(lowered_utf8.view())) {
    parts.append(on_macos && part == "ctrl" ? py::str("command") : from_utf8(part));
  }
  pyautogui.attr("hotkey")(*parts);
}

Coroutine press_key(py::object self, py::object key) {
  ensure_init(self);
  try {
    const Platform platform = current_platform();
    py::str lowered = key.attr("lower")();
    if (platform == Platform::kWindows && flag(self, "_pywinauto_available")) {
      py::object send_keys = support::import("pywinauto.keyboard").attr("send_keys");
      py::str text = from_utf8(windows_key_text(Utf8(key).view(), Utf8(lowered).view()));
      co_await in_default_executor(send_keys, text);
    } else if (platform == Platform::kMacos && flag(self, "_macos_available")) {
      py::str script = from_utf8(macos_key_script(Utf8(lowered).view()));
      co_await run_captured(py::make_tuple("osascript", "-e", script), py::int_(kOsascriptSeconds));
    } else if (flag(self, "_pyautogui_available")) {
      press_with_pyautogui(lowered);
    } else {
      co_return failure("No keyboard input method available");
    }
    co_return py::dict("success"_a = true, "action"_a = "key_press", "key"_a = key);
  } catch (py::error_already_set& error) {
    rethrow_unless_exception(error);
    co_return failure(py::str(error.value()));
  }
}

Coroutine scroll_window(py::object self, py::object direction, py::object amount) {
  ensure_init(self);
  if (!flag(self, "_pyautogui_available")) {
    co_return failure("PyAutoGUI not available for scrolling");
  }
  try {
    py::module_ pyautogui = support::import("pyautogui");
    // Positive turns the wheel up; every direction but "up" scrolls down.
    py::object clicks = direction.equal(py::str("up"))
                            ? amount
                            : py::reinterpret_steal<py::object>(PyNumber_Negative(amount.ptr()));
    if (!clicks) {
      throw py::error_already_set();
    }
    pyautogui.attr("scroll")(clicks);
    co_return py::dict("success"_a = true, "action"_a = "scroll", "direction"_a = direction,
                       "amount"_a = amount, "hint"_a = kUpdatedStateHint);
  } catch (py::error_already_set& error) {
    rethrow_unless_exception(error);
    co_return failure(py::str(error.value()));
  }
}

py::object press_key_shim(py::object self, py::args a, py::kwargs k) {
  static const args::Signature signature("DesktopAccess.press_key", {{"key"}});
  py::object key = args::to_str(signature.bind(a, k)[0], "key");
  return press_key(self, key).to_python("DesktopAccess.press_key");
}

py::object scroll_window_shim(py::object self, py::args a, py::kwargs k) {
  static const args::Signature signature("DesktopAccess.scroll_window",
                                         {{"direction", false}, {"amount", false}});
  std::vector<py::object> p = signature.bind(a, k);
  py::object direction = args::to_str(p[0] ? p[0] : py::str("down"), "direction");
  py::object amount = args::to_int(p[1] ? p[1] : py::int_(3), "amount");
  return scroll_window(self, direction, amount).to_python("DesktopAccess.scroll_window");
}

int macos_keycode_shim(py::object key) {
  py::str lowered = args::to_str(key, "key").attr("lower")();
  return macos_keycode(Utf8(lowered).view());
}

}  // namespace

void register_keys(MethodTable& methods) {
  methods.def("press_key", &press_key_shim, py::doc("Press a keyboard key or hotkey (cross-platform)."))
      .def("scroll_window", &scroll_window_shim, py::doc("Scroll the focused window using mouse wheel."));
}

void register_key_functions(py::module_& module) {
  module.def("_macos_keycode", &macos_keycode_shim, py::arg("key"),
             py::doc("Map common key names to macOS virtual key codes."));
}

}  // namespace desktop_access
