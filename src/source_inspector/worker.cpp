#include "source_inspector/worker.hpp"

#include "source_inspector/files.hpp"
#include "source_inspector/inspection.hpp"
#include "source_inspector/strings.hpp"
#include "source_inspector/tree_dump.hpp"
#include "support/args.hpp"
#include "support/compat.hpp"
#include "support/errors.hpp"
#include "support/json.hpp"
#include "support/keys.hpp"

#include <algorithm>
#include <iterator>
#include <optional>
#include <string_view>

namespace source_inspector {

namespace {

constexpr std::size_t kTreeDumpLimit = 5000;

// The actions on one parsed file: the parts of the walk each needs and its answer (the
// tree dump where `run` is empty).
struct Command {
  std::string_view action;
  unsigned parts;
  py::object (*run)(Inspection& inspection, const py::str& path);
};

constexpr Command kCommands[] = {
    {"parse_ast", 0, nullptr},
    {"find_functions", 0, [](Inspection& i, const py::str&) -> py::object { return i.functions(); }},
    {"find_classes", 0, [](Inspection& i, const py::str&) -> py::object { return i.classes(); }},
    {"find_imports", 0, [](Inspection& i, const py::str&) -> py::object { return i.imports(); }},
    {"find_todos", 0, [](Inspection& i, const py::str&) -> py::object { return i.todos(); }},
    {"complexity", kDecisionPoints,
     [](Inspection& i, const py::str&) -> py::object { return i.complexity(); }},
    {"symbols", 0, [](Inspection& i, const py::str&) -> py::object { return i.symbols(); }},
    {"call_graph", kCallees, [](Inspection& i, const py::str&) -> py::object { return i.call_graph(); }},
    {"summarize", kDecisionPoints,
     [](Inspection& i, const py::str& path) -> py::object { return i.summary(path); }},
};

const Command* find_command(py::handle action) {
  const std::optional<std::string_view> name = support::utf8_view_if_valid(action);
  const Command* found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                      [&](const Command& command) { return command.action == name; });
  return found == std::end(kCommands) ? nullptr : found;
}

py::dict success(py::handle result) {
  const Strings& names = strings();
  return support::make_dict({{names.success, Py_True}, {names.result, result}});
}

py::dict failure(py::handle error) {
  const Strings& names = strings();
  return support::make_dict({{names.success, Py_False}, {names.error, error}});
}

// command.get(key, "")
py::object member(const py::dict& command, const py::object& key) {
  py::object value = support::get_item(command, key);
  return value ? value : py::object(strings().empty);
}

py::dict dispatch(const py::object& action, const py::object& path) {
  const Strings& names = strings();
  const py::str path_text = support::args::to_str(path, "path");
  if (action.equal(names.analyze)) {
    return full_analysis(path_text);
  }
  ParsedFile file = parse_file(path_text);
  if (!file.error.is_none()) {
    return failure(file.error);
  }
  const Command* command = find_command(action);
  if (command == nullptr) {
    return failure(py::str("Unknown action: ") + py::str(action));
  }
  if (command->run == nullptr) {
    return success(support::make_dict({{names.ast, dump_prefix(file.tree, kTreeDumpLimit)}}));
  }
  Inspection inspection(file.tree, file.source, command->parts);
  return success(command->run(inspection, path_text));
}

// The response to one non-blank input line, and whether it was "quit".
std::pair<py::dict, bool> answer_line(const py::object& line) {
  py::object command;
  try {
    command = support::json::loads(line);
  } catch (...) {
    py::error_already_set error = support::current_error();
    if (!support::is_ordinary(error)) {
      throw error;
    }
    return {failure(py::str("Invalid JSON: ") + support::exception_text(error.value())), false};
  }
  if (!PyDict_CheckExact(command.ptr())) {
    return {
        failure(
            py::str("Invalid command: expected a JSON object, got {}").format(support::type_name(command))),
        false};
  }
  py::dict cmd = py::reinterpret_borrow<py::dict>(command);
  py::dict response = handle_command(cmd);
  return {std::move(response), member(cmd, strings().action).equal(strings().quit)};
}

}  // namespace

py::dict full_analysis(const py::str& path) {
  ParsedFile file = parse_file(path);
  if (!file.error.is_none()) {
    return failure(file.error);
  }
  return success(Inspection(file.tree, file.source, kDecisionPoints | kCallees).everything(path));
}

py::dict handle_command(const py::dict& command) {
  const Strings& names = strings();
  py::object action = member(command, names.action);
  py::object path = member(command, strings().path);
  if (action.equal(names.quit)) {
    return success(names.goodbye);
  }
  return support::catch_ordinary([&] { return dispatch(action, path); },
                                 [](py::error_already_set& error) { return failure(error_text(error)); });
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
      write(support::json::dumps(
                failure(py::str("Unreadable input line: ") + support::exception_text(error.value()))) +
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
    py::str encoded = support::catch_ordinary(
        [&] { return support::json::dumps(response); },
        [](py::error_already_set& error) { return support::json::dumps(failure(error_text(error))); });
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
