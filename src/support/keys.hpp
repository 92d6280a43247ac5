// Interned key names and dictionary building. A module declares its keys once, as a
// table of interned strings made on first use in each interpreter:
//
//   struct Keys {
//     support::Interned success{"success"};
//     support::Interned error{"error"};
//   };
//   const Keys& keys() { return support::interned<Keys>(); }
//
//   py::dict answer = support::make_dict({{keys().success, py::bool_(false)}, {keys().error, text}});
//
// Interned strings hash once and compare by identity, so filling and reading result
// dictionaries with them skips both the string allocation and the hashing.
#pragma once

#include "support/python.hpp"

#include <pybind11/gil_safe_call_once.h>

#include <initializer_list>
#include <utility>

namespace support {

// sys.intern(text)
py::str intern(const char* text);

// A member of a key table.
class Interned : public py::str {
 public:
  explicit Interned(const char* text) : py::str(intern(text)) {}
};

// The interpreter's one instance of a key table (made on first use, with the GIL held).
template <class Table>
const Table& interned() {
  PYBIND11_CONSTINIT static py::gil_safe_call_once_and_store<Table> storage;
  return storage.call_once_and_store_result([] { return Table(); }).get_stored();
}

// dict[key] = value
void set_item(const py::dict& dict, py::handle key, py::handle value);

// A new dict with the items in this order.
py::dict make_dict(std::initializer_list<std::pair<py::handle, py::handle>> items);

// dict.get(key): an empty object when the key is missing.
py::object get_item(const py::dict& dict, py::handle key);

// dict[key]: KeyError when the key is missing.
py::object dict_item(const py::dict& dict, py::handle key);

}  // namespace support
