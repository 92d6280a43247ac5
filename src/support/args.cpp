#include "support/args.hpp"

#include <algorithm>
#include <string>

namespace support::args {

namespace {

bool is_real_number(py::handle value) {
  PyObject* object = value.ptr();
  if (PyLong_Check(object) || PyFloat_Check(object)) {
    return true;
  }
  if (PyUnicode_Check(object) || PyBytes_Check(object) || PyByteArray_Check(object) ||
      PyComplex_Check(object)) {
    return false;
  }
  return PyNumber_Check(object) != 0;
}

// Runs a numeric conversion; a TypeError from it (a number-like object that is not a
// real number) becomes the boundary's own message.
template <class Convert>
auto convert_number(py::handle value, const char* name, const char* expected, Convert convert) {
  if (!is_real_number(value)) {
    raise_incorrect_type(name, expected, value);
  }
  auto result = convert(value.ptr());
  if (PyErr_Occurred()) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();
      raise_incorrect_type(name, expected, value);
    }
    throw py::error_already_set();
  }
  return result;
}

// `value` when it is exactly of `type` (or None where allowed); the expected type is
// named by the type's own name.
py::object exact_type(py::handle value, const char* name, PyTypeObject& type, bool none_allowed) {
  if (Py_TYPE(value.ptr()) == &type || (none_allowed && value.is_none())) {
    return py::reinterpret_borrow<py::object>(value);
  }
  raise_incorrect_type(name, type.tp_name, value);
}

}  // namespace

void raise_incorrect_type(const char* name, const char* expected, py::handle value) {
  throw py::type_error(std::string("Argument '") + name + "' has incorrect type (expected " + expected +
                       ", got " + type_name(value) + ")");
}

py::int_ to_int(py::handle value, const char* name) {
  if (PyLong_CheckExact(value.ptr())) {
    return py::reinterpret_borrow<py::int_>(value);
  }
  return py::reinterpret_steal<py::int_>(
      convert_number(value, name, "int", [](PyObject* v) { return PyNumber_Long(v); }));
}

long long to_long(py::handle value, const char* name) {
  py::int_ number = to_int(value, name);
  long long result = PyLong_AsLongLong(number.ptr());
  if (result == -1 && PyErr_Occurred()) {
    throw py::error_already_set();
  }
  return result;
}

double to_real(py::handle value, const char* name) {
  if (PyFloat_CheckExact(value.ptr())) {
    return PyFloat_AS_DOUBLE(value.ptr());
  }
  return convert_number(value, name, "float", [](PyObject* v) { return PyFloat_AsDouble(v); });
}

bool to_bool(py::handle value) { return check(PyObject_IsTrue(value.ptr())) != 0; }

py::str to_str(py::handle value, const char* name) { return exact_type(value, name, PyUnicode_Type, false); }

py::object to_optional_str(py::handle value, const char* name) {
  return exact_type(value, name, PyUnicode_Type, true);
}

py::list to_list(py::handle value, const char* name) { return exact_type(value, name, PyList_Type, false); }

py::object to_optional_list(py::handle value, const char* name) {
  return exact_type(value, name, PyList_Type, true);
}

py::dict to_dict(py::handle value, const char* name) { return exact_type(value, name, PyDict_Type, false); }

Signature::Signature(const char* function_name, std::initializer_list<Parameter> parameters)
    : function_name_(function_name),
      parameters_(parameters),
      required_count_(static_cast<std::size_t>(std::count_if(
          parameters.begin(), parameters.end(), [](const Parameter& p) { return p.required; }))) {}

void Signature::raise_count(std::size_t given) const {
  const std::size_t total = parameters_.size();
  const bool too_many = given > total;
  const bool exact = required_count_ == total;
  const std::size_t expected = too_many ? total : required_count_;
  const char* qualifier = exact ? "exactly" : (too_many ? "at most" : "at least");
  throw py::type_error(std::string(function_name_) + "() takes " + qualifier + " " +
                       std::to_string(expected) + " positional argument" + (expected == 1 ? "" : "s") + " (" +
                       std::to_string(given) + " given)");
}

std::vector<py::object> Signature::bind(const py::args& args, const py::kwargs& kwargs) const {
  const std::size_t given = args.size();
  if (given > parameters_.size()) {
    raise_count(given);
  }
  std::vector<py::object> bound(parameters_.size());
  for (std::size_t i = 0; i < given; ++i) {
    bound[i] = args[i];
  }
  for (auto [key, value] : kwargs) {
    if (!PyUnicode_Check(key.ptr())) {
      throw py::type_error(std::string(function_name_) + "() keywords must be strings");
    }
    const std::string keyword = key.cast<std::string>();
    const auto named = [&keyword](const Parameter& p) { return keyword == p.name; };
    const auto index = static_cast<std::size_t>(std::find_if(parameters_.begin(), parameters_.end(), named) -
                                                parameters_.begin());
    if (index == parameters_.size()) {
      throw py::type_error(std::string(function_name_) + "() got an unexpected keyword argument '" + keyword +
                           "'");
    }
    if (bound[index]) {
      throw py::type_error(std::string(function_name_) + "() got multiple values for keyword argument '" +
                           keyword + "'");
    }
    bound[index] = py::reinterpret_borrow<py::object>(value);
  }
  for (std::size_t i = 0; i < parameters_.size(); ++i) {
    if (parameters_[i].required && !bound[i]) {
      raise_count(given);
    }
  }
  return bound;
}

}  // namespace support::args
