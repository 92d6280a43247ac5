// The Windows backend: snapshots, element actions and windows through UI Automation
// (pywinauto with its UIA backend, or uiautomation), blocking work in the loop's
// default executor. Each part registers its own methods.
#pragma once

#include "desktop_access/desktop_access.hpp"

namespace desktop_access::uia {

void register_snapshot(MethodTable& methods);
void register_actions(MethodTable& methods);
void register_window_queries(MethodTable& methods);

}  // namespace desktop_access::uia
