// The Windows backend: snapshots, element actions and windows through UI Automation
// (pywinauto with its UIA backend, or uiautomation), blocking work in the loop's
// default executor.
//
// The core routes here: snapshot, get_focused_window, list_windows and focus_window by
// SYSTEM; click_ref, type_ref, select_ref and toggle_ref for records whose backend is
// "pywinauto" or "uiautomation" (or missing). Methods registered on DesktopAccess:
//   coroutines _snapshot_windows(window_title, max_depth), _click_ref_windows(ref,
//   elem_info, double_click), _type_ref_windows(ref, elem_info, text, clear_first,
//   press_enter), _get_focused_window_windows(), _list_windows_windows(),
//   _focus_window_windows(title);
//   blocking _select_element_sync(element, backend, value) and
//   _toggle_element_sync(element, backend), which the core runs in the executor and
//   which raise on failure.
#pragma once

#include "desktop_access.hpp"

namespace desktop_access {

void register_windows(MethodTable& methods);

}  // namespace desktop_access
