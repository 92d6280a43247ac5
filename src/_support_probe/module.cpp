// A small module that exercises the shared support layer from Python, so the test
// suite can check each piece directly.
#include "support/args.hpp"
#include "support/classes.hpp"
#include "support/compat.hpp"
#include "support/coroutine.hpp"
#include "support/errors.hpp"
#include "support/keys.hpp"
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
  support::raise(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception);
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

struct Keys {
  support::Interned success{"success"};
  support::Interned error{"error"};
};

const Keys& keys() { return support::interned<Keys>(); }

// Counter: a plain class with one of each kind of member. Its state is the instance
// attribute `count`, reached through the instance like Python code would.
void counter_init(py::object self, py::object start) { self.attr("count") = start; }

py::object counter_add(py::object self, py::object amount) {
  py::object count = py::getattr(self, "count") + amount;
  self.attr("count") = count;
  return count;
}

Coroutine counter_add_later(py::object self, py::object awaitable) {
  py::object amount = co_await awaitable;
  co_return self.attr("_add")(amount);
}

// Counter.peek(self, *args, **kwargs): (count, args, names of the keyword arguments).
PyObject* counter_peek(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  try {
    py::list positional;
    for (Py_ssize_t i = 0; i < nargs; ++i) {
      positional.append(py::handle(args[i]));
    }
    py::object names = kwnames == nullptr ? py::tuple() : py::reinterpret_borrow<py::object>(kwnames);
    return py::make_tuple(py::getattr(self, "count"), positional, names).release().ptr();
  } catch (...) {
    support::set_error_from_current_exception();
    return nullptr;
  }
}

void define_counter(py::module_& m) {
  static PyMethodDef peek = support::fast_method("peek", &counter_peek, "Count and arguments, unconverted.");
  support::PlainClass cls(m, "Counter", "Counts.");
  cls.def_init("A counter from `start`.", &counter_init, py::arg("start") = 0)
      .def("_add", &counter_add, py::arg("amount"))
      .def(
          "add", [](py::object self, py::object amount) -> py::object { return self.attr("_add")(amount); },
          py::arg("amount"))
      .def_coroutine("add_later", &counter_add_later, py::arg("awaitable"))
      .def_property("doubled",
                    [](py::object self) -> py::object { return py::getattr(self, "count") * py::int_(2); })
      .def_property(
          "value", [](py::object self) -> py::object { return self.attr("count"); },
          [](py::object self, py::object value) { self.attr("count") = value; })
      .def_classmethod(
          "starting_at", [](py::object klass, py::object start) -> py::object { return klass(start); },
          py::arg("start"))
      .def_fast(peek);
}

// ("ok", result) or ("caught", the exception): `work` runs under catch_ordinary;
// cpp="runtime" or "alloc" throws the C++ exception instead.
py::tuple catching(py::object work, const std::string& cpp) {
  return support::catch_ordinary(
      [&] {
        if (cpp == "runtime") throw std::runtime_error("plain C++ failure");
        if (cpp == "alloc") throw std::bad_alloc();
        return py::make_tuple("ok", work());
      },
      [](py::error_already_set& error) { return py::make_tuple("caught", error.value()); });
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
    support::Logger(name).log_exception(static_cast<support::Level>(level), py::handle(),
                                        [&] { return message; });
  });
  m.def("log_exception", [](const char* name, py::object exception, py::str message) {
    support::Logger(name).log_exception(support::Level::error, exception, [&] { return message; });
  });

  m.def("catching", &catching, py::arg("work"), py::arg("cpp") = "");
  m.def("exception_text", [](py::object exception, bool type_name_when_empty) {
    return support::exception_text(
        exception, type_name_when_empty ? support::EmptyText::kTypeName : support::EmptyText::kKeep);
  });
  m.def("optional_attr", [](py::object object, py::object name) {
    py::object value = support::optional_attr(object, name);
    return py::make_tuple(bool(value), value ? value : py::none());
  });
  m.def("utf8_view", [](py::object text) {
    std::string_view view = support::utf8_view(text);
    return py::bytes(view.data(), view.size());
  });
  m.def("utf8_view_if_valid", [](py::object text) -> py::object {
    std::optional<std::string_view> view = support::utf8_view_if_valid(text);
    return view ? py::bytes(view->data(), view->size()) : py::object(py::none());
  });
  m.def("utf8_round_trip", [](py::object text) {
    support::Utf8 utf8(text);
    return py::make_tuple(py::bytes(utf8.view().data(), utf8.view().size()), support::from_utf8(utf8.view()));
  });
  m.def("keys", [] { return py::make_tuple(keys().success, keys().error); });
  m.def("failure", [](py::object error) {
    return support::make_dict({{keys().success, Py_False}, {keys().error, error}});
  });
  m.def("get_item", [](py::dict dict, py::object key) -> py::object {
    py::object value = support::get_item(dict, key);
    return value ? value : py::str("<missing>");
  });
  m.def("dict_item", &support::dict_item);
  define_counter(m);
}
