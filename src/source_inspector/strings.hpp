// The interned strings the analyses use as attribute names, dictionary keys and fixed
// values, created once per interpreter.
#pragma once

#include "source_inspector/text.hpp"
#include "support/keys.hpp"

#include <iterator>
#include <string>

namespace source_inspector {

struct Strings {
  // node attributes and methods
  support::Interned fields{"_fields"};
  support::Interned body{"body"};
  support::Interned name{"name"};
  support::Interned lineno{"lineno"};
  support::Interned end_lineno{"end_lineno"};
  support::Interned col_offset{"col_offset"};
  support::Interned end_col_offset{"end_col_offset"};
  support::Interned args{"args"};
  support::Interned arg{"arg"};
  support::Interned annotation{"annotation"};
  support::Interned returns{"returns"};
  support::Interned decorator_list{"decorator_list"};
  support::Interned bases{"bases"};
  support::Interned targets{"targets"};
  support::Interned id{"id"};
  support::Interned attr{"attr"};
  support::Interned func{"func"};
  support::Interned values{"values"};
  support::Interned value{"value"};
  support::Interned names{"names"};
  support::Interned asname{"asname"};
  support::Interned module{"module"};
  support::Interned isupper{"isupper"};
  support::Interned upper{"upper"};
  support::Interned round{"__round__"};
  // record keys
  support::Interned type{"type"};
  support::Interned line{"line"};
  support::Interned end_line{"end_line"};
  support::Interned return_type{"return_type"};
  support::Interned decorators{"decorators"};
  support::Interned docstring{"docstring"};
  support::Interned is_method{"is_method"};
  support::Interned methods{"methods"};
  support::Interned attributes{"attributes"};
  support::Interned method_count{"method_count"};
  support::Interned alias{"alias"};
  support::Interned text{"text"};
  support::Interned complexity{"complexity"};
  support::Interned rating{"rating"};
  support::Interned functions{"functions"};
  support::Interned classes{"classes"};
  support::Interned variables{"variables"};
  support::Interned constants{"constants"};
  support::Interned path{"path"};
  support::Interned total_lines{"total_lines"};
  support::Interned code_lines{"code_lines"};
  support::Interned comment_lines{"comment_lines"};
  support::Interned blank_lines{"blank_lines"};
  support::Interned module_docstring{"module_docstring"};
  support::Interned function_count{"function_count"};
  support::Interned class_count{"class_count"};
  support::Interned import_count{"import_count"};
  support::Interned todo_count{"todo_count"};
  support::Interned avg_complexity{"avg_complexity"};
  support::Interned top_imports{"top_imports"};
  support::Interned summary{"summary"};
  support::Interned imports{"imports"};
  support::Interned todos{"todos"};
  support::Interned symbols{"symbols"};
  support::Interned call_graph{"call_graph"};
  support::Interned success{"success"};
  support::Interned result{"result"};
  support::Interned error{"error"};
  support::Interned ast{"ast"};
  support::Interned action{"action"};
  // fixed values
  support::Interned empty{""};
  support::Interned function{"function"};
  support::Interned async_function{"async_function"};
  support::Interned import_{"import"};
  support::Interned from_import{"from_import"};
  support::Interned goodbye{"goodbye"};
  support::Interned quit{"quit"};
  support::Interned analyze{"analyze"};
  py::object ratings[4];       // "A", "B", "C", "F"
  py::object todo_markers[6];  // kTodoMarkers

  Strings() {
    for (std::size_t i = 0; i < std::size(ratings); ++i) {
      ratings[i] = support::intern(std::string(1, "ABCF"[i]).c_str());
    }
    for (std::size_t i = 0; i < std::size(kTodoMarkers); ++i) {
      todo_markers[i] = support::intern(std::string(kTodoMarkers[i]).c_str());
    }
  }

  // The rating's string for a complexity score.
  const py::object& rating_of(long long score) const {
    return ratings[score <= 5 ? 0 : score <= 10 ? 1 : score <= 20 ? 2 : 3];
  }
};

// The interpreter's one set (made on first use, with the GIL held).
inline const Strings& strings() { return support::interned<Strings>(); }

}  // namespace source_inspector
