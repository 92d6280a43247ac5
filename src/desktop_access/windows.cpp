#include "windows.hpp"

#include "windows_common.hpp"

namespace desktop_access {

void register_windows(MethodTable& methods) {
  uia::register_snapshot(methods);
  uia::register_actions(methods);
  uia::register_window_queries(methods);
}

}  // namespace desktop_access
