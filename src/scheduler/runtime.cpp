#include "runtime.hpp"

namespace scheduler {

py::object runtime_module(const char* name) {
  const py::str key(name);
  PyObject* module = PyImport_GetModule(key.ptr());
  if (module == nullptr) {
    if (PyErr_Occurred()) {
      throw py::error_already_set();
    }
    return support::import(name);
  }
  py::object found = py::reinterpret_steal<py::object>(module);
  if (found.is_none()) {
    return support::import(name);  // raises ModuleNotFoundError as an import statement does
  }
  return found;
}

}  // namespace scheduler
