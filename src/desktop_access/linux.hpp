// The Linux backend: the AT-SPI2 walker program run in a child python3, and xdotool
// for window ids, titles and focus.
#pragma once

#include "desktop_access.hpp"

namespace desktop_access {

// Registers _snapshot_linux, _snapshot_linux_atspi, _snapshot_linux_xdotool,
// _click_ref_linux, _get_focused_window_linux, _list_windows_linux,
// _focus_window_linux and _render_atspi_answer.
void register_linux(MethodTable& methods);

}  // namespace desktop_access
