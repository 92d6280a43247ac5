#include "strings.hpp"

#include "metrics.hpp"
#include "text.hpp"

#include <pybind11/gil_safe_call_once.h>

#include <iterator>
#include <string>

namespace source_inspector {

namespace {

py::object intern(const char* text) {
  PyObject* interned = PyUnicode_InternFromString(text);
  if (interned == nullptr) {
    throw py::error_already_set();
  }
  return py::reinterpret_steal<py::object>(interned);
}

Strings make_strings() {
  Strings made;
#define SOURCE_INSPECTOR_INTERN(member, text) made.member = intern(text);
  SOURCE_INSPECTOR_STRINGS(SOURCE_INSPECTOR_INTERN)
#undef SOURCE_INSPECTOR_INTERN
  const char* ratings = "ABCF";
  for (int i = 0; i < 4; ++i) {
    made.ratings[i] = intern(std::string(1, ratings[i]).c_str());
  }
  for (std::size_t i = 0; i < std::size(TODO_MARKERS); ++i) {
    made.todo_markers[i] = intern(std::string(TODO_MARKERS[i]).c_str());
  }
  return made;
}

}  // namespace

const py::object& Strings::rating_of(long long score) const {
  switch (complexity_rating(score)) {
    case 'A':
      return ratings[0];
    case 'B':
      return ratings[1];
    case 'C':
      return ratings[2];
    default:
      return ratings[3];
  }
}

const Strings& strings() {
  PYBIND11_CONSTINIT static py::gil_safe_call_once_and_store<Strings> storage;
  return storage.call_once_and_store_result(make_strings).get_stored();
}

}  // namespace source_inspector
