// One analysis request: a tree and its source, walked once, with every record list built
// at most once and shared by the summary and the full analysis.
#pragma once

#include "source_inspector/node_text.hpp"
#include "source_inspector/tree.hpp"

#include <optional>

namespace source_inspector {

class Inspection {
 public:
  // `parts` (WalkParts) says what the walk gathers besides the node lists. `source` may
  // be None for the analyses that need no source text.
  Inspection(py::object tree, py::object source, unsigned parts);

  py::list functions();
  py::list classes();
  py::list imports();
  py::list todos();
  py::list complexity();
  py::dict symbols();
  py::dict call_graph();
  py::dict summary(py::handle path);
  // The "result" object of a full analysis.
  py::dict everything(py::handle path);

 private:
  const TreeIndex& index();
  const std::vector<LineSpan>& lines();
  // The text of each node (text_or_empty).
  py::list texts_of(py::handle nodes);
  py::object function_record(const FunctionNode& function);
  py::object class_record(py::handle node);

  py::object tree_;
  py::object source_;
  unsigned parts_;
  AstSchema schema_;
  SegmentReader segments_;
  std::optional<TreeIndex> index_;
  std::optional<std::vector<LineSpan>> lines_;
  std::optional<py::list> functions_, classes_, imports_, todos_, complexity_;
};

}  // namespace source_inspector
