// The core of DesktopAccess: construction, the one-time probing of the platform, the
// ref lookup and the routing of each public operation to the backend that serves it.
#pragma once

#include "desktop_access.hpp"

namespace desktop_access {

// Registers __init__, the probes (_ensure_init, _init_windows, _init_macos, _init_linux)
// and the public coroutines snapshot, click_ref, type_ref, select_ref, toggle_ref,
// get_focused_window, list_windows and focus_window.
void register_core(MethodTable& methods);

// self._ensure_init(): probes the platform on the first call of any operation.
void ensure_init(py::handle self);

}  // namespace desktop_access
