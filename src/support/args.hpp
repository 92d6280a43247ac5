// Conversion of call arguments at the boundary, with the TypeError texts the host
// sees from every module: "Argument '{name}' has incorrect type (expected {expected},
// got {type})".
#pragma once

#include "support/python.hpp"

#include <initializer_list>
#include <string>
#include <vector>

namespace support::args {

[[noreturn]] void raise_incorrect_type(const char* name, const char* expected, py::handle value);

// int parameters: any real number (bool included), truncated toward zero.
py::int_ to_int(py::handle value, const char* name);
// The same, as a C++ integer; a value outside its range raises OverflowError.
long long to_long(py::handle value, const char* name);
// real parameters: any real number.
double to_real(py::handle value, const char* name);
// bool parameters: the truth value of anything.
bool to_bool(py::handle value);
// str, list and dict parameters: exactly that type; the optional forms also take None.
py::str to_str(py::handle value, const char* name);
py::object to_optional_str(py::handle value, const char* name);
py::list to_list(py::handle value, const char* name);
py::object to_optional_list(py::handle value, const char* name);
py::dict to_dict(py::handle value, const char* name);

struct Parameter {
  const char* name;
  bool required = true;
};

// Binds *args/**kwargs to named positional-or-keyword parameters the way a compiled
// `def` does, with the same TypeError texts ("f() got an unexpected keyword argument
// 'x'", "f() takes exactly 2 positional arguments (3 given)", ...). Parameters not
// given come back as empty objects, so the caller applies its own defaults.
class Signature {
 public:
  Signature(const char* function_name, std::initializer_list<Parameter> parameters);

  std::vector<py::object> bind(const py::args& args, const py::kwargs& kwargs) const;

 private:
  [[noreturn]] void raise_count(std::size_t given) const;

  const char* function_name_;
  std::vector<Parameter> parameters_;
  std::size_t required_count_;
};

}  // namespace support::args
