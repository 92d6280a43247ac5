// What every part of the scheduler module shares: its name, its logger and the clock.
#pragma once

#include "support/log.hpp"
#include "support/python.hpp"

namespace scheduler {

inline constexpr const char* kModuleName = "nebrix.core.scheduler";
inline constexpr support::Logger kLog("nebrix.scheduler");

// An attribute of this module, looked up at the moment of use.
py::object module_attr(const char* name);

// time.time(), through the time module at the moment of use (hosts and tests patch it).
py::object current_time();

}  // namespace scheduler
