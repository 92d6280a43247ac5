#include "support/errors.hpp"

namespace support {

bool is_ordinary(const py::error_already_set& error) { return error.matches(PyExc_Exception); }

py::error_already_set current_error() {
  set_error_from_current_exception();
  return py::error_already_set();
}

void rethrow_unless_ordinary(const py::error_already_set& error) {
  if (!is_ordinary(error)) {
    throw;
  }
}

py::str exception_text(py::handle exception, EmptyText empty) {
  auto text = py::reinterpret_steal<py::str>(PyObject_Str(exception.ptr()));
  if (!text) {
    PyErr_Clear();
  }
  if (!text || (empty == EmptyText::kTypeName && PyUnicode_GET_LENGTH(text.ptr()) == 0)) {
    return steal<py::str>(PyType_GetName(Py_TYPE(exception.ptr())));  // type(exception).__name__
  }
  return text;
}

}  // namespace support
