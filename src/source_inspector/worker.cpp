#include "worker.hpp"

#include "files.hpp"
#include "inspection.hpp"
#include "strings.hpp"
#include "support/args.hpp"
#include "support/json.hpp"
#include "tree_dump.hpp"

#include <optional>
#include <stdexcept>
#include <string_view>

namespace source_inspector {

namespace {

constexpr std::size_t TREE_DUMP_LIMIT = 5000;

enum class Action {
  ParseAst,
  FindFunctions,
  FindClasses,
  FindImports,
  FindTodos,
  Complexity,
  Symbols,
  CallGraph,
  Summarize
};

constexpr std::pair<std::string_view, Action> ACTIONS[] = {
    {"parse_ast", Action::ParseAst},       {"find_functions", Action::FindFunctions},
    {"find_classes", Action::FindClasses}, {"find_imports", Action::FindImports},
    {"find_todos", Action::FindTodos},     {"complexity", Action::Complexity},
    {"symbols", Action::Symbols},          {"call_graph", Action::CallGraph},
    {"summarize", Action::Summarize},
};

std::optional<Action> find_action(py::handle action) {
  if (!PyUnicode_Check(action.ptr())) {
    return std::nullopt;
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(action.ptr(), &size);
  if (text == nullptr) {
    PyErr_Clear();  // a lone surrogate: no action has one
    return std::nullopt;
  }
  std::string_view name(text, static_cast<std::size_t>(size));
  for (const auto& [known, value] : ACTIONS) {
    if (known == name) {
      return value;
    }
  }
  return std::nullopt;
}

py::dict success(py::handle result) {
  const Strings& names = strings();
  py::dict response;
  response[names.success] = py::bool_(true);
  response[names.result] = result;
  return response;
}

py::dict failure(py::handle error) {
  const Strings& names = strings();
  py::dict response;
  response[names.success] = py::bool_(false);
  response[names.error] = error;
  return response;
}

py::object member(const py::dict& command, const py::object& key) {
  PyObject* value = PyDict_GetItemWithError(command.ptr(), key.ptr());
  if (value == nullptr) {
    if (PyErr_Occurred()) {
      throw py::error_already_set();
    }
    return strings().empty;
  }
  return py::reinterpret_borrow<py::object>(value);
}

bool equals(py::handle value, const py::object& text) {
  int equal = PyObject_RichCompareBool(value.ptr(), text.ptr(), Py_EQ);
  if (equal < 0) {
    throw py::error_already_set();
  }
  return equal == 1;
}

py::object tree_dump(const py::object& tree) {
  py::dict result;
  result[strings().ast] = dump_prefix(tree, TREE_DUMP_LIMIT);
  return result;
}

py::object run_action(Action action, const ParsedFile& file, const py::str& path) {
  switch (action) {
    case Action::ParseAst:
      return tree_dump(file.tree);
    case Action::FindFunctions:
      return Inspection(file.tree, file.source, 0).functions();
    case Action::FindClasses:
      return Inspection(file.tree, file.source, 0).classes();
    case Action::FindImports:
      return Inspection(file.tree, file.source, 0).imports();
    case Action::FindTodos:
      return Inspection(file.tree, file.source, 0).todos();
    case Action::Complexity:
      return Inspection(file.tree, file.source, DECISION_POINTS).complexity();
    case Action::Symbols:
      return Inspection(file.tree, file.source, 0).symbols();
    case Action::CallGraph:
      return Inspection(file.tree, file.source, CALLEES).call_graph();
    case Action::Summarize:
      return Inspection(file.tree, file.source, DECISION_POINTS).summary(path);
  }
  throw std::logic_error("unhandled action");
}

py::dict dispatch(const py::object& action, const py::object& path) {
  const Strings& names = strings();
  if (equals(action, names.analyze)) {
    return full_analysis(support::args::to_str(path, "path"));
  }
  py::str path_text = support::args::to_str(path, "path");
  ParsedFile file = parse_file(path_text);
  if (!file.error.is_none()) {
    return failure(file.error);
  }
  std::optional<Action> known = find_action(action);
  if (!known) {
    return failure(py::str("Unknown action: ") + py::str(action));
  }
  return success(run_action(*known, file, path_text));
}

// The response to one non-blank input line, and whether it was "quit".
std::pair<py::dict, bool> answer_line(const py::object& line) {
  py::object command;
  try {
    command = support::json::loads(line);
  } catch (...) {
    support::set_error_from_current_exception();
    py::error_already_set error;
    if (!error.matches(PyExc_Exception)) {
      throw error;
    }
    return {failure(py::str("Invalid JSON: ") + py::str(error.value())), false};
  }
  if (!PyDict_CheckExact(command.ptr())) {
    return {
        failure(
            py::str("Invalid command: expected a JSON object, got {}").format(support::type_name(command))),
        false};
  }
  py::dict cmd = py::reinterpret_borrow<py::dict>(command);
  py::dict response = handle_command(cmd);
  return {std::move(response), equals(member(cmd, strings().action), strings().quit)};
}

}  // namespace

py::dict full_analysis(const py::str& path) {
  ParsedFile file = parse_file(path);
  if (!file.error.is_none()) {
    return failure(file.error);
  }
  return success(Inspection(file.tree, file.source, DECISION_POINTS | CALLEES).everything(path));
}

py::dict handle_command(const py::dict& command) {
  const Strings& names = strings();
  py::object action = member(command, names.action);
  py::object path = member(command, strings().path);
  if (equals(action, names.quit)) {
    return success(names.goodbye);
  }
  return answer_errors([&]() -> py::object { return dispatch(action, path); },
                       [](py::object error) -> py::object { return failure(error); });
}

void serve() {
  py::module_ signal = support::import("signal");
  signal.attr("signal")(signal.attr("SIGINT"), signal.attr("SIG_IGN"));
  // Warnings of the parser (invalid escapes, ...) would go to standard error, which a
  // host may never drain; the worker reports only through its answers.
  support::import("warnings").attr("simplefilter")("ignore");

  py::module_ sys = support::import("sys");
  py::object input = sys.attr("stdin");
  py::object output = sys.attr("stdout");
  if (input.is_none() || output.is_none()) {
    return;
  }
  // Undecodable bytes must not end the loop: they reach the JSON decoder (or a path)
  // as surrogate escapes.
  if (py::hasattr(input, "reconfigure")) {
    input.attr("reconfigure")(py::arg("errors") = "surrogateescape");
  }
  py::object readline = input.attr("readline");
  py::object write = output.attr("write");
  py::object flush = output.attr("flush");
  py::object newline = py::str("\n");
  while (true) {
    py::object line;
    try {
      line = readline();
    } catch (py::error_already_set& error) {
      if (!error.matches(PyExc_UnicodeError)) {
        return;  // the stream is gone: nothing more will arrive
      }
      write(support::json::dumps(failure(py::str("Unreadable input line: ") + py::str(error.value()))) +
            newline);
      flush();
      continue;
    }
    if (py::len(line) == 0) {
      return;
    }
    py::object text = line.attr("strip")();
    if (py::len(text) == 0) {
      continue;
    }
    std::pair<py::dict, bool> answered = answer_line(text);
    const py::dict& response = answered.first;
    py::object encoded =
        answer_errors([&]() -> py::object { return support::json::dumps(response); },
                      [](py::object error) -> py::object { return support::json::dumps(failure(error)); });
    try {
      write(encoded + newline);
      flush();
    } catch (py::error_already_set& error) {
      if (!error.matches(PyExc_OSError) && !error.matches(PyExc_ValueError)) {
        throw;
      }
      return;  // nobody reads the answers any more
    }
    if (answered.second) {
      return;
    }
  }
}

}  // namespace source_inspector
