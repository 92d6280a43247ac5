// The state file scheduler.json: written whole and replaced atomically, read back
// record by record so that one bad record costs only itself.
#pragma once

#include "support/python.hpp"

namespace scheduler {

// Scheduler._save: the job table and the latest executions; failures are logged.
void save_state(py::handle scheduler);
// Scheduler._load: files the stored jobs in the table; failures are logged, and a file
// that could not be read whole is first copied aside (scheduler.json.bad, .bad.1, ...).
void load_state(py::handle scheduler);

}  // namespace scheduler
