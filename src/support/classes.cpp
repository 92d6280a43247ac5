#include "support/classes.hpp"

#include <forward_list>
#include <string>
#include <utility>

namespace support {

namespace {

// __init__ calls the binding it holds as its `self`.
PyObject* call_init(PyObject* binding, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return PyObject_Vectorcall(binding, args, static_cast<std::size_t>(nargs), kwnames);
}

}  // namespace

PyMethodDef fast_method(const char* name, FastMethod function, const char* doc) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function)),
          METH_FASTCALL | METH_KEYWORDS, doc};
}

PlainClass::PlainClass(py::module_& m, const char* name, const char* doc) {
  py::dict namespace_;
  namespace_["__module__"] = m.attr("__name__");
  namespace_["__qualname__"] = name;
  namespace_["__doc__"] = doc == nullptr ? py::object(py::none()) : py::object(py::str(doc));
  cls_ = type_object(PyType_Type)(name, py::make_tuple(type_object(PyBaseObject_Type)), namespace_);
  m.attr(name) = cls_;
}

std::string PlainClass::qualname(const char* name) const {
  return py::str(cls_.attr("__qualname__")).cast<std::string>() + "." + name;
}

void PlainClass::set(const char* name, py::object value) {
  check(PyObject_SetAttrString(cls_.ptr(), name, value.ptr()));
}

void PlainClass::set_init(const char* doc, py::object function) {
  // A function's definition (with its docstring) must outlive it: one per class, made at
  // import with the GIL held, and never freed (the runtime may outlive static storage).
  static auto& definitions = *new std::forward_list<std::pair<std::string, PyMethodDef>>;
  auto& [text, definition] = definitions.emplace_front(doc == nullptr ? "" : doc, PyMethodDef{});
  definition = fast_method("__init__", &call_init, doc == nullptr ? nullptr : text.c_str());
  py::object init = steal(PyCFunction_New(&definition, function.ptr()));
  set("__init__", steal(PyInstanceMethod_New(init.ptr())));
}

void PlainClass::set_property(const char* name, py::object getter, py::object setter) {
  set(name, type_object(PyProperty_Type)(getter, setter));
}

void PlainClass::set_classmethod(const char* name, py::object function) {
  // The binding is made as a method (so `cls` needs no py::arg), which pybind11 wraps in
  // an instance method; classmethod binds the function itself, not that wrapper.
  set(name, steal(PyClassMethod_New(PyInstanceMethod_GET_FUNCTION(function.ptr()))));
}

PlainClass& PlainClass::def_fast(PyMethodDef& definition) {
  set(definition.ml_name, steal(PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(cls_.ptr()), &definition)));
  return *this;
}

}  // namespace support
