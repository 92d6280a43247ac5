// Fast access to modules of the runtime at the moment of use.
#pragma once

#include "support/python.hpp"

namespace scheduler {

// The module `name` as sys.modules holds it now (so a stand-in placed there wins),
// imported when it is not there yet. Much cheaper than a full import statement on the
// paths that run for every job and record.
py::object runtime_module(const char* name);

}  // namespace scheduler
