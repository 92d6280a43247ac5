// The interned strings the analyses use as attribute names, dictionary keys and fixed
// values, created once per interpreter.
#pragma once

#include "support/python.hpp"

namespace source_inspector {

// X(member, text)
#define SOURCE_INSPECTOR_STRINGS(X)                                                                          \
  /* node attributes and methods */                                                                          \
  X(fields, "_fields")                                                                                       \
  X(body, "body") X(name, "name") X(lineno, "lineno") X(end_lineno, "end_lineno")                            \
      X(col_offset, "col_offset") X(end_col_offset, "end_col_offset") X(args, "args") X(arg, "arg")          \
          X(annotation, "annotation") X(returns, "returns") X(decorator_list, "decorator_list")              \
              X(bases, "bases") X(targets, "targets") X(id, "id") X(attr, "attr") X(func, "func")            \
                  X(values, "values") X(value, "value") X(names, "names") X(asname, "asname")                \
                      X(module, "module") X(isupper, "isupper") X(upper, "upper")                            \
                          X(round, "__round__") /* record keys */                                            \
      X(type, "type") X(line, "line") X(end_line, "end_line") X(return_type, "return_type")                  \
          X(decorators, "decorators") X(docstring, "docstring") X(is_method, "is_method")                    \
              X(methods, "methods") X(attributes, "attributes") X(method_count, "method_count")              \
                  X(alias, "alias") X(text, "text") X(complexity, "complexity") X(rating, "rating")          \
                      X(functions, "functions") X(classes, "classes") X(variables, "variables")              \
                          X(constants, "constants") X(path, "path") X(total_lines, "total_lines")            \
                              X(code_lines, "code_lines") X(comment_lines, "comment_lines")                  \
                                  X(blank_lines, "blank_lines") X(module_docstring, "module_docstring")      \
                                      X(function_count, "function_count") X(class_count, "class_count")      \
                                          X(import_count, "import_count") X(todo_count, "todo_count")        \
                                              X(avg_complexity, "avg_complexity")                            \
                                                  X(top_imports, "top_imports") X(summary, "summary")        \
                                                      X(imports, "imports") X(todos, "todos")                \
                                                          X(symbols, "symbols") X(call_graph, "call_graph")  \
                                                              X(success, "success") X(result, "result")      \
                                                                  X(error, "error") X(ast, "ast")            \
                                                                      X(action, "action") /* fixed values */ \
      X(empty, "") X(function, "function") X(async_function, "async_function") X(import_, "import")          \
          X(from_import, "from_import") X(goodbye, "goodbye") X(quit, "quit") X(analyze, "analyze")

struct Strings {
#define SOURCE_INSPECTOR_DECLARE(member, text) py::object member;
  SOURCE_INSPECTOR_STRINGS(SOURCE_INSPECTOR_DECLARE)
#undef SOURCE_INSPECTOR_DECLARE
  py::object ratings[4];       // "A", "B", "C", "F"
  py::object todo_markers[6];  // TODO_MARKERS

  // The rating's string for a complexity score.
  const py::object& rating_of(long long score) const;
};

// The interpreter's one set (made on first use, with the GIL held).
const Strings& strings();

}  // namespace source_inspector
