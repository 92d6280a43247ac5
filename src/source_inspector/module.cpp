// Bindings of nebrix.workers.source_inspector: the analysis functions, the command
// dispatch and the worker's command loop.
#include "source_inspector/files.hpp"
#include "source_inspector/inspection.hpp"
#include "source_inspector/worker.hpp"
#include "support/args.hpp"

namespace {

using source_inspector::CALLEES;
using source_inspector::DECISION_POINTS;
using source_inspector::Inspection;
using support::args::to_str;

// An inspection of a tree and its source text (checked to be a str).
Inspection with_source(py::object tree, py::object source, unsigned parts = 0) {
  return Inspection(std::move(tree), to_str(source, "source"), parts);
}

Inspection without_source(py::object tree, unsigned parts = 0) {
  return Inspection(std::move(tree), py::none(), parts);
}

py::tuple parse_file(py::object path) {
  source_inspector::ParsedFile parsed = source_inspector::parse_file(to_str(path, "path"));
  return py::make_tuple(parsed.tree, parsed.source, parsed.error);
}

}  // namespace

PYBIND11_MODULE(source_inspector, m) {
  m.doc() = "Source-inspection worker: analyses Python files and answers JSON commands line by line.";

  m.def("parse_file", &parse_file, py::arg("path"),
        "Reads and parses a file: (tree, source, None), or (None, '', error text).");
  m.def(
      "find_functions",
      [](py::object tree, py::object source) { return with_source(tree, source).functions(); },
      py::arg("tree"), py::arg("source"), "A record for every function and method, in ast.walk order.");
  m.def(
      "find_classes", [](py::object tree, py::object source) { return with_source(tree, source).classes(); },
      py::arg("tree"), py::arg("source"), "A record for every class, in ast.walk order.");
  m.def(
      "find_imports", [](py::object tree) { return without_source(tree).imports(); }, py::arg("tree"),
      "A record for every imported name, in ast.walk order.");
  m.def(
      "find_todos", [](py::object source) { return with_source(py::none(), source).todos(); },
      py::arg("source"), "The TODO, FIXME, HACK, XXX, NOTE and BUG comments, line by line.");
  m.def(
      "calculate_complexity",
      [](py::object tree) { return without_source(tree, DECISION_POINTS).complexity(); }, py::arg("tree"),
      "The complexity score and rating of every function.");
  m.def(
      "extract_symbols", [](py::object tree) { return without_source(tree).symbols(); }, py::arg("tree"),
      "The module-level functions, classes, variables and constants.");
  m.def(
      "build_call_graph", [](py::object tree) { return without_source(tree, CALLEES).call_graph(); },
      py::arg("tree"), "Each function's name mapped to the sorted names it calls.");
  m.def(
      "summarize_file",
      [](py::object path, py::object tree, py::object source) {
        py::str path_text = to_str(path, "path");
        return with_source(tree, source, DECISION_POINTS).summary(path_text);
      },
      py::arg("path"), py::arg("tree"), py::arg("source"),
      "Line counts, counts of every record kind and more.");
  m.def(
      "full_analysis", [](py::object path) { return source_inspector::full_analysis(to_str(path, "path")); },
      py::arg("path"), "Every analysis of one file, as the worker's \"analyze\" command answers it.");
  m.def(
      "handle_command",
      [](py::object cmd) { return source_inspector::handle_command(support::args::to_dict(cmd, "cmd")); },
      py::arg("cmd"), "Answers one command dictionary of the worker protocol.");
  m.def(
      "main", [] { source_inspector::serve(); },
      "The worker's command loop on standard input and output, until \"quit\" or end of input.");
}
