// The core of DesktopAccess: construction, the one-time probing of the platform, the
// ref lookup and the routing of each public operation to the backend that serves it.
#pragma once

#include "desktop_access/desktop_access.hpp"

namespace desktop_access {

// Registers __init__, the platform probes and the public operations.
void register_core(support::PlainClass& methods);

// self._ensure_init(): probes the platform on the first call of any operation.
void ensure_init(py::handle self);

// Awaits `work`; an ordinary failure becomes the answer {"success": False, "error": its
// text}, with "ref" when `ref` is given.
support::Coroutine answering_failures(support::Coroutine work, py::object ref = py::object());

}  // namespace desktop_access
