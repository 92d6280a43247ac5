#include "support/keys.hpp"

namespace support {

py::str intern(const char* text) { return steal<py::str>(PyUnicode_InternFromString(text)); }

void set_item(const py::dict& dict, py::handle key, py::handle value) {
  check(PyDict_SetItem(dict.ptr(), key.ptr(), value.ptr()));
}

py::dict make_dict(std::initializer_list<std::pair<py::handle, py::handle>> items) {
  py::dict made;
  for (const auto& [key, value] : items) {
    set_item(made, key, value);
  }
  return made;
}

py::object get_item(const py::dict& dict, py::handle key) {
  PyObject* value = PyDict_GetItemWithError(dict.ptr(), key.ptr());
  if (value == nullptr && PyErr_Occurred()) {
    throw py::error_already_set();
  }
  return py::reinterpret_borrow<py::object>(value);
}

py::object dict_item(const py::dict& dict, py::handle key) {
  py::object value = get_item(dict, key);
  if (!value) {
    raise(PyExc_KeyError, key);
  }
  return value;
}

}  // namespace support
