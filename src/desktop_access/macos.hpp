// The macOS backend: AppleScript run by osascript against System Events
// (applescript_escape in applescript.hpp protects inserted texts; run_captured in
// process.hpp runs osascript with its time limit).
//
// The core routes here: snapshot, get_focused_window, list_windows and focus_window
// when SYSTEM is "Darwin"; click_ref and type_ref for records whose backend is
// "macos". Coroutines registered on DesktopAccess: _snapshot_macos(window_title,
// max_depth), _click_ref_macos(ref, elem_info, double_click), _type_ref_macos(ref,
// elem_info, text, clear_first, press_enter), _get_focused_window_macos(),
// _list_windows_macos(), _focus_window_macos(title).
#pragma once

#include "desktop_access.hpp"

namespace desktop_access {

void register_macos(MethodTable& methods);

}  // namespace desktop_access
