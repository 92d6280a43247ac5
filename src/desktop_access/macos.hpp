// The macOS backend: AppleScript run by osascript against System Events
// (applescript_escape in applescript.hpp protects inserted texts). Each part registers
// its own methods.
#pragma once

#include "desktop_access/desktop_access.hpp"

namespace desktop_access {

void register_macos_snapshot(support::PlainClass& methods);
void register_macos_actions(support::PlainClass& methods);
void register_macos_queries(support::PlainClass& methods);

}  // namespace desktop_access
