#include "source_inspector/inspection.hpp"

#include "source_inspector/strings.hpp"
#include "support/args.hpp"
#include "support/keys.hpp"

namespace source_inspector {

namespace {

constexpr std::size_t kDocstringLimit = 200;
constexpr std::size_t kModuleDocstringLimit = 300;
constexpr std::size_t kTopImportCount = 10;

// A {"name": ..., "line": ...} entry.
py::dict name_and_line(const Strings& names, py::handle name, py::handle line) {
  return support::make_dict({{names.name, name}, {names.line, line}});
}

bool is_upper(const Strings& names, py::handle text) {
  return support::args::to_bool(support::steal(PyObject_CallMethodNoArgs(text.ptr(), names.isupper.ptr())));
}

}  // namespace

Inspection::Inspection(py::object tree, py::object source, unsigned parts)
    : tree_(std::move(tree)), source_(source), parts_(parts), segments_(std::move(source)) {}

const TreeIndex& Inspection::index() {
  if (!index_) {
    index_ = walk_tree(schema_, tree_, parts_);
    py::gil_scoped_release unlocked;
    roll_up(index_->metrics, index_->callee_texts);
  }
  return *index_;
}

const std::vector<LineSpan>& Inspection::lines() {
  if (!lines_) {
    CodePoints text = view_of(source_);
    py::gil_scoped_release unlocked;
    lines_ = split_lines(text);
  }
  return *lines_;
}

py::list Inspection::texts_of(py::handle nodes) {
  py::list texts;
  for (py::handle node : nodes) {
    texts.append(segments_.text_or_empty(node));
  }
  return texts;
}

py::object Inspection::function_record(const FunctionNode& function) {
  const Strings& names = strings();
  py::handle node = function.node;
  const auto parameters = [&] {
    py::list entries;
    for (py::handle parameter : py::getattr(py::getattr(node, names.args), names.args)) {
      entries.append(support::make_dict(
          {{names.name, py::getattr(parameter, names.arg)},
           {names.annotation, segments_.text_or_empty(py::getattr(parameter, names.annotation))}}));
    }
    return entries;
  };
  // Braced items are evaluated in order: the attributes are read as they are listed.
  return support::make_dict({{names.name, py::getattr(node, names.name)},
                             {names.type, function.is_async ? names.async_function : names.function},
                             {names.line, py::getattr(node, names.lineno)},
                             {names.end_line, py::getattr(node, names.end_lineno)},
                             {names.args, parameters()},
                             {names.return_type, segments_.text_or_empty(py::getattr(node, names.returns))},
                             {names.decorators, texts_of(py::getattr(node, names.decorator_list))},
                             {names.docstring, docstring_prefix(schema_, node, kDocstringLimit)},
                             {names.is_method, py::bool_(function.is_method)}});
}

py::object Inspection::class_record(py::handle node) {
  const Strings& names = strings();
  py::dict record = support::make_dict({{names.name, py::getattr(node, names.name)},
                                        {names.line, py::getattr(node, names.lineno)},
                                        {names.end_line, py::getattr(node, names.end_lineno)},
                                        {names.bases, texts_of(py::getattr(node, names.bases))}});
  py::list methods;
  py::list attributes;
  for (py::handle statement : py::getattr(node, names.body)) {
    NodeKind kind = schema_.kind_of(statement);
    if (is_function(kind)) {
      methods.append(py::getattr(statement, names.name));
    } else if (kind == NodeKind::kAssign) {
      for (py::handle target : py::getattr(statement, names.targets)) {
        if (schema_.kind_of(target) == NodeKind::kName) {
          attributes.append(py::getattr(target, names.id));
        }
      }
    }
  }
  support::set_item(record, names.methods, methods);
  support::set_item(record, names.attributes, attributes);
  support::set_item(record, names.docstring, docstring_prefix(schema_, node, kDocstringLimit));
  support::set_item(record, names.method_count, py::int_(py::len(methods)));
  return record;
}

py::list Inspection::functions() {
  if (!functions_) {
    py::list records;
    for (const FunctionNode& function : index().functions) {
      records.append(function_record(function));
    }
    functions_ = std::move(records);
  }
  return *functions_;
}

py::list Inspection::classes() {
  if (!classes_) {
    py::list records;
    for (const py::object& node : index().classes) {
      records.append(class_record(node));
    }
    classes_ = std::move(records);
  }
  return *classes_;
}

py::list Inspection::imports() {
  if (imports_) {
    return *imports_;
  }
  const Strings& names = strings();
  py::list records;
  for (const py::object& node : index().imports) {
    const bool from_import = schema_.kind_of(node) == NodeKind::kImportFrom;
    py::object module;
    if (from_import) {
      module = py::getattr(node, names.module);
      if (!support::args::to_bool(module)) {
        module = names.empty;
      }
    }
    py::object line = py::getattr(node, names.lineno);
    for (py::handle alias : py::getattr(node, names.names)) {
      py::dict record =
          from_import
              ? support::make_dict({{names.module, module}, {names.name, py::getattr(alias, names.name)}})
              : support::make_dict({{names.module, py::getattr(alias, names.name)}});
      support::set_item(record, names.alias, py::getattr(alias, names.asname));
      support::set_item(record, names.line, line);
      support::set_item(record, names.type, from_import ? names.from_import : names.import_);
      records.append(record);
    }
  }
  imports_ = std::move(records);
  return *imports_;
}

py::list Inspection::todos() {
  if (todos_) {
    return *todos_;
  }
  const Strings& names = strings();
  const std::vector<LineSpan>& spans = lines();
  std::vector<TodoMatch> matches;
  {
    CodePoints text = view_of(source_);
    py::gil_scoped_release unlocked;
    matches = find_todo_comments(text, spans);
  }
  auto substring = [&](std::size_t start, std::size_t end) {
    return support::steal(
        PyUnicode_Substring(source_.ptr(), static_cast<Py_ssize_t>(start), static_cast<Py_ssize_t>(end)));
  };
  py::list records;
  for (const TodoMatch& match : matches) {
    py::object marker = names.todo_markers[match.marker];
    if (!match.marker_is_ascii) {
      marker = substring(match.marker_start, match.marker_end).attr(names.upper)();
    }
    records.append(support::make_dict({{names.line, py::int_(match.line)},
                                       {names.type, marker},
                                       {names.text, substring(match.text_start, match.text_end)}}));
  }
  todos_ = std::move(records);
  return *todos_;
}

py::list Inspection::complexity() {
  if (complexity_) {
    return *complexity_;
  }
  const Strings& names = strings();
  const TreeIndex& found = index();
  py::list records;
  for (std::size_t i = 0; i < found.functions.size(); ++i) {
    py::handle node = found.functions[i].node;
    long long score = 1 + found.metrics[i].decision_points;
    records.append(support::make_dict({{names.name, py::getattr(node, names.name)},
                                       {names.line, py::getattr(node, names.lineno)},
                                       {names.complexity, py::int_(score)},
                                       {names.rating, names.rating_of(score)}}));
  }
  complexity_ = std::move(records);
  return *complexity_;
}

py::dict Inspection::symbols() {
  const Strings& names = strings();
  py::list functions;
  py::list classes;
  py::list variables;
  py::list constants;
  for (const py::object& node : index().top_level) {
    NodeKind kind = schema_.kind_of(node);
    if (is_function(kind) || kind == NodeKind::kClassDef) {
      (kind == NodeKind::kClassDef ? classes : functions)
          .append(name_and_line(names, py::getattr(node, names.name), py::getattr(node, names.lineno)));
    } else if (kind == NodeKind::kAssign) {
      py::object line = py::getattr(node, names.lineno);
      for (py::handle target : py::getattr(node, names.targets)) {
        if (schema_.kind_of(target) == NodeKind::kName) {
          py::object name = py::getattr(target, names.id);
          (is_upper(names, name) ? constants : variables).append(name_and_line(names, name, line));
        }
      }
    }
  }
  return support::make_dict({{names.functions, functions},
                             {names.classes, classes},
                             {names.variables, variables},
                             {names.constants, constants}});
}

py::dict Inspection::call_graph() {
  const TreeIndex& found = index();
  py::dict graph;
  for (std::size_t i = 0; i < found.functions.size(); ++i) {
    const std::vector<std::uint32_t>& callees = found.metrics[i].callees;
    py::list called(callees.size());
    for (std::size_t j = 0; j < callees.size(); ++j) {
      PyList_SET_ITEM(called.ptr(), static_cast<Py_ssize_t>(j),
                      found.callee_names[callees[j]].inc_ref().ptr());
    }
    support::set_item(graph, py::getattr(found.functions[i].node, strings().name), called);
  }
  return graph;
}

py::dict Inspection::summary(py::handle path) {
  const Strings& names = strings();
  const std::vector<LineSpan>& spans = lines();
  py::list function_records = functions();
  py::list class_records = classes();
  py::list import_records = imports();
  py::list todo_records = todos();
  py::list complexity_records = complexity();
  LineCounts counts;
  {
    CodePoints text = view_of(source_);
    py::gil_scoped_release unlocked;
    counts = count_lines(text, spans);
  }

  py::object average = py::int_(0);
  if (!complexity_records.empty()) {
    long long total = 0;
    for (std::size_t i = 0; i < index().metrics.size(); ++i) {
      total += 1 + index().metrics[i].decision_points;
    }
    py::float_ mean(static_cast<double>(total) / static_cast<double>(complexity_records.size()));
    average = mean.attr(names.round)(1);
  }

  py::list function_entries;
  for (py::handle record : function_records) {
    py::dict entry = py::reinterpret_borrow<py::dict>(record);
    function_entries.append(
        name_and_line(names, support::dict_item(entry, names.name), support::dict_item(entry, names.line)));
  }
  py::list class_entries;
  for (py::handle record : class_records) {
    py::dict entry = py::reinterpret_borrow<py::dict>(record);
    py::dict brief =
        name_and_line(names, support::dict_item(entry, names.name), support::dict_item(entry, names.line));
    support::set_item(brief, names.methods, support::dict_item(entry, names.method_count));
    class_entries.append(brief);
  }
  py::list top_imports;
  for (py::handle record : import_records) {
    if (py::len(top_imports) == kTopImportCount) {
      break;
    }
    top_imports.append(support::dict_item(py::reinterpret_borrow<py::dict>(record), names.module));
  }

  return support::make_dict(
      {{names.path, path},
       {names.total_lines, py::int_(counts.total)},
       {names.code_lines, py::int_(counts.total - counts.comment - counts.blank)},
       {names.comment_lines, py::int_(counts.comment)},
       {names.blank_lines, py::int_(counts.blank)},
       {names.module_docstring, docstring_prefix(schema_, tree_, kModuleDocstringLimit)},
       {names.function_count, py::int_(py::len(function_records))},
       {names.class_count, py::int_(py::len(class_records))},
       {names.import_count, py::int_(py::len(import_records))},
       {names.todo_count, py::int_(py::len(todo_records))},
       {names.avg_complexity, average},
       {names.functions, function_entries},
       {names.classes, class_entries},
       {names.top_imports, top_imports}});
}

py::dict Inspection::everything(py::handle path) {
  const Strings& names = strings();
  return support::make_dict({{names.summary, summary(path)},
                             {names.functions, functions()},
                             {names.classes, classes()},
                             {names.imports, imports()},
                             {names.todos, todos()},
                             {names.complexity, complexity()},
                             {names.symbols, symbols()},
                             {names.call_graph, call_graph()}});
}

}  // namespace source_inspector
