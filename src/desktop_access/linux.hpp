// The Linux backend: the AT-SPI2 walker program run in a child python3, and xdotool
// for window ids, titles and focus. Each part registers its own methods.
#pragma once

#include "desktop_access/desktop_access.hpp"

namespace desktop_access {

void register_linux_rendering(support::PlainClass& methods);
void register_linux_snapshot(support::PlainClass& methods);
void register_linux_actions(support::PlainClass& methods);
void register_linux_queries(support::PlainClass& methods);

}  // namespace desktop_access
