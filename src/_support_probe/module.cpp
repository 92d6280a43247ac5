// A small module that exercises the shared support layer from Python, so the test
// suite can check the async bridge, argument conversion and logging directly.
#include "support/args.hpp"
#include "support/coroutine.hpp"
#include "support/log.hpp"

namespace {

using support::Coroutine;

Coroutine return_value(py::object value) { co_return value; }

Coroutine await_one(py::object awaitable) { co_return co_await awaitable; }

Coroutine await_all(py::list awaitables) {
  py::list results;
  for (py::handle awaitable : awaitables) {
    results.append(co_await awaitable);
  }
  co_return results;
}

// Awaits, catching any error: ("ok", result) or ("caught", exception).
Coroutine await_catching(py::object awaitable) {
  try {
    py::object result = co_await awaitable;
    co_return py::make_tuple("ok", result);
  } catch (py::error_already_set& error) {
    co_return py::make_tuple("caught", error.value());
  }
}

// After an error at the first await, awaits `cleanup` and then re-raises.
Coroutine await_with_cleanup(py::object awaitable, py::object cleanup) {
  std::optional<py::error_already_set> failure;
  try {
    co_await awaitable;
  } catch (py::error_already_set& error) {
    failure = std::move(error);
  }
  if (failure) {
    co_await cleanup;
    throw *failure;
  }
  co_return py::none();
}

Coroutine raise_value_error(py::str message) {
  throw py::value_error(message.cast<std::string>());
  co_return py::none();
}

Coroutine raise_cpp_error() {
  throw std::runtime_error("plain C++ failure");
  co_return py::none();
}

Coroutine raise_python(py::object exception) {
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
  throw py::error_already_set();
  co_return py::none();
}

Coroutine nested(py::object value) { co_return co_await return_value(value); }

py::object convert(const std::string& kind, py::handle value, const char* name) {
  namespace args = support::args;
  if (kind == "int") return args::to_int(value, name);
  if (kind == "real") return py::float_(args::to_real(value, name));
  if (kind == "bool") return py::bool_(args::to_bool(value));
  if (kind == "str") return args::to_str(value, name);
  if (kind == "optional_str") return args::to_optional_str(value, name);
  if (kind == "list") return args::to_list(value, name);
  if (kind == "dict") return args::to_dict(value, name);
  throw py::value_error("unknown kind " + kind);
}

}  // namespace

PYBIND11_MODULE(_support_probe, m) {
  m.doc() = "Exercises the shared native support layer (for the test suite).";
  m.def("return_value", [](py::object v) { return return_value(v).to_python("return_value"); });
  m.def("await_one", [](py::object a) { return await_one(a).to_python("await_one"); });
  m.def("await_all", [](py::list a) { return await_all(a).to_python("await_all"); });
  m.def("await_catching", [](py::object a) { return await_catching(a).to_python("await_catching"); });
  m.def("await_with_cleanup",
        [](py::object a, py::object c) { return await_with_cleanup(a, c).to_python("await_with_cleanup"); });
  m.def("raise_value_error", [](py::str s) { return raise_value_error(s).to_python("raise_value_error"); });
  m.def("raise_cpp_error", [] { return raise_cpp_error().to_python("raise_cpp_error"); });
  m.def("raise_python", [](py::object e) { return raise_python(e).to_python("raise_python"); });
  m.def("nested", [](py::object v) { return nested(v).to_python("nested"); });
  m.def("live_frames", [] { return Coroutine::promise_type::live_frames; });
  m.def("awaitable_iterator", [](py::object a) { return support::awaitable_iterator(a); });
  m.def("convert", [](const std::string& kind, py::object value, const std::string& name) {
    return convert(kind, value, name.c_str());
  });
  m.def("bind", [](py::args args, py::kwargs kwargs) {
    static const support::args::Signature signature("bind", {{"first"}, {"second"}, {"third", false}});
    py::list bound;
    for (py::object& value : signature.bind(args, kwargs)) {
      bound.append(value ? value : py::str("<unset>"));
    }
    return bound;
  });
  m.def("log", [](const char* name, int level, py::str message) {
    support::Logger(name).log(static_cast<support::Level>(level), [&] { return message; });
  });
  m.def("log_exception", [](const char* name, py::object exception, py::str message) {
    support::Logger(name).log_exception(support::Level::error, exception, [&] { return message; });
  });
}
