#include "support/python.hpp"

#include <exception>
#include <new>

namespace support {

py::module_ import(const char* name) {
  // sys.modules first, as an import statement looks: a dictionary lookup instead of
  // the whole import machinery on every use.
  const auto key = steal(PyUnicode_InternFromString(name));
  auto loaded = py::reinterpret_steal<py::object>(PyImport_GetModule(key.ptr()));
  if (PyErr_Occurred()) {
    throw py::error_already_set();
  }
  if (loaded && !loaded.is_none()) {
    return py::reinterpret_steal<py::module_>(loaded.release());
  }
  return py::module_::import(name);  // None in sys.modules raises ModuleNotFoundError
}

std::string type_name(py::handle value) { return Py_TYPE(value.ptr())->tp_name; }

void set_error_from_current_exception() noexcept {
  try {
    throw;
  } catch (py::error_already_set& error) {
    error.restore();
  } catch (py::builtin_exception& error) {
    error.set_error();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    PyErr_SetString(PyExc_RuntimeError, error.what());
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "unknown C++ exception");
  }
}

}  // namespace support
