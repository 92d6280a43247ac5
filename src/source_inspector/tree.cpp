#include "source_inspector/tree.hpp"

#include "source_inspector/strings.hpp"
#include "support/compat.hpp"

#include <iterator>
#include <unordered_set>

namespace source_inspector {

namespace {

// The node classes by kind, checked in this order.
constexpr std::pair<const char*, NodeKind> kNodeClasses[] = {
    {"Module", NodeKind::kModule},
    {"FunctionDef", NodeKind::kFunctionDef},
    {"AsyncFunctionDef", NodeKind::kAsyncFunctionDef},
    {"ClassDef", NodeKind::kClassDef},
    {"Import", NodeKind::kImport},
    {"ImportFrom", NodeKind::kImportFrom},
    {"Assign", NodeKind::kAssign},
    {"Expr", NodeKind::kExpr},
    {"Constant", NodeKind::kConstant},
    {"Name", NodeKind::kName},
    {"Attribute", NodeKind::kAttribute},
    {"Call", NodeKind::kCall},
    {"BoolOp", NodeKind::kBoolOp},
    {"If", NodeKind::kIf},
    {"While", NodeKind::kWhile},
    {"For", NodeKind::kFor},
    {"AsyncFor", NodeKind::kAsyncFor},
    {"ExceptHandler", NodeKind::kExceptHandler},
    {"Assert", NodeKind::kAssert},
    {"ListComp", NodeKind::kListComp},
    {"SetComp", NodeKind::kSetComp},
    {"DictComp", NodeKind::kDictComp},
    {"GeneratorExp", NodeKind::kGeneratorExp},
};

bool is_single_decision(NodeKind kind) { return kind >= NodeKind::kIf; }

py::object borrow(PyObject* object) { return py::reinterpret_borrow<py::object>(object); }

bool is_body_field(const py::object& field) {
  const py::object& body = strings().body;
  return field.ptr() == body.ptr() ||
         (PyUnicode_Check(field.ptr()) && PyUnicode_Compare(field.ptr(), body.ptr()) == 0);
}

// The name a call calls: `f` for f(...), `m` for x.m(...), nothing otherwise.
py::object called_name(AstSchema& schema, const Strings& names, py::handle call) {
  py::object callee = py::getattr(call, names.func);
  switch (schema.kind_of(callee)) {
    case NodeKind::kName:
      return py::getattr(callee, names.id);
    case NodeKind::kAttribute:
      return py::getattr(callee, names.attr);
    default:
      return py::object();
  }
}

}  // namespace

AstSchema::AstSchema() {
  py::module_ ast = support::import("ast");
  node_base_ = ast.attr("AST");
  classes_.reserve(std::size(kNodeClasses));
  for (const auto& [name, kind] : kNodeClasses) {
    classes_.emplace_back(ast.attr(name), kind);
  }
}

const AstSchema::NodeType& AstSchema::describe(PyTypeObject* type) {
  auto found = types_.find(type);
  if (found != types_.end()) {
    return found->second;
  }
  py::object type_object = borrow(reinterpret_cast<PyObject*>(type));
  NodeType described{type_object, NodeKind::kOther, {}};
  for (const auto& [node_class, kind] : classes_) {
    if (PyType_IsSubtype(type, reinterpret_cast<PyTypeObject*>(node_class.ptr()))) {
      described.kind = kind;
      break;
    }
  }
  if (PyType_IsSubtype(type, reinterpret_cast<PyTypeObject*>(node_base_.ptr()))) {
    for (py::handle field : py::getattr(type_object, strings().fields)) {
      described.fields.push_back(py::reinterpret_borrow<py::object>(field));
    }
  }
  return types_.emplace(type, std::move(described)).first->second;
}

NodeKind AstSchema::kind_of(py::handle node) { return describe(Py_TYPE(node.ptr())).kind; }

bool AstSchema::is_node(py::handle value) const {
  return PyType_IsSubtype(Py_TYPE(value.ptr()), reinterpret_cast<PyTypeObject*>(node_base_.ptr())) != 0;
}

const std::vector<py::object>& AstSchema::fields_of(py::handle node) {
  return describe(Py_TYPE(node.ptr())).fields;
}

namespace {

struct Pending {
  py::object node;
  std::int32_t function;  // nearest enclosing function, or -1
};

class TreeWalk {
 public:
  TreeWalk(AstSchema& schema, unsigned parts) : schema_(schema), names_(strings()), parts_(parts) {}

  TreeIndex run(py::handle tree) {
    // ast.walk reads the root's `_fields` from the object itself, so a root that is no
    // node fails (or not) the way it does there.
    std::vector<py::object> root_fields;
    const bool root_is_node = schema_.is_node(tree);
    if (!root_is_node) {
      for (py::handle field : py::getattr(tree, names_.fields)) {
        root_fields.push_back(py::reinterpret_borrow<py::object>(field));
      }
    }
    queue_.push_back({py::reinterpret_borrow<py::object>(tree), -1});
    for (std::size_t head = 0; head < queue_.size(); ++head) {
      py::object node = std::move(queue_[head].node);
      std::int32_t function = queue_[head].function;
      std::int32_t inner = visit(node, function);
      bool root = head == 0;
      push_children(node, root && !root_is_node ? root_fields : schema_.fields_of(node), inner);
      if (root) {
        for (std::size_t i = 1; i < queue_.size(); ++i) {
          index_.top_level.push_back(queue_[i].node);
        }
      }
    }
    for (FunctionNode& function : index_.functions) {
      function.is_method = class_members_.count(function.node.ptr()) != 0;
    }
    return std::move(index_);
  }

 private:
  // Records the node; returns the enclosing function for its children.
  std::int32_t visit(const py::object& node, std::int32_t function) {
    NodeKind kind = schema_.kind_of(node);
    switch (kind) {
      case NodeKind::kFunctionDef:
      case NodeKind::kAsyncFunctionDef:
        index_.functions.push_back({node, kind == NodeKind::kAsyncFunctionDef, false});
        index_.metrics.push_back({function, 0, {}});
        return static_cast<std::int32_t>(index_.functions.size() - 1);
      case NodeKind::kClassDef:
        index_.classes.push_back(node);
        break;
      case NodeKind::kImport:
      case NodeKind::kImportFrom:
        index_.imports.push_back(node);
        break;
      case NodeKind::kCall:
        if ((parts_ & kCallees) && function >= 0) {
          if (py::object name = called_name(schema_, names_, node)) {
            index_.metrics[static_cast<std::size_t>(function)].callees.push_back(callee_id(std::move(name)));
          }
        }
        break;
      case NodeKind::kBoolOp:
        if ((parts_ & kDecisionPoints) && function >= 0) {
          index_.metrics[static_cast<std::size_t>(function)].decision_points +=
              static_cast<std::int64_t>(py::len(py::getattr(node, names_.values))) - 1;
        }
        break;
      default:
        if ((parts_ & kDecisionPoints) && function >= 0 && is_single_decision(kind)) {
          index_.metrics[static_cast<std::size_t>(function)].decision_points += 1;
        }
        break;
    }
    return function;
  }

  // The id of a called name, assigned by its text.
  std::uint32_t callee_id(py::object name) {
    if (!PyUnicode_Check(name.ptr())) {
      throw py::type_error("called name must be a str, not " + support::type_name(name));
    }
    std::string_view text = support::utf8_view(name);
    auto [position, added] =
        callee_ids_.try_emplace(text, static_cast<std::uint32_t>(index_.callee_names.size()));
    if (added) {
      index_.callee_names.push_back(std::move(name));
      index_.callee_texts.push_back(text);
    }
    return position->second;
  }

  // Queues the node's children in the order of ast.iter_child_nodes: each field that is
  // a node, and the nodes in each field that is a list.
  void push_children(const py::object& node, const std::vector<py::object>& fields, std::int32_t function) {
    const bool class_body_owner = schema_.kind_of(node) == NodeKind::kClassDef;
    for (const py::object& field : fields) {
      py::object value = support::optional_attr(node, field);
      if (!value) {
        continue;
      }
      if (PyList_Check(value.ptr())) {
        const bool class_body = class_body_owner && is_body_field(field);
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(value.ptr()); ++i) {
          py::object item = borrow(PyList_GET_ITEM(value.ptr(), i));
          if (schema_.is_node(item)) {
            if (class_body) {
              class_members_.insert(item.ptr());
            }
            queue_.push_back({std::move(item), function});
          }
        }
      } else if (schema_.is_node(value)) {
        queue_.push_back({std::move(value), function});
      }
    }
  }

  AstSchema& schema_;
  const Strings& names_;
  unsigned parts_;
  TreeIndex index_;
  std::unordered_map<std::string_view, std::uint32_t> callee_ids_;
  std::vector<Pending> queue_;
  // Nodes that stand directly in some class's body (kept alive by the tree).
  std::unordered_set<PyObject*> class_members_;
};

}  // namespace

TreeIndex walk_tree(AstSchema& schema, py::handle tree, unsigned parts) {
  return TreeWalk(schema, parts).run(tree);
}

}  // namespace source_inspector
