#include "support/classes.hpp"

#include <memory>

namespace support {

namespace {

py::object builtin(PyTypeObject& type) {
  return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&type));
}

// What a class's __init__ function refers to: its own definition (named "__init__",
// with the class's docstring for it) and the binding it calls.
struct InitTarget {
  PyMethodDef definition;
  std::string doc;
  py::object function;
};

constexpr const char* kInitTargetName = "support.InitTarget";

PyObject* call_init(PyObject* capsule, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  auto* target = static_cast<InitTarget*>(PyCapsule_GetPointer(capsule, kInitTargetName));
  if (target == nullptr) {
    return nullptr;
  }
  return PyObject_Vectorcall(target->function.ptr(), args, static_cast<std::size_t>(nargs), kwnames);
}

void delete_init_target(PyObject* capsule) {
  delete static_cast<InitTarget*>(PyCapsule_GetPointer(capsule, kInitTargetName));
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
  cls_ = builtin(PyType_Type)(name, py::make_tuple(builtin(PyBaseObject_Type)), namespace_);
  m.attr(name) = cls_;
}

std::string PlainClass::qualname(const char* name) const {
  return py::str(cls_.attr("__qualname__")).cast<std::string>() + "." + name;
}

void PlainClass::set(const char* name, py::object value) {
  check(PyObject_SetAttrString(cls_.ptr(), name, value.ptr()));
}

void PlainClass::set_init(const char* doc, py::object function) {
  auto target = std::make_unique<InitTarget>();
  target->doc = doc == nullptr ? "" : doc;
  target->definition = fast_method("__init__", &call_init, doc == nullptr ? nullptr : target->doc.c_str());
  target->function = std::move(function);
  PyMethodDef* definition = &target->definition;
  py::object capsule = steal(PyCapsule_New(target.get(), kInitTargetName, &delete_init_target));
  target.release();
  py::object init = steal(PyCFunction_New(definition, capsule.ptr()));
  set("__init__", steal(PyInstanceMethod_New(init.ptr())));
}

void PlainClass::set_property(const char* name, py::object getter, py::object setter) {
  set(name, builtin(PyProperty_Type)(getter, setter));
}

void PlainClass::set_classmethod(const char* name, py::object function) {
  // The binding is made as a method (so `cls` needs no py::arg); classmethod binds the
  // function itself, not its instance-method wrapper.
  PyObject* bound = function.ptr();
  if (PyInstanceMethod_Check(bound)) {
    bound = PyInstanceMethod_GET_FUNCTION(bound);
  }
  set(name, steal(PyClassMethod_New(bound)));
}

PlainClass& PlainClass::def_fast(PyMethodDef& definition) {
  set(definition.ml_name, steal(PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(cls_.ptr()), &definition)));
  return *this;
}

}  // namespace support
