// Keys and scrolling: press_key and scroll_window send input to whatever window has
// the focus, through pywinauto on Windows, osascript on macOS, pyautogui elsewhere.
#pragma once

#include "desktop_access/desktop_access.hpp"

namespace desktop_access {

void register_keys(support::PlainClass& methods);

// The module-level _macos_keycode(key).
void register_key_functions(py::module_& module);

}  // namespace desktop_access
