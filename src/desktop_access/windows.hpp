// The Windows backend: snapshots, element actions and windows through UI Automation
// (pywinauto with its UIA backend, or uiautomation), blocking work in the loop's
// default executor.
//
// The core routes here: snapshot, get_focused_window, list_windows and focus_window by
// SYSTEM; click_ref, type_ref, select_ref and toggle_ref for records whose backend is
// "pywinauto" or "uiautomation" (or missing). Methods registered on DesktopAccess, each
// reached through the instance so that tests can patch it:
//   coroutines _snapshot_windows, _click_ref_windows, _type_ref_windows,
//   _get_element_center, _get_focused_window_windows, _list_windows_windows,
//   _focus_window_windows (windows_snapshot.cpp, windows_actions.cpp,
//   windows_queries.cpp);
//   blocking, run on a worker thread: _snapshot_sync, _snapshot_pywinauto,
//   _snapshot_uiautomation, _walk_element_pywinauto, _walk_element_uiautomation,
//   _click_element_sync, _type_element_sync, _select_element_sync,
//   _toggle_element_sync, _get_focused_window_sync, _list_windows_sync,
//   _focus_window_sync.
#pragma once

#include "desktop_access.hpp"

namespace desktop_access {

void register_windows(MethodTable& methods);

}  // namespace desktop_access
