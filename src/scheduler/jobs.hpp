// The scheduler's records: the JobType and JobState enumerations, the ScheduledJob and
// JobExecution dataclasses (created at import through the runtime's enum and
// dataclasses modules, so they are real ones), their dictionary forms, and the
// timestamp text people read. One column table per record gives its fields, their
// defaults and its dictionary form.
#pragma once

#include "support/python.hpp"

#include <functional>

namespace scheduler {

// Adds JobType, JobState, ScheduledJob, JobExecution and JobFireCallback to `m`.
void define_records(py::module_& m);

// "Never" for 0, the local time as "%Y-%m-%d %H:%M:%S", or "Invalid" where the
// platform cannot convert the value. TypeError for a non-number.
py::str format_timestamp(py::handle ts);

// ScheduledJob.to_dict and JobExecution.to_dict.
py::dict job_to_dict(py::handle job);
py::dict execution_to_dict(py::handle execution);

// Whether instances of `cls` take their dictionary form from this module's own to_dict
// for a ScheduledJob (`job`) or JobExecution: a host may replace it, a subclass override it.
bool has_own_to_dict(py::handle cls, bool job);
// Calls `entry(key, value)` for each entry of the dictionary form that the module's own
// to_dict gives `record`, in order, without building the dictionary; with `whole_prompt`,
// a job's prompt not shortened.
using FormEntry = std::function<void(py::handle key, py::handle value)>;
void visit_form(py::handle record, bool job, bool whole_prompt, const FormEntry& entry);

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
