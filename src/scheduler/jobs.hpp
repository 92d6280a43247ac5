// The scheduler's records: the JobType and JobState enumerations, the ScheduledJob and
// JobExecution dataclasses (created at import through the runtime's enum and
// dataclasses modules, so they are real ones), their dictionary forms, and the
// timestamp text people read. One column table per record gives its fields, their
// defaults and its dictionary form.
#pragma once

#include "scheduler/state_text.hpp"
#include "support/python.hpp"

namespace scheduler {

// Adds JobType, JobState, ScheduledJob, JobExecution and JobFireCallback to `m`.
void define_records(py::module_& m);

// "Never" for 0, the local time as "%Y-%m-%d %H:%M:%S", or "Invalid" where the
// platform cannot convert the value. TypeError for a non-number.
py::str format_timestamp(py::handle ts);

// Whether instances of `cls` take their dictionary form from this module's own to_dict
// for a ScheduledJob (`job`) or JobExecution: a host may replace it, a subclass override it.
bool has_own_to_dict(py::handle cls, bool job);
// Writes the dictionary form that the module's own to_dict gives `record` into `text` at
// `depth`, without building the dictionary, a job's prompt whole (so that a long prompt
// survives a restart); false when it holds something left to the json module.
bool write_form(IndentedJson& text, py::handle record, bool job, int depth);

// The value a job field takes when a host gives `value` for field `name`: a string for
// "job_type" or "state" becomes the enumeration member with that value (ValueError if
// none); anything else stays as given.
py::object job_field_value(py::handle name, const py::object& value);

// TypeError when `value` is of the wrong type for job field `name`: text fields take a
// str (model_key also None), numeric fields a real number, job_type and state a member.
void check_job_field(py::handle name, py::handle value);
// Raises unless `job`, read from the state file, can be scheduled, saved and listed: every
// field of its type, numbers finite, and its dictionary form built.
void check_stored_job(py::handle job);

// The field names of a dataclass (or of an instance's class).
py::list field_names(py::handle dataclass);

}  // namespace scheduler
