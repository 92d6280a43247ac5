// Common ground for code that touches Python objects: the pybind11 include, the
// namespace alias and small helpers for reaching the runtime at the moment of use.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace py = pybind11;

namespace support {

// The module `import name` gives at this moment: straight from sys.modules when it is
// there (so a stand-in placed there wins), else through the import machinery (None in
// sys.modules reads as "not installed" and raises ImportError).
py::module_ import(const char* name);

// The name Python shows for the type of `value` (type(value).__name__ for classes
// defined in Python, the full tp_name for built-in and extension types).
std::string type_name(py::handle value);

// A built-in type as a Python object (PyUnicode_Type: `str`).
inline py::object type_object(PyTypeObject& type) {
  return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&type));
}

// Sets the Python error indicator from the C++ exception currently being handled.
// Call only inside a catch block.
void set_error_from_current_exception() noexcept;

// The new reference a C-API call returned, or the error it set raised as
// py::error_already_set when it returned nullptr.
template <class T = py::object>
T steal(PyObject* result) {
  if (result == nullptr) {
    throw py::error_already_set();
  }
  return py::reinterpret_steal<T>(result);
}

// Raises `type` with `value` (its message, or the exception's argument) as a Python
// error, so that C++ callers catching py::error_already_set see it.
[[noreturn]] inline void raise(PyObject* type, py::handle value) {
  PyErr_SetObject(type, value.ptr());
  throw py::error_already_set();
}

// Raises the error a C-API call set when it returned a negative status; else the status.
inline int check(int status) {
  if (status < 0) {
    throw py::error_already_set();
  }
  return status;
}

}  // namespace support
