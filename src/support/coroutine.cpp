#include "support/coroutine.hpp"

#include "support/compat.hpp"

#include <string_view>

namespace support {

namespace {

enum class State : char { created, suspended, running, finished };

struct CoroutineObject {
  PyObject_HEAD Coroutine::handle_type frame;  // empty once finished or closed
  PyObject* name;
  PyObject* qualname;
  State state;
};

CoroutineObject* as_coroutine(PyObject* object) { return reinterpret_cast<CoroutineObject*>(object); }

// Drops the frame; the destructors of its locals run with the GIL held.
void destroy_frame(CoroutineObject* self) {
  if (Coroutine::handle_type frame = std::exchange(self->frame, {})) {
    frame.destroy();
  }
  self->state = State::finished;
}

void set_stop_iteration(PyObject* value) {
  if (value == Py_None) {
    PyErr_SetNone(PyExc_StopIteration);
    return;
  }
  // A tuple given directly to PyErr_SetObject would be unpacked into arguments.
  PyObject* exception = PyObject_CallOneArg(PyExc_StopIteration, value);
  if (exception != nullptr) {
    PyErr_SetObject(PyExc_StopIteration, exception);
    Py_DECREF(exception);
  }
}

// As in generators (PEP 479): a StopIteration escaping the body becomes RuntimeError.
void replace_stop_iteration() {
  if (!PyErr_ExceptionMatches(PyExc_StopIteration)) {
    return;
  }
  py::error_already_set cause;
  PyObject* replacement =
      PyObject_CallOneArg(PyExc_RuntimeError, py::str("coroutine raised StopIteration").ptr());
  if (replacement == nullptr) {
    return;
  }
  PyException_SetCause(replacement, py::object(cause.value()).release().ptr());
  PyException_SetContext(replacement, py::object(cause.value()).release().ptr());
  PyErr_SetObject(PyExc_RuntimeError, replacement);
  Py_DECREF(replacement);
}

PySendResult finish(CoroutineObject* self, PyObject** out) {
  Coroutine::promise_type& promise = self->frame.promise();
  std::exception_ptr error = std::move(promise.error);
  py::object result = std::move(promise.result);
  destroy_frame(self);
  if (error) {
    try {
      std::rethrow_exception(error);
    } catch (...) {
      set_error_from_current_exception();
    }
    replace_stop_iteration();
    return PYGEN_ERROR;
  }
  *out = result ? result.release().ptr() : Py_NewRef(Py_None);
  return PYGEN_RETURN;
}

// Records how the delegate ended: its return value, or the error now set.
void delegate_ended(Coroutine::promise_type& promise, PySendResult status, PyObject* value) {
  if (status == PYGEN_RETURN) {
    promise.sent = py::reinterpret_steal<py::object>(value);
  } else {
    promise.thrown.emplace();  // fetches the error before anything else can run
  }
  promise.delegate = py::object();
}

// Resumes the frame with the value or error already stored in the promise (or first
// sends `sent` to the awaitable in progress, when given) and keeps starting the
// awaitables it goes on to await, until one of them yields or the body ends.
PySendResult run(CoroutineObject* self, PyObject** out, PyObject* sent = nullptr) {
  self->state = State::running;
  for (;; sent = nullptr) {
    if (sent == nullptr) {
      self->frame.resume();
      if (self->frame.done()) {
        return finish(self, out);
      }
    }
    Coroutine::promise_type& promise = self->frame.promise();
    PyObject* value = nullptr;
    PySendResult status = PyIter_Send(promise.delegate.ptr(), sent == nullptr ? Py_None : sent, &value);
    if (status == PYGEN_NEXT) {
      self->state = State::suspended;
      *out = value;
      return status;
    }
    delegate_ended(promise, status, value);
  }
}

bool check_not_running(CoroutineObject* self) {
  if (self->state == State::running) {
    PyErr_SetString(PyExc_ValueError, "coroutine already executing");
    return false;
  }
  return true;
}

PySendResult coroutine_send(PyObject* object, PyObject* value, PyObject** out) {
  CoroutineObject* self = as_coroutine(object);
  if (!check_not_running(self)) {
    return PYGEN_ERROR;
  }
  switch (self->state) {
    case State::finished:
      PyErr_SetString(PyExc_RuntimeError, "cannot reuse already awaited coroutine");
      return PYGEN_ERROR;
    case State::created:
      if (value != Py_None) {
        PyErr_SetString(PyExc_TypeError, "can't send non-None value to a just-started coroutine");
        return PYGEN_ERROR;
      }
      return run(self, out);
    default:
      return run(self, out, value);
  }
}

// Sets the error indicator from throw()'s argument: an exception instance or class.
bool set_thrown_error(PyObject* exception) {
  if (PyExceptionInstance_Check(exception)) {
    PyErr_SetObject(PyExceptionInstance_Class(exception), exception);
    return true;
  }
  if (PyExceptionClass_Check(exception)) {
    PyErr_SetNone(exception);
    return true;
  }
  PyErr_Format(PyExc_TypeError, "exceptions must be classes or instances deriving from BaseException, not %s",
               Py_TYPE(exception)->tp_name);
  return false;
}

// Passes the exception to the awaitable in progress, as `yield from` does: GeneratorExit
// closes it, anything else goes to its throw(). Returns PYGEN_NEXT with *out set if the
// awaitable handled it and yielded; otherwise the promise holds what the frame resumes with.
PySendResult throw_into_delegate(Coroutine::promise_type& promise, PyObject* exception, PyObject** out) {
  try {
    // An instance is matched by its class; anything but an exception matches nothing.
    const bool closing = PyErr_GivenExceptionMatches(exception, PyExc_GeneratorExit) != 0;
    py::object method = optional_attr(promise.delegate, py::str(closing ? "close" : "throw"));
    if (closing || !method) {
      if (method) {
        method();
      }
      set_thrown_error(exception);
    } else if (PyObject* yielded = PyObject_CallOneArg(method.ptr(), exception)) {
      *out = yielded;
      return PYGEN_NEXT;
    } else if (PyErr_ExceptionMatches(PyExc_StopIteration)) {
      py::error_already_set stop;
      delegate_ended(promise, PYGEN_RETURN, py::getattr(stop.value(), "value", py::none()).release().ptr());
      return PYGEN_RETURN;
    }
  } catch (...) {
    set_error_from_current_exception();
  }
  delegate_ended(promise, PYGEN_ERROR, nullptr);
  return PYGEN_ERROR;
}

PySendResult coroutine_throw(PyObject* object, PyObject* exception, PyObject** out) {
  CoroutineObject* self = as_coroutine(object);
  if (!check_not_running(self)) {
    return PYGEN_ERROR;
  }
  if (self->state != State::suspended) {
    // Not started or already over: the exception is raised here and the coroutine ends.
    destroy_frame(self);
    set_thrown_error(exception);
    return PYGEN_ERROR;
  }
  Coroutine::promise_type& promise = self->frame.promise();
  self->state = State::running;
  if (throw_into_delegate(promise, exception, out) == PYGEN_NEXT) {
    self->state = State::suspended;
    return PYGEN_NEXT;
  }
  return run(self, out);
}

// send() or throw() by one of the steps above: the yielded value, or nullptr with
// StopIteration or the error set.
template <PySendResult (*Step)(PyObject*, PyObject*, PyObject**)>
PyObject* iterate(PyObject* object, PyObject* argument) {
  PyObject* result = nullptr;
  const PySendResult status = Step(object, argument, &result);
  if (status == PYGEN_RETURN) {
    set_stop_iteration(result);
    Py_DECREF(result);
    return nullptr;
  }
  return status == PYGEN_NEXT ? result : nullptr;
}

PyObject* method_close(PyObject* object, PyObject*) {
  CoroutineObject* self = as_coroutine(object);
  if (!check_not_running(self)) {
    return nullptr;
  }
  if (self->state != State::suspended) {
    destroy_frame(self);
    Py_RETURN_NONE;
  }
  PyObject* result = nullptr;
  PySendResult status = coroutine_throw(object, PyExc_GeneratorExit, &result);
  if (status == PYGEN_NEXT) {
    Py_DECREF(result);
    destroy_frame(self);
    PyErr_SetString(PyExc_RuntimeError, "coroutine ignored GeneratorExit");
    return nullptr;
  }
  if (status == PYGEN_RETURN) {
    Py_DECREF(result);
    Py_RETURN_NONE;
  }
  if (PyErr_ExceptionMatches(PyExc_GeneratorExit) || PyErr_ExceptionMatches(PyExc_StopIteration)) {
    PyErr_Clear();
    Py_RETURN_NONE;
  }
  return nullptr;
}

PyObject* coroutine_next(PyObject* object) { return iterate<coroutine_send>(object, Py_None); }

PyObject* coroutine_await(PyObject* object) { return Py_NewRef(object); }

PyObject* coroutine_repr(PyObject* object) {
  CoroutineObject* self = as_coroutine(object);
  return PyUnicode_FromFormat("<coroutine object %U at %p>", self->qualname, object);
}

PyObject* get_name(PyObject* object, void*) { return Py_NewRef(as_coroutine(object)->name); }
PyObject* get_qualname(PyObject* object, void*) { return Py_NewRef(as_coroutine(object)->qualname); }
PyObject* get_running(PyObject* object, void*) {
  return PyBool_FromLong(as_coroutine(object)->state == State::running);
}
PyObject* get_awaiting(PyObject* object, void*) {
  CoroutineObject* self = as_coroutine(object);
  if (self->frame && self->frame.promise().delegate) {
    return Py_NewRef(self->frame.promise().delegate.ptr());
  }
  Py_RETURN_NONE;
}
PyObject* get_none(PyObject*, void*) { Py_RETURN_NONE; }

int coroutine_traverse(PyObject* object, visitproc visit, void* arg) {
  CoroutineObject* self = as_coroutine(object);
  Py_VISIT(Py_TYPE(object));
  Py_VISIT(self->name);
  Py_VISIT(self->qualname);
  if (self->frame) {
    Coroutine::promise_type& promise = self->frame.promise();
    for (const py::handle* parameter : promise.parameters) {
      Py_VISIT(parameter->ptr());
    }
    Py_VISIT(promise.delegate.ptr());
    Py_VISIT(promise.sent.ptr());
    Py_VISIT(promise.result.ptr());
  }
  return 0;
}

int coroutine_clear(PyObject* object) {
  CoroutineObject* self = as_coroutine(object);
  destroy_frame(self);
  Py_CLEAR(self->name);
  Py_CLEAR(self->qualname);
  return 0;
}

// A coroutine dropped before it ended: warn like Python if it never started, else close it.
void coroutine_finalize(PyObject* object) {
  CoroutineObject* self = as_coroutine(object);
  if (self->state == State::finished) {
    return;
  }
  py::error_scope saved;  // the error indicator stays aside while the finalizer runs
  if (self->state == State::created) {
    if (PyErr_WarnFormat(PyExc_RuntimeWarning, 1, "coroutine '%U' was never awaited", self->qualname) < 0) {
      PyErr_WriteUnraisable(object);
    }
    destroy_frame(self);
  } else {
    PyObject* closed = method_close(object, nullptr);
    if (closed == nullptr) {
      PyErr_WriteUnraisable(object);
    } else {
      Py_DECREF(closed);
    }
  }
}

void coroutine_dealloc(PyObject* object) {
  PyObject_GC_UnTrack(object);
  PyObject_GC_Track(object);  // the finalizer may resurrect; it must see a tracked object
  if (PyObject_CallFinalizerFromDealloc(object) < 0) {
    return;
  }
  PyObject_GC_UnTrack(object);
  coroutine_clear(object);
  PyTypeObject* type = Py_TYPE(object);
  type->tp_free(object);
  Py_DECREF(type);
}

PyMethodDef coroutine_methods[] = {
    {"send", iterate<coroutine_send>, METH_O,
     "send(arg) -> send 'arg' into coroutine,\nreturn next iterated value or raise StopIteration."},
    {"throw", iterate<coroutine_throw>, METH_O,
     "throw(value)\n\nRaise exception in coroutine, return next iterated value or raise StopIteration."},
    {"close", method_close, METH_NOARGS, "close() -> raise GeneratorExit inside coroutine."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef coroutine_getset[] = {
    {"__name__", get_name, nullptr, nullptr, nullptr},
    {"__qualname__", get_qualname, nullptr, nullptr, nullptr},
    {"cr_running", get_running, nullptr, nullptr, nullptr},
    {"cr_await", get_awaiting, nullptr, nullptr, nullptr},
    {"cr_frame", get_none, nullptr, nullptr, nullptr},
    {"cr_code", get_none, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot coroutine_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(coroutine_dealloc)},
    {Py_tp_finalize, reinterpret_cast<void*>(coroutine_finalize)},
    {Py_tp_traverse, reinterpret_cast<void*>(coroutine_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(coroutine_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(coroutine_repr)},
    {Py_tp_iternext, reinterpret_cast<void*>(coroutine_next)},
    {Py_tp_methods, coroutine_methods},
    {Py_tp_getset, coroutine_getset},
    {Py_am_await, reinterpret_cast<void*>(coroutine_await)},
    {Py_am_send, reinterpret_cast<void*>(coroutine_send)},
    {0, nullptr},
};

PyType_Spec coroutine_spec = {
    "nebrix.coroutine",
    sizeof(CoroutineObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    coroutine_slots,
};

// One type per extension module, made on first use and registered as a
// collections.abc.Coroutine so asyncio accepts its objects as coroutines.
PyTypeObject* coroutine_type() {
  PYBIND11_CONSTINIT static py::gil_safe_call_once_and_store<py::object> storage;
  storage.call_once_and_store_result([] {
    py::object type = steal(PyType_FromSpec(&coroutine_spec));
    import("collections.abc").attr("Coroutine").attr("register")(type);
    return type;
  });
  return reinterpret_cast<PyTypeObject*>(storage.get_stored().ptr());
}

bool is_iterable_coroutine_generator(PyObject* object) {
  if (!PyGen_CheckExact(object)) {
    return false;
  }
  py::object flags = py::handle(object).attr("gi_code").attr("co_flags");
  return (flags.cast<long>() & CO_ITERABLE_COROUTINE) != 0;
}

// The iterator that `await awaitable` would delegate to; TypeError as Python words it
// when the object is not awaitable (thrown as py::error_already_set, like every failure
// of a co_await).
py::object awaitable_iterator(py::handle awaitable) {
  PyObject* object = awaitable.ptr();
  if (PyCoro_CheckExact(object) || is_iterable_coroutine_generator(object)) {
    return py::reinterpret_borrow<py::object>(awaitable);
  }
  // Errors are raised as Python errors, so code around a co_await catches every
  // failure of the await as py::error_already_set.
  PyAsyncMethods* async = Py_TYPE(object)->tp_as_async;
  if (async == nullptr || async->am_await == nullptr) {
    raise(PyExc_TypeError,
          py::str("object {} can't be used in 'await' expression").format(Py_TYPE(object)->tp_name));
  }
  py::object iterator = steal(async->am_await(object));
  if (PyCoro_CheckExact(iterator.ptr())) {
    raise(PyExc_TypeError, py::str("__await__() returned a coroutine"));
  }
  if (!PyIter_Check(iterator.ptr())) {
    raise(PyExc_TypeError,
          py::str("__await__() returned non-iterator of type '{}'").format(Py_TYPE(iterator.ptr())->tp_name));
  }
  return iterator;
}

}  // namespace

Coroutine::~Coroutine() {
  if (frame_) {
    frame_.destroy();
  }
}

py::object Coroutine::to_python(const char* qualname) && {
  PyTypeObject* type = coroutine_type();
  py::str full_name(qualname);
  const std::string_view full(qualname);
  py::str name(full.substr(full.rfind('.') + 1));
  CoroutineObject* self = PyObject_GC_New(CoroutineObject, type);
  if (self == nullptr) {
    throw py::error_already_set();
  }
  self->frame = std::exchange(frame_, {});
  self->name = name.release().ptr();
  self->qualname = full_name.release().ptr();
  self->state = State::created;
  PyObject_GC_Track(reinterpret_cast<PyObject*>(self));
  return py::reinterpret_steal<py::object>(reinterpret_cast<PyObject*>(self));
}

detail::Awaiter Coroutine::promise_type::await_transform(py::handle awaitable) {
  delegate = awaitable_iterator(awaitable);
  return detail::Awaiter{this};
}

detail::Awaiter Coroutine::promise_type::await_transform(Coroutine&& nested) {
  delegate = std::move(nested).to_python("coroutine");
  return detail::Awaiter{this};
}

py::object detail::Awaiter::await_resume() const {
  if (promise->thrown) {
    py::error_already_set error = std::move(*promise->thrown);
    promise->thrown.reset();
    throw error;
  }
  return std::move(promise->sent);
}

}  // namespace support
