// The Windows backend: snapshots, element actions and windows through UI Automation
// (pywinauto with its UIA backend, or uiautomation), blocking work in the loop's
// default executor. Each part registers its own methods.
#pragma once

#include "desktop_access/desktop_access.hpp"

namespace desktop_access::uia {

void register_snapshot(support::PlainClass& methods);
void register_actions(support::PlainClass& methods);
void register_window_queries(support::PlainClass& methods);

}  // namespace desktop_access::uia
