#include "desktop_access/keys.hpp"

#include "desktop_access/core.hpp"
#include "desktop_access/key_names.hpp"
#include "desktop_access/process.hpp"
#include "desktop_access/snapshot_text.hpp"
#include "support/args.hpp"

#include <string>
#include <string_view>

namespace desktop_access {

namespace {

using namespace pybind11::literals;
namespace args = support::args;
using support::Coroutine;

constexpr int kOsascriptSeconds = 5;

// On Linux, the keys in pyautogui's names: X names become pyautogui's (Page_Down is
// pagedown), and a name pyautogui does not know (it would press nothing) is refused.
// Gives the part of `key` that is not a key, or an empty object when all are.
py::object linux_key_names(py::handle key, py::handle lowered, py::handle pyautogui, py::list& names) {
  // Host fakes of pyautogui may have no key list: then every name is passed on.
  py::object known = support::optional_attr(pyautogui, py::str("KEYBOARD_KEYS"));
  py::list given = key.attr("split")("+");
  py::list parts = lowered.attr("split")("+");
  for (std::size_t i = 0; i < parts.size(); ++i) {
    py::str name = support::from_utf8(pyautogui_key_name(support::Utf8(parts[i]).view()));
    if (known && !known.is_none() && !known.contains(name)) {
      return i < given.size() ? py::object(given[i]) : py::object(parts[i]);
    }
    names.append(name);
  }
  return py::object();
}

// Gives the part of `key` that is not a key on Linux, or an empty object once pressed.
py::object press_with_pyautogui(py::handle key, py::handle lowered) {
  py::module_ pyautogui = support::import("pyautogui");
  const support::Utf8 lowered_utf8(lowered);
  const Platform platform = current_platform();
  py::list names;
  if (platform == Platform::kLinux) {
    if (py::object unknown = linux_key_names(key, lowered, pyautogui, names)) {
      return unknown;
    }
  } else if (!is_combination(lowered_utf8.view())) {
    names.append(lowered);
  } else {
    for (std::string_view part : split(lowered_utf8.view(), '+')) {
      names.append(platform == Platform::kMacos && part == "ctrl" ? py::str("command")
                                                                  : support::from_utf8(part));
    }
  }
  if (is_combination(lowered_utf8.view())) {
    pyautogui.attr("hotkey")(*names);
  } else {
    pyautogui.attr("press")(names[0]);
  }
  return py::object();
}

Coroutine press_key(py::object self, py::object key) {
  ensure_init(self);
  try {
    const Platform platform = current_platform();
    py::str lowered = key.attr("lower")();
    if (platform == Platform::kWindows && flag(self, "_pywinauto_available")) {
      py::object send_keys = support::import("pywinauto.keyboard").attr("send_keys");
      py::str text =
          support::from_utf8(windows_key_text(support::Utf8(key).view(), support::Utf8(lowered).view()));
      co_await in_default_executor(send_keys, text);
    } else if (platform == Platform::kMacos && flag(self, "_macos_available")) {
      py::str script = support::from_utf8(macos_key_script(support::Utf8(lowered).view()));
      co_await run_captured(py::make_tuple("osascript", "-e", script), py::int_(kOsascriptSeconds));
    } else if (flag(self, "_pyautogui_available")) {
      if (py::object unknown = press_with_pyautogui(key, lowered)) {
        co_return failure(py::str("Unknown key: \"{}\"").format(unknown));
      }
    } else {
      co_return failure("No keyboard input method available");
    }
    co_return py::dict("success"_a = true, "action"_a = "key_press", "key"_a = key);
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    co_return failure(support::exception_text(error.value()));
  }
}

Coroutine scroll_window(py::object self, py::object direction, py::object amount) {
  ensure_init(self);
  if (!flag(self, "_pyautogui_available")) {
    co_return failure("PyAutoGUI not available for scrolling");
  }
  try {
    py::module_ pyautogui = support::import("pyautogui");
    // Positive turns the wheel up (or right); every direction but "up" scrolls down,
    // except on Linux, where X has horizontal wheel buttons for "left" and "right".
    const bool horizontal = current_platform() == Platform::kLinux &&
                            (direction.equal(py::str("left")) || direction.equal(py::str("right")));
    const bool positive = direction.equal(py::str("up")) || (horizontal && direction.equal(py::str("right")));
    py::object clicks = positive ? amount : support::steal(PyNumber_Negative(amount.ptr()));
    pyautogui.attr(horizontal ? "hscroll" : "scroll")(clicks);
    co_return py::dict("success"_a = true, "action"_a = "scroll", "direction"_a = direction,
                       "amount"_a = amount, "hint"_a = kUpdatedStateHint);
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    co_return failure(support::exception_text(error.value()));
  }
}

Coroutine press_key_shim(py::object self, py::args a, py::kwargs k) {
  static const args::Signature signature("DesktopAccess.press_key", {{"key"}});
  py::object key = args::to_str(signature.bind(a, k)[0], "key");
  return press_key(self, key);
}

Coroutine scroll_window_shim(py::object self, py::args a, py::kwargs k) {
  static const args::Signature signature("DesktopAccess.scroll_window",
                                         {{"direction", false}, {"amount", false}});
  std::vector<py::object> p = signature.bind(a, k);
  py::object direction = args::to_str(p[0] ? p[0] : py::str("down"), "direction");
  py::object amount = args::to_int(p[1] ? p[1] : py::int_(3), "amount");
  return scroll_window(self, direction, amount);
}

int macos_keycode_shim(py::object key) {
  py::str lowered = args::to_str(key, "key").attr("lower")();
  return macos_keycode(support::Utf8(lowered).view());
}

}  // namespace

void register_keys(support::PlainClass& methods) {
  methods
      .def_coroutine("press_key", &press_key_shim,
                     py::doc("Press a keyboard key or hotkey (cross-platform)."))
      .def_coroutine("scroll_window", &scroll_window_shim,
                     py::doc("Scroll the focused window using mouse wheel."));
}

void register_key_functions(py::module_& module) {
  module.def("_macos_keycode", &macos_keycode_shim, py::arg("key"),
             py::doc("Map common key names to macOS virtual key codes."));
}

}  // namespace desktop_access
