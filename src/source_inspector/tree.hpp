// Reading the runtime's syntax tree: the node classes of its ast module, and the one
// breadth-first walk (the order of ast.walk) that indexes what every analysis needs.
#pragma once

#include "source_inspector/metrics.hpp"
#include "support/python.hpp"

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace source_inspector {

// The node classes the analyses look at; everything else is Other.
enum class NodeKind : std::uint8_t {
  Other,
  Module,
  FunctionDef,
  AsyncFunctionDef,
  ClassDef,
  Import,
  ImportFrom,
  Assign,
  Expr,
  Constant,
  Name,
  Attribute,
  Call,
  BoolOp,
  // Each of these adds one decision point to the enclosing functions' complexity.
  If,
  While,
  For,
  AsyncFor,
  ExceptHandler,
  Assert,
  ListComp,
  SetComp,
  DictComp,
  GeneratorExp,
};

inline bool is_function(NodeKind kind) {
  return kind == NodeKind::FunctionDef || kind == NodeKind::AsyncFunctionDef;
}

// The ast module's classes, looked up when an analysis starts, and what each node type
// seen so far is: its kind (by isinstance, so subclasses count) and its `_fields`.
class AstSchema {
 public:
  AstSchema();

  NodeKind kind_of(py::handle node);
  // isinstance(value, ast.AST)
  bool is_node(py::handle value) const;
  // The field names whose values ast.iter_child_nodes looks at, in order.
  const std::vector<py::object>& fields_of(py::handle node);

 private:
  struct NodeType {
    py::object type;  // keeps the key alive
    NodeKind kind;
    std::vector<py::object> fields;
  };
  const NodeType& describe(PyTypeObject* type);

  py::object node_base_;
  std::vector<std::pair<py::object, NodeKind>> classes_;
  std::unordered_map<PyTypeObject*, NodeType> types_;
};

// Which analyses a walk serves beyond listing functions, classes and imports.
enum WalkParts : unsigned {
  DECISION_POINTS = 1U << 0,
  CALLEES = 1U << 1,
};

struct FunctionNode {
  py::object node;
  bool is_async;
  bool is_method;  // an element of some class's body
};

// What one walk of a tree found, each list in walk order.
struct TreeIndex {
  std::vector<FunctionNode> functions;
  std::vector<FunctionMetrics> metrics;  // one per function
  std::vector<py::object> classes;
  std::vector<py::object> imports;
  std::vector<py::object> top_level;  // ast.iter_child_nodes(tree)
  // Called names by id, and their UTF-8 texts (owned by the name objects).
  std::vector<py::object> callee_names;
  std::vector<std::string_view> callee_texts;
};

// Walks the tree once, iteratively and breadth first, as ast.walk does. Raises what
// ast.walk raises for a root that is no node (AttributeError for its `_fields`).
TreeIndex walk_tree(AstSchema& schema, py::handle tree, unsigned parts);

}  // namespace source_inspector
