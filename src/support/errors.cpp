#include "support/errors.hpp"

namespace support {

namespace {

// type(exception).__name__
py::str type_short_name(py::handle exception) {
  return steal<py::str>(PyType_GetName(Py_TYPE(exception.ptr())));
}

}  // namespace

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
  PyObject* text = PyObject_Str(exception.ptr());
  if (text == nullptr) {
    PyErr_Clear();
    return type_short_name(exception);
  }
  auto result = py::reinterpret_steal<py::str>(text);
  if (empty == EmptyText::kTypeName && PyUnicode_GET_LENGTH(text) == 0) {
    return type_short_name(exception);
  }
  return result;
}

}  // namespace support
