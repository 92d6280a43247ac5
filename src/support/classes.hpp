// Plain Python classes with methods written in C++.
//
// A plain class is what `class Name:` makes: instances are ordinary objects with a
// __dict__, so callers (and the host's tests) read, set and patch attributes and
// methods through the instance, and subclass it, exactly as they did with the Python
// class it replaces. Its state lives in the instance's attributes. Use py::class_
// instead when the instance owns C++ state that Python code never touches, and nothing
// patches its methods through the instance (add py::dynamic_attr() where it must still
// take new attributes).
//
//   support::PlainClass cls(m, "Scheduler", "Persistent scheduler.");
//   cls.def_init(nullptr, &initialize, py::arg("on_fire") = py::none())
//       .def("add_job", &add_job, py::arg("job"))
//       .def_coroutine("start", [](py::object self) { return start(self); })  // Scheduler.start
//       .def_property("running", &is_running);
#pragma once

#include "support/coroutine.hpp"
#include "support/python.hpp"

#include <functional>
#include <string>
#include <utility>

namespace support {

namespace detail {

// `body(args...).to_python(qualname)` with body's own parameters, so pybind11 sees
// the signature of the coroutine function.
template <class Body, class R, class... A>
auto start_coroutine(Body body, std::string qualname, std::function<R(A...)>*) {
  return [body = std::move(body), qualname = std::move(qualname)](A... args) -> py::object {
    return body(std::forward<A>(args)...).to_python(qualname.c_str());
  };
}

}  // namespace detail

// A method called without pybind11's argument conversion: the positional arguments in a
// C array, the names of the keyword ones in `kwnames` (their values follow).
using FastMethod = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// The definition of such a method, for PlainClass::def_fast. Keep it in static storage:
//   static PyMethodDef definition = support::fast_method("next", &next, "next(self, after=None)\n--\n\n...");
PyMethodDef fast_method(const char* name, FastMethod function, const char* doc);

class PlainClass {
 public:
  // A new class `name` in module `m` (set as its attribute), deriving from object.
  PlainClass(py::module_& m, const char* name, const char* doc);
  // Methods for an existing plain class (a dataclass, say).
  explicit PlainClass(py::object cls) : cls_(std::move(cls)) {}

  const py::object& cls() const { return cls_; }

  // A method (`self` first), bound like a function defined in the class body.
  template <class Function, class... Extra>
  PlainClass& def(const char* name, Function&& function, const Extra&... extra) {
    set(name,
        py::cpp_function(std::forward<Function>(function), py::name(name), py::is_method(cls_), extra...));
    return *this;
  }

  // __init__ (`self` first), named so: `Cls.__init__.__name__ == "__init__"`.
  template <class Function, class... Extra>
  PlainClass& def_init(const char* doc, Function&& function, const Extra&... extra) {
    // pybind11 takes a function named __init__ for a constructor of its own types, so
    // the binding carries another name, called by a function named __init__.
    set_init(doc, py::cpp_function(std::forward<Function>(function), py::name("initialize"),
                                   py::is_method(cls_), extra...));
    return *this;
  }

  // A method whose body returns a support::Coroutine: calling it gives a Python
  // coroutine named "<class qualname>.<name>".
  template <class Body, class... Extra>
  PlainClass& def_coroutine(const char* name, Body body, const Extra&... extra) {
    using Signature = decltype(std::function(body));
    return def(name,
               detail::start_coroutine(std::move(body), qualname(name), static_cast<Signature*>(nullptr)),
               extra...);
  }

  // A read-only property, or a read-write one with a setter (self, value).
  template <class Getter, class... Setter>
  PlainClass& def_property(const char* name, Getter&& getter, Setter&&... setter) {
    set_property(name, py::cpp_function(std::forward<Getter>(getter), py::name(name)),
                 py::cpp_function(std::forward<Setter>(setter), py::name(name))...);
    return *this;
  }

  // A class method (`cls` first).
  template <class Function, class... Extra>
  PlainClass& def_classmethod(const char* name, Function&& function, const Extra&... extra) {
    set_classmethod(name, py::cpp_function(std::forward<Function>(function), py::name(name),
                                           py::is_method(cls_), extra...));
    return *this;
  }

  // A fast method, for hot paths (see fast_method()); also for py::class_ types.
  PlainClass& def_fast(PyMethodDef& definition);

  // "<class qualname>.<name>"
  std::string qualname(const char* name) const;

 private:
  void set(const char* name, py::object value);
  void set_init(const char* doc, py::object function);
  void set_property(const char* name, py::object getter, py::object setter = py::none());
  void set_classmethod(const char* name, py::object function);

  py::object cls_;
};

}  // namespace support
