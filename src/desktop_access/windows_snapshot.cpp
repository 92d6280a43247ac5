// The Windows snapshot: the window chosen by title or by the foreground handle, its
// UI Automation tree walked to the depth limit on a worker thread, one line per listed
// element and a ref for every enabled interactive one. Options: an element bound that
// ends the walk early, and states read from the elements' patterns.
#include "desktop_access/snapshot_text.hpp"
#include "desktop_access/windows.hpp"
#include "desktop_access/windows_common.hpp"
#include "support/keys.hpp"

#include <array>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace desktop_access::uia {

namespace {

using namespace pybind11::literals;
using support::Coroutine;

constexpr const char* kNoPackage =
    "Windows UI Automation not available. Install pywinauto: pip install pywinauto";
constexpr const char* kNoPackageHint = "This feature requires pywinauto installed.";

// kUiautomationCached walks a subtree that one cache request fetched: its reads are
// answered from the cache instead of by the window's process.
enum class Package { kPywinauto, kUiautomation, kUiautomationCached };

// An integer argument as a C++ integer, saturated at the ends of the range (a depth
// limit of 10**30 means no limit).
long long saturated_int(py::handle value, const char* name) {
  py::int_ number = args::to_int(value, name);
  int overflow = 0;
  const long long result = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (overflow != 0) {
    return overflow > 0 ? std::numeric_limits<long long>::max() : std::numeric_limits<long long>::min();
  }
  if (result == -1 && PyErr_Occurred()) {
    throw py::error_already_set();
  }
  return result;
}

// The snapshot options as the walk uses them.
struct WalkOptions {
  bool states = false;
  std::optional<std::size_t> max_elements;  // refs to make before the walk stops
};

// The state readings of one element; what could not be read keeps its default.
struct StateReadings {
  long long toggle = -1;     // ToggleState: 0 off, 1 on, 2 indeterminate
  bool selected = false;     // SelectionItem IsSelected
  long long expansion = -1;  // ExpandCollapseState: 0 collapsed, 1 expanded, 2 partly, 3 leaf
  bool focused = false;      // HasKeyboardFocus
};

// Only the patterns a type may carry are asked for: each ask is a cross-process call.
bool may_toggle(std::string_view type) {
  return type == "CheckBox" || type == "Button" || type == "MenuItem";
}

bool may_be_selected(std::string_view type) {
  return type == "RadioButton" || type == "ListItem" || type == "TabItem" || type == "TreeItem" ||
         type == "DataItem";
}

bool may_expand(std::string_view type) {
  return type == "ComboBox" || type == "TreeItem" || type == "MenuItem" || type == "SplitButton";
}

std::vector<std::string_view> state_words(std::string_view type, bool enabled, const StateReadings& read) {
  std::vector<std::string_view> words;
  if (!enabled) {
    words.emplace_back("disabled");
  }
  if (read.toggle == 1) {
    words.emplace_back(type == "Button" ? "pressed" : "checked");
  } else if (read.toggle == 2) {
    words.emplace_back("mixed");
  }
  if (read.selected) {
    words.emplace_back("selected");
  }
  if (read.expansion == 0) {
    words.emplace_back("collapsed");
  } else if (read.expansion == 1 || read.expansion == 2) {
    words.emplace_back("expanded");
  }
  if (read.focused) {
    words.emplace_back("focused");
  }
  return words;
}

// What a walker reads of one element, with the defaults of what cannot be read.
struct ElementProperties {
  py::str type;
  py::str name;
  py::str auto_id;
  py::str value;
  py::object enabled = py::bool_(true);
};

bool has_value_interface(std::string_view type) {
  return type == "Edit" || type == "ComboBox" || type == "Document";
}

enum class State { kToggle, kSelected, kExpansion, kFocused };

// The uiautomation property ids under which a cache holds the states, in the order of State.
constexpr const char* kStatePropertyIds[] = {"ToggleToggleStateProperty", "SelectionItemIsSelectedProperty",
                                             "ExpandCollapseExpandCollapseStateProperty",
                                             "HasKeyboardFocusProperty"};

// Where a pattern's state is read: pywinauto's pattern interface and its property,
// uiautomation's pattern getter and its property.
struct PatternNames {
  PatternNames(const char* interface, const char* interface_property, const char* pattern_getter,
               const char* pattern_property)
      : pywinauto_interface(interface),
        pywinauto_property(interface_property),
        getter(pattern_getter),
        property(pattern_property) {}
  support::Interned pywinauto_interface, pywinauto_property, getter, property;
};

// The attribute names and record keys of a walk, interned: lookups by an interned name
// hit the runtime's attribute caches instead of making a string each time.
struct Names {
  support::Interned friendly_class_name{"friendly_class_name"};
  support::Interned window_text{"window_text"};
  support::Interned element_info{"element_info"};
  support::Interned automation_id{"automation_id"};
  support::Interned enabled{"enabled"};
  support::Interned iface_value{"iface_value"};
  support::Interned current_value{"CurrentValue"};
  support::Interned children{"children"};
  support::Interned control_type_name{"ControlTypeName"};
  support::Interned name_property{"Name"};
  support::Interned automation_id_property{"AutomationId"};
  support::Interned is_enabled{"IsEnabled"};
  support::Interned get_value_pattern{"GetValuePattern"};
  support::Interned value_property{"Value"};
  support::Interned get_children{"GetChildren"};
  support::Interned ref_counter{"_ref_counter"};
  // states
  PatternNames patterns[3] = {  // toggle, selection, expansion: in the order of State
      {"iface_toggle", "CurrentToggleState", "GetTogglePattern", "ToggleState"},
      {"iface_selection_item", "CurrentIsSelected", "GetSelectionItemPattern", "IsSelected"},
      {"iface_expand_collapse", "CurrentExpandCollapseState", "GetExpandCollapsePattern",
       "ExpandCollapseState"}};
  support::Interned has_keyboard_focus{"has_keyboard_focus"};
  support::Interned has_keyboard_focus_property{"HasKeyboardFocus"};
  // cached reads
  support::Interned get_cached_children{"GetCachedChildren"};
  support::Interned get_cached_property_value{"GetCachedPropertyValue"};
  support::Interned cached_control_type_name{"CachedControlTypeName"};
  support::Interned cached_name{"CachedName"};
  support::Interned cached_automation_id{"CachedAutomationId"};
  support::Interned cached_is_enabled{"CachedIsEnabled"};
  support::Interned control_suffix{"Control"};
  // element record keys
  support::Interned element{"element"};
  support::Interned control_type{"control_type"};
  support::Interned name{"name"};
  support::Interned auto_id{"auto_id"};
  support::Interned value{"value"};
  support::Interned backend{"backend"};
};

py::str without(const py::str& text, const py::str& part) {
  return support::steal<py::str>(PyUnicode_Replace(text.ptr(), part.ptr(), py::str().ptr(), -1));
}

// One walk of an element's subtree, depth first in UI Automation order, without
// recursion on the C stack. Elements whose children cannot be listed end their branch;
// an element whose properties cannot be read is skipped with its subtree. With an
// element bound the walk stops before the first element after the last ref it may
// make, and says so in a last line.
class TreeWalk {
 public:
  TreeWalk(py::object self, py::handle lines, long long max_depth, Package package, WalkOptions options)
      : self_(std::move(self)),
        lines_(py::reinterpret_borrow<py::object>(lines)),
        ref_map_(self_.attr("_ref_map")),
        counter_(args::to_long(self_.attr("_ref_counter"), "_ref_counter")),
        interactive_types_(support::import(kModuleName).attr("INTERACTIVE_TYPES")),
        context_types_(support::import(kModuleName).attr("CONTEXT_TYPES")),
        backend_(package == Package::kPywinauto ? "pywinauto" : "uiautomation"),
        max_depth_(max_depth),
        package_(package),
        options_(options),
        record_template_(make_record_template()) {
    if (package == Package::kUiautomationCached) {
      py::object ids = support::import("uiautomation").attr("PropertyId");
      value_id_ = ids.attr("ValueValueProperty");
      for (std::size_t i = 0; i < std::size(kStatePropertyIds); ++i) {
        state_ids_[i] = ids.attr(kStatePropertyIds[i]);
      }
    }
  }

  // Lists the children of `root`, which sit at `depth`, and everything below them.
  void run(py::handle root, long long depth) {
    if (depth <= max_depth_) {
      descend(root, depth);
    }
    while (!pending_.empty()) {
      Level& level = pending_.back();
      if (level.next == level.children.size()) {
        pending_.pop_back();
        continue;
      }
      if (options_.max_elements && refs_made_ >= *options_.max_elements) {
        append(support::from_utf8(more_elements_line(std::nullopt)));
        return;
      }
      py::object child = level.children[level.next++];
      const long long child_depth = level.depth;
      if (visit(child, child_depth) && child_depth < max_depth_) {
        descend(child, child_depth + 1);
      }
    }
  }

 private:
  struct Level {
    py::list children;
    std::size_t next = 0;
    long long depth = 0;
  };

  void descend(py::handle element, long long depth) {
    py::list children;
    const py::str& method = package_ == Package::kPywinauto      ? names_.children
                            : package_ == Package::kUiautomation ? names_.get_children
                                                                 : names_.get_cached_children;
    const bool listed = attempted([&] {
      children = py::list(call_method(element, method));
      return true;
    });
    if (listed && !children.empty()) {
      pending_.push_back(Level{std::move(children), 0, depth});
    }
  }

  ElementProperties read_pywinauto(py::handle element) const {
    ElementProperties read;
    read.type = text_or_empty(call_method(element, names_.friendly_class_name));
    read.name = text_or_empty(call_method(element, names_.window_text));
    attempted([&] {
      py::object info = element.attr(names_.element_info);
      read.auto_id = text_or_empty(info.attr(names_.automation_id));
      read.enabled = info.attr(names_.enabled);
      return true;
    });
    if (has_value_interface(support::Utf8(read.type).view())) {
      attempted([&] {
        py::object value_interface = element.attr(names_.iface_value);
        if (args::to_bool(value_interface)) {
          read.value = text_or_empty(value_interface.attr(names_.current_value));
        }
        return true;
      });
    }
    return read;
  }

  // A uiautomation control's type, name, automation id and enabled state, read through
  // the given attribute names (the current or the cached properties).
  ElementProperties read_control(py::handle element, const py::str& type, const py::str& name,
                                 const py::str& auto_id, const py::str& enabled) const {
    ElementProperties read;
    read.type = without(text_or_empty(element.attr(type)), names_.control_suffix);
    read.name = text_or_empty(element.attr(name));
    read.auto_id = text_or_empty(element.attr(auto_id));
    read.enabled = element.attr(enabled);
    return read;
  }

  ElementProperties read_uiautomation(py::handle element) const {
    ElementProperties read = read_control(element, names_.control_type_name, names_.name_property,
                                          names_.automation_id_property, names_.is_enabled);
    attempted([&] {
      py::object pattern = call_method(element, names_.get_value_pattern);
      if (args::to_bool(pattern)) {
        read.value = text_or_empty(pattern.attr(names_.value_property));
      }
      return true;
    });
    return read;
  }

  py::object cached_value(py::handle element, const py::object& property_id) const {
    return element.attr(names_.get_cached_property_value)(property_id);
  }

  // The same reads as read_uiautomation, answered by the cache. A property an element
  // does not support is cached as its default (the empty text for a value).
  ElementProperties read_uiautomation_cached(py::handle element) const {
    ElementProperties read = read_control(element, names_.cached_control_type_name, names_.cached_name,
                                          names_.cached_automation_id, names_.cached_is_enabled);
    attempted([&] {
      py::object value = cached_value(element, value_id_);
      if (PyUnicode_Check(value.ptr())) {
        read.value = std::move(value);
      }
      return true;
    });
    return read;
  }

  ElementProperties read_properties(py::handle element) const {
    switch (package_) {
      case Package::kPywinauto:
        return read_pywinauto(element);
      case Package::kUiautomation:
        return read_uiautomation(element);
      case Package::kUiautomationCached:
        break;
    }
    return read_uiautomation_cached(element);
  }

  // One state's raw reading: the pattern property (pywinauto's interfaces raise when
  // missing, uiautomation's getters answer None) or the cached property, which holds
  // its default (off, not selected, leaf node) for a missing pattern.
  py::object state_reading(py::handle element, State state) const {
    if (package_ == Package::kUiautomationCached) {
      return cached_value(element, state_ids_[static_cast<std::size_t>(state)]);
    }
    const bool pywinauto = package_ == Package::kPywinauto;
    if (state == State::kFocused) {
      return pywinauto ? call_method(element, names_.has_keyboard_focus)
                       : element.attr(names_.has_keyboard_focus_property);
    }
    const PatternNames& names = names_.patterns[static_cast<std::size_t>(state)];
    py::object pattern =
        pywinauto ? element.attr(names.pywinauto_interface) : call_method(element, names.getter);
    return args::to_bool(pattern) ? pattern.attr(pywinauto ? names.pywinauto_property : names.property)
                                  : py::object();
  }

  // The states an element reports, each reading guarded on its own: a missing pattern
  // or an odd value leaves that state out, never the element. Only the patterns its
  // type may carry are asked for.
  StateReadings read_states(py::handle element, std::string_view type) const {
    StateReadings read;
    const auto reading = [&](State state, auto&& take) {
      attempted([&] {
        if (py::object value = state_reading(element, state)) {
          take(value);
        }
        return true;
      });
    };
    if (may_toggle(type)) {
      reading(State::kToggle,
              [&](const py::object& value) { read.toggle = args::to_long(value, "ToggleState"); });
    }
    if (may_be_selected(type)) {
      reading(State::kSelected, [&](const py::object& value) { read.selected = args::to_bool(value); });
    }
    if (may_expand(type)) {
      reading(State::kExpansion,
              [&](const py::object& value) { read.expansion = args::to_long(value, "ExpandCollapseState"); });
    }
    reading(State::kFocused, [&](const py::object& value) { read.focused = args::to_bool(value); });
    return read;
  }

  // The element's line and ref; false when it failed (its subtree is then skipped).
  bool visit(py::handle element, long long depth) {
    try {
      render(read_properties(element), element, depth);
      return true;
    } catch (py::error_already_set& error) {
      support::rethrow_unless_ordinary(error);
      log_skipped(support::exception_text(error.value()));
    } catch (py::builtin_exception& error) {
      log_skipped(py::str(error.what()));
    }
    return false;
  }

  void log_skipped(const py::str& error) const {
    if (package_ == Package::kPywinauto) {
      kLog.debug([&] { return py::str("Error processing element: {}").format(error); });
    }
  }

  void render(const ElementProperties& read, py::handle element, long long depth) {
    const bool interactive = contains(interactive_types_, read.type);
    const bool context = contains(context_types_, read.type);
    const bool enabled = interactive && args::to_bool(read.enabled);
    std::string line;
    append_indent(line, depth);
    // Disabled interactive elements are listed only with their states, never with a ref.
    if (enabled || (interactive && options_.states)) {
      const support::Utf8 raw_type(read.type), name(read.name), value(read.value), auto_id(read.auto_id);
      const std::string type = python_lower(raw_type.view());
      std::optional<long long> ref;
      if (enabled) {
        ref = ++counter_;
        ++refs_made_;
        py::int_ key(*ref);
        self_.attr(names_.ref_counter) = key;
        ref_map_[key] = record(element, read);
      }
      append_element(line, ref, type, name.view(), value.view());
      if (!auto_id.view().empty() && auto_id.view() != name.view()) {
        line.append(" (id: ").append(auto_id.view()).append(")");
      }
      if (options_.states) {
        append_states(line, state_words(raw_type.view(), enabled, read_states(element, raw_type.view())));
      }
      append(support::from_utf8(line));
    } else if (context && is_nonblank(read.name)) {
      append_context(line, python_lower(support::Utf8(read.type).view()), support::Utf8(read.name).view());
      append(support::from_utf8(line));
    }
  }

  void append(const py::str& line) {
    if (PyList_CheckExact(lines_.ptr())) {
      support::check(PyList_Append(lines_.ptr(), line.ptr()));
    } else {
      lines_.attr("append")(line);
    }
  }

  // A new element record, keys in their order; copied from a template that holds the
  // keys already, so that filling it never resizes it.
  py::dict record(py::handle element, const ElementProperties& read) const {
    auto record = support::steal<py::dict>(PyDict_Copy(record_template_.ptr()));
    support::set_item(record, names_.element, element);
    support::set_item(record, names_.control_type, read.type);
    support::set_item(record, names_.name, read.name);
    support::set_item(record, names_.auto_id, read.auto_id);
    support::set_item(record, names_.value, read.value);
    return record;
  }

  py::dict make_record_template() const {
    py::dict record;
    for (const py::str* key :
         {&names_.element, &names_.control_type, &names_.name, &names_.auto_id, &names_.value}) {
      support::set_item(record, *key, py::none());
    }
    support::set_item(record, names_.backend, backend_);
    return record;
  }

  const Names& names_ = support::interned<Names>();
  py::object self_;
  py::object lines_;
  py::object ref_map_;
  long long counter_;
  py::object interactive_types_;
  py::object context_types_;
  py::str backend_;
  long long max_depth_;
  Package package_;
  WalkOptions options_;
  std::size_t refs_made_ = 0;
  py::object value_id_;  // with a cache: the property ids read from it
  std::array<py::object, std::size(kStatePropertyIds)> state_ids_;
  py::dict record_template_;
  std::vector<Level> pending_;
};

void walk(py::object self, py::object element, py::object lines, py::object depth, py::object max_depth,
          Package package, const WalkOptions& options) {
  TreeWalk(std::move(self), lines, saturated_int(max_depth, "max_depth"), package, options)
      .run(element, saturated_int(depth, "depth"));
}

// The header line and the empty line under it.
py::list first_lines(py::str header) {
  py::list lines;
  lines.append(std::move(header));
  lines.append(py::str());
  return lines;
}

py::dict snapshot_result(py::handle self, py::handle window_name, const py::list& lines) {
  py::str snapshot = py::str("\n").attr("join")(lines);
  return py::dict("success"_a = true, "window"_a = window_name, "snapshot"_a = snapshot,
                  "element_count"_a = self.attr("_ref_counter"), "hint"_a = kRefHint);
}

py::str name_or_unknown(py::handle name) {
  py::str text = text_or_empty(name);
  return py::len(text) == 0 ? py::str("Unknown") : text;
}

py::dict snapshot_pywinauto(py::object self, py::object window_title, py::object max_depth, py::object states,
                            py::object max_elements) {
  py::object desktop = pywinauto_desktop();
  const bool titled = has_title(window_title);
  py::object windows;
  if (titled) {
    windows =
        desktop.attr("windows")("title_re"_a = containing_pattern(window_title), "visible_only"_a = true);
  } else {
    py::object handle = foreground_window();
    if (!args::to_bool(handle)) {
      return failure("No foreground window found");
    }
    windows = desktop.attr("windows")("handle"_a = handle);
  }
  if (!args::to_bool(windows)) {
    return failure(titled ? py::str("No window found matching: {}").format(window_title)
                          : py::str("No window found"));
  }
  py::object wrapper = windows[py::int_(0)].attr("wrapper_object")();
  replace_ref_map(self, py::dict(), 0);  // the window is found: numbering starts over
  py::str name = name_or_unknown(wrapper.attr("window_text")());
  py::str class_name = text_or_empty(wrapper.attr("friendly_class_name")());
  py::list lines = first_lines(py::str("Window: {} [{}]").format(name, class_name));
  self.attr("_walk_element_pywinauto")(wrapper, lines, "depth"_a = 0, "max_depth"_a = max_depth,
                                       **given_options(states, max_elements));
  return snapshot_result(self, name, lines);
}

// The window with its whole subtree's properties fetched by one cache request, where
// the package offers cache requests (the plain walk asks the window's process several
// times per element); empty when it does not, or when the request fails.
py::object cached_subtree(py::handle automation, py::handle window, bool states) {
  py::object cached;
  attempted([&] {
    if (!py::hasattr(automation, "CacheRequest") || !py::hasattr(window, "BuildUpdatedCache")) {
      return false;
    }
    py::object ids = automation.attr("PropertyId");
    py::object request = automation.attr("CacheRequest")();
    request.attr("TreeScope") = automation.attr("TreeScope").attr("Subtree");
    py::object add = request.attr("AddProperty");
    for (const char* id : {"ControlTypeProperty", "NameProperty", "AutomationIdProperty", "IsEnabledProperty",
                           "ValueValueProperty"}) {
      add(ids.attr(id));
    }
    if (states) {
      for (const char* id : kStatePropertyIds) {
        add(ids.attr(id));
      }
    }
    cached = window.attr("BuildUpdatedCache")(request);
    return true;
  });
  return cached && args::to_bool(cached) ? cached : py::object();
}

py::dict snapshot_uiautomation(py::object self, py::object window_title, py::object max_depth,
                               py::object states, py::object max_elements) {
  py::module_ automation = support::import("uiautomation");
  py::object window = has_title(window_title)
                          ? automation.attr("WindowControl")("searchDepth"_a = 1, "Name"_a = window_title)
                          : automation.attr("GetForegroundControl")();
  if (!args::to_bool(window) || !args::to_bool(window.attr("Exists")(0))) {
    return failure("No window found");
  }
  replace_ref_map(self, py::dict(), 0);  // the window is found: numbering starts over
  py::str name = name_or_unknown(window.attr("Name"));
  py::list lines = first_lines(py::str("Window: {}").format(name));
  py::object cached = cached_subtree(automation, window, args::to_bool(states));
  self.attr(cached ? "_walk_cached_uiautomation" : "_walk_element_uiautomation")(
      cached ? cached : window, lines, "depth"_a = 0, "max_depth"_a = max_depth,
      **given_options(states, max_elements));
  return snapshot_result(self, name, lines);
}

py::object snapshot_sync(py::object self, py::object window_title, py::object max_depth, py::object states,
                         py::object max_elements) {
  const char* method = flag(self, "_pywinauto_available") ? "_snapshot_pywinauto" : "_snapshot_uiautomation";
  return self.attr(method)(window_title, max_depth, **given_options(states, max_elements));
}

Coroutine snapshot_windows(py::object self, py::object window_title, py::object max_depth, py::object states,
                           py::object max_elements) {
  if (!flag(self, "_uia_available")) {
    co_return py::dict("success"_a = false, "error"_a = kNoPackage, "hint"_a = kNoPackageHint);
  }
  try {
    py::object sync = self.attr("_snapshot_sync");
    if (py::dict given = given_options(states, max_elements); !given.empty()) {
      sync = support::import("functools").attr("partial")(sync, **given);
    }
    co_return co_await in_default_executor(sync, window_title, max_depth);
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    py::str text = support::exception_text(error.value());
    kLog.error([&] { return py::str("Desktop snapshot failed: {}").format(text); });
    co_return failure(text);
  }
}

template <Package kPackage>
void register_walker(support::PlainClass& methods, const char* name) {
  methods.def(
      name,
      [](py::object self, py::object element, py::object lines, py::object depth, py::object max_depth,
         py::object states, py::object max_elements) {
        walk(self, element, lines, depth, max_depth, kPackage,
             WalkOptions{args::to_bool(states), element_bound(max_elements)});
      },
      py::arg("element"), py::arg("lines"), py::arg("depth"), py::arg("max_depth"), py::kw_only(),
      py::arg("states") = false, py::arg("max_elements") = py::none());
}

}  // namespace

void register_snapshot(support::PlainClass& methods) {
  const py::arg title("window_title"), depth("max_depth");
  const py::arg_v states = py::arg("states") = false, bound = py::arg("max_elements") = py::none();
  methods.def_coroutine("_snapshot_windows", &snapshot_windows, title, depth, py::kw_only(), states, bound)
      .def("_snapshot_sync", &snapshot_sync, title, depth, py::kw_only(), states, bound)
      .def("_snapshot_pywinauto", &snapshot_pywinauto, title, depth, py::kw_only(), states, bound)
      .def("_snapshot_uiautomation", &snapshot_uiautomation, title, depth, py::kw_only(), states, bound);
  register_walker<Package::kPywinauto>(methods, "_walk_element_pywinauto");
  register_walker<Package::kUiautomation>(methods, "_walk_element_uiautomation");
  register_walker<Package::kUiautomationCached>(methods, "_walk_cached_uiautomation");
}

}  // namespace desktop_access::uia
