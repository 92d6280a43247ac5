// Text taken from nodes, exactly as the runtime's ast module gives it: source segments
// (ast.get_source_segment) and cleaned docstrings (ast.get_docstring).
#pragma once

#include "source_inspector/segments.hpp"
#include "source_inspector/text.hpp"
#include "source_inspector/tree.hpp"

#include <optional>
#include <string>

namespace source_inspector {

// The code points of a str (which it must be), valid while the str lives.
CodePoints view_of(py::handle text);

class SegmentReader {
 public:
  explicit SegmentReader(py::object source);

  // ast.get_source_segment(source, node): the node's text, or None without a position.
  py::object segment(py::handle node);
  // The text of an optional node: "" for None and where the segment is None.
  py::object text_or_empty(py::handle node);

 private:
  const SourceLines& lines();

  py::object source_;
  std::optional<SourceLines> lines_;
};

// (ast.get_docstring(node) or "")[:limit]
py::object docstring_prefix(AstSchema& schema, py::handle node, std::size_t limit);

}  // namespace source_inspector
