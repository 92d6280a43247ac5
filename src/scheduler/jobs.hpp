// The scheduler's records: the JobType and JobState enumerations, the ScheduledJob and
// JobExecution dataclasses (created at import through the runtime's enum and
// dataclasses modules, so they are real ones), their dictionary forms, and the
// timestamp text people read.
#pragma once

#include "support/python.hpp"

namespace scheduler {

inline constexpr const char* kModuleName = "nebrix.core.scheduler";

// An attribute of this module, looked up at the moment of use.
py::object module_attr(const char* name);

// Adds JobType, JobState, ScheduledJob, JobExecution and JobFireCallback to `m`.
void define_records(py::module_& m);

// "Never" for 0, the local time as "%Y-%m-%d %H:%M:%S", or "Invalid" where the
// platform cannot convert the value. TypeError for a non-number.
py::str format_timestamp(py::handle ts);

// ScheduledJob.to_dict and JobExecution.to_dict.
py::dict job_to_dict(py::handle job);
py::dict execution_to_dict(py::handle execution);

// enumeration(value): the member with that value (ValueError if none), looked up in the
// enumeration's value map first.
py::object enum_member(const py::object& enumeration, const py::object& value);

// The field names of a dataclass (or of an instance's class).
py::list field_names(py::handle dataclass);

}  // namespace scheduler
