#include "source_inspector/tree_dump.hpp"

#include "source_inspector/strings.hpp"
#include "source_inspector/tree.hpp"
#include "support/compat.hpp"

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace source_inspector {

namespace {

constexpr std::string_view kIndent = "  ";
// From 3.13 on, ast.dump leaves out fields that are None or empty lists (show_empty=False).
constexpr bool kOmitEmptyFields = PY_VERSION_HEX >= 0x030D0000;

struct Field {
  py::object name;
  py::object value;
};

// The text, counted in code points, until it reaches the limit.
class Output {
 public:
  explicit Output(std::size_t limit) : limit_(limit) {}

  bool full() const { return length_ >= limit_; }

  void ascii(std::string_view text) {
    utf8_ += text;
    length_ += text.size();
  }

  void text(py::handle value) {
    utf8_.append(support::utf8_view(value));
    length_ += static_cast<std::size_t>(PyUnicode_GET_LENGTH(value.ptr()));
  }

  void line_break(std::size_t level) {
    ascii("\n");
    for (std::size_t i = 0; i < level; ++i) {
      ascii(kIndent);
    }
  }

  py::object result() const {
    py::object whole =
        support::steal(PyUnicode_DecodeUTF8(utf8_.data(), static_cast<Py_ssize_t>(utf8_.size()), nullptr));
    return support::steal(PyUnicode_Substring(whole.ptr(), 0, static_cast<Py_ssize_t>(limit_)));
  }

 private:
  std::size_t limit_;
  std::size_t length_ = 0;
  std::string utf8_;
};

class TreeDump {
 public:
  TreeDump(py::handle tree, std::size_t limit) : output_(limit) {
    py::module_ ast = support::import("ast");
    keeps_none_ = py::make_tuple(ast.attr("Constant"), ast.attr("MatchSingleton"));
    if (!schema_.is_node(tree)) {
      throw py::type_error("expected AST, got '" + class_name(tree).cast<std::string>() + "'");
    }
    root_ = py::reinterpret_borrow<py::object>(tree);
  }

  py::object run() {
    write_value(root_, 0);
    while (!frames_.empty() && !output_.full()) {
      Frame& frame = frames_.back();
      if (frame.next == frame.size()) {
        output_.ascii(frame.is_list() ? "]" : ")");
        frames_.pop_back();
        continue;
      }
      std::size_t index = frame.next++;
      if (index > 0) {
        output_.ascii(",");
      }
      output_.line_break(frame.level);
      if (frame.is_list()) {
        py::object item = py::reinterpret_borrow<py::object>(PyList_GET_ITEM(frame.list.ptr(), index));
        write_value(item, frame.level);
      } else {
        output_.text(frame.fields[index].name);
        output_.ascii("=");
        py::object value = frame.fields[index].value;
        write_value(value, frame.level);
      }
    }
    return output_.result();
  }

 private:
  // A multi-line node or list whose items are still being written.
  struct Frame {
    std::vector<Field> fields;  // of a node
    py::object list;            // or of a list
    std::size_t next = 0;
    std::size_t level = 0;
    bool is_list() const { return static_cast<bool>(list); }
    std::size_t size() const {
      return is_list() ? static_cast<std::size_t>(PyList_GET_SIZE(list.ptr())) : fields.size();
    }
  };

  static py::str class_name(py::handle value) { return py::str(py::type::handle_of(value).attr("__name__")); }

  // The fields ast.dump shows, in order: present, and not None where the class's own
  // default is None (nor None or empty from 3.13 on, but for a Constant's value).
  std::vector<Field> shown_fields(py::handle node, bool first_only) {
    PyTypeObject* type = Py_TYPE(node.ptr());
    auto found = field_defaults_.find(type);
    if (found == field_defaults_.end()) {
      std::vector<std::pair<py::object, bool>> fields;
      py::object type_object = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(type));
      for (py::handle name : py::getattr(type_object, strings().fields)) {
        py::object default_value = support::optional_attr(type_object, name);
        fields.emplace_back(py::reinterpret_borrow<py::object>(name),
                            default_value && default_value.is_none());
      }
      found = field_defaults_.emplace(type, std::move(fields)).first;
      types_.push_back(type_object);
    }
    const bool keeps_none = support::check(PyObject_IsInstance(node.ptr(), keeps_none_.ptr())) == 1;
    std::vector<Field> shown;
    for (const auto& [name, defaults_to_none] : found->second) {
      py::object value = support::optional_attr(node, name);
      if (!value || (value.is_none() && defaults_to_none)) {
        continue;
      }
      if (kOmitEmptyFields && !keeps_none &&
          (value.is_none() || (PyList_Check(value.ptr()) && PyList_GET_SIZE(value.ptr()) == 0))) {
        continue;
      }
      shown.push_back({name, std::move(value)});
      if (first_only) {
        break;
      }
    }
    return shown;
  }

  // A value ast.dump writes on its node's line: no node fields, no list items.
  bool is_simple(py::handle value) {
    if (PyList_Check(value.ptr())) {
      return PyList_GET_SIZE(value.ptr()) == 0;
    }
    return !schema_.is_node(value) || shown_fields(value, true).empty();
  }

  // Writes a value that starts at `level`; a multi-line one leaves a frame for its items.
  void write_value(py::handle value, std::size_t level) {
    if (PyList_Check(value.ptr())) {
      if (PyList_GET_SIZE(value.ptr()) == 0) {
        output_.ascii("[]");
        return;
      }
      output_.ascii("[");
      frames_.push_back({{}, py::reinterpret_borrow<py::object>(value), 0, level + 1});
      return;
    }
    if (!schema_.is_node(value)) {
      output_.text(py::repr(value));
      return;
    }
    std::vector<Field> fields = shown_fields(value, false);
    output_.text(class_name(value));
    output_.ascii("(");
    bool single_line = fields.size() <= 3;
    for (std::size_t i = 0; i < fields.size() && single_line; ++i) {
      single_line = is_simple(fields[i].value);
    }
    if (!single_line) {
      frames_.push_back({std::move(fields), py::object(), 0, level + 1});
      return;
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (i > 0) {
        output_.ascii(", ");
      }
      output_.text(fields[i].name);
      output_.ascii("=");
      write_value(fields[i].value, level);  // simple: leaves no frame
    }
    output_.ascii(")");
  }

  Output output_;
  AstSchema schema_;
  py::tuple keeps_none_;
  py::object root_;
  std::vector<Frame> frames_;
  // Per node type: its fields, and whether the class's default for each is None.
  std::unordered_map<PyTypeObject*, std::vector<std::pair<py::object, bool>>> field_defaults_;
  std::vector<py::object> types_;  // keep the keys alive
};

}  // namespace

py::object dump_prefix(py::handle tree, std::size_t limit) { return TreeDump(tree, limit).run(); }

}  // namespace source_inspector
