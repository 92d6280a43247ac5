#include "macos.hpp"

#include "macos_scripts.hpp"
#include "macos_tree.hpp"
#include "process.hpp"
#include "support/args.hpp"

#include <set>
#include <string>
#include <string_view>

namespace desktop_access {

namespace {

namespace args = support::args;
namespace scripts = macos_scripts;
using support::Coroutine;

// Time limits of the scripts, in seconds.
constexpr int kWindowSearchSeconds = 10;
constexpr int kSnapshotFrontmostSeconds = 10;
constexpr int kTreeSeconds = 30;
constexpr int kElementActionSeconds = 15;
constexpr int kFocusedWindowSeconds = 5;
constexpr int kWindowListSeconds = 10;
constexpr int kFocusSeconds = 10;

constexpr const char* kPermissionHint =
    "Ensure the app has accessibility permissions. Go to System Settings > Privacy & Security > "
    "Accessibility "
    "and add Terminal / your terminal app.";

// --- text between Python and the scripts -------------------------------------------------

// The UTF-8 text of a str; a str holding lone surrogates cannot go into a script and
// raises UnicodeEncodeError.
std::string utf8_of(py::handle text) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
  if (data == nullptr) {
    throw py::error_already_set();
  }
  return std::string(data, static_cast<std::size_t>(size));
}

py::str str_from_utf8(std::string_view text) {
  PyObject* decoded = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
  if (decoded == nullptr) {
    throw py::error_already_set();
  }
  return py::reinterpret_steal<py::str>(decoded);
}

// record.get(key, "") as text: a missing or None entry reads as "".
py::str record_text(py::handle record, const char* key) {
  py::object value = record.attr("get")(key, "");
  return value.is_none() ? py::str() : py::str(value);
}

bool is_empty(py::handle text) { return py::len(text) == 0; }

// --- running scripts ----------------------------------------------------------------------

// Runs `osascript -e script` and returns the tuple (stdout, stderr) of bytes.
Coroutine run_script(py::str script, py::int_ seconds) {
  co_return co_await run_captured(py::make_tuple("osascript", "-e", script), seconds);
}

// Runs a script and returns its standard output, decoded strictly as UTF-8 and stripped.
Coroutine script_answer(py::str script, py::int_ seconds) {
  py::tuple output = co_await run_script(script, seconds);
  co_return output[0].attr("decode")("utf-8").attr("strip")();
}

py::str decoded_leniently(py::handle bytes) {
  return bytes.attr("decode")("utf-8", "replace").attr("strip")();
}

// --- snapshot -------------------------------------------------------------------------------

// A copy of one of the module's role sets (INTERACTIVE_TYPES, CONTEXT_TYPES), read at
// each snapshot so that changes made to them are seen.
std::set<std::string, std::less<>> role_set(const char* name) {
  std::set<std::string, std::less<>> roles;
  for (py::handle role : support::import(kModuleName).attr(name)) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_Check(role.ptr()) ? PyUnicode_AsUTF8AndSize(role.ptr(), &size) : nullptr;
    if (data == nullptr) {
      PyErr_Clear();  // not text, or text no answer can hold (lone surrogates)
      continue;
    }
    roles.emplace(data, static_cast<std::size_t>(size));
  }
  return roles;
}

// str.lower, without a round trip through Python for ASCII text (every AX role).
std::string python_lower(std::string_view utf8) {
  bool ascii = true;
  for (char c : utf8) {
    ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  }
  if (!ascii) {
    return utf8_of(str_from_utf8(utf8).attr("lower")());
  }
  std::string lowered(utf8);
  for (char& c : lowered) {
    c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return lowered;
}

// Renders the tree script's answer and gives the ref map its new records.
py::dict render_snapshot(py::handle self, py::handle app, py::handle raw) {
  const std::set<std::string, std::less<>> interactive = role_set("INTERACTIVE_TYPES");
  const std::set<std::string, std::less<>> context = role_set("CONTEXT_TYPES");
  const MacosRoleRules rules{
      [&](std::string_view role) { return interactive.contains(role); },
      [&](std::string_view role) { return context.contains(role); },
      python_lower,
  };
  const std::string answer = utf8_of(raw);
  const MacosTree tree = render_macos_tree(answer, rules);
  // Keys made once: thousands of records are built per snapshot.
  const py::str role_key("role"), title_key("title"), description_key("description"), value_key("value"),
      backend_key("backend"), app_key("app");
  const py::str backend("macos");
  py::dict ref_map;
  for (std::size_t i = 0; i < tree.refs.size(); ++i) {
    const MacosTreeElement& element = tree.refs[i];
    py::dict record;
    record[role_key] = str_from_utf8(element.role);
    record[title_key] = str_from_utf8(element.title);
    record[description_key] = str_from_utf8(element.description);
    record[value_key] = str_from_utf8(element.value);
    record[backend_key] = backend;
    record[app_key] = app;
    ref_map[py::int_(i + 1)] = record;
  }
  replace_ref_map(self, ref_map, tree.refs.size());
  return py::dict("success"_a = true, "window"_a = app, "snapshot"_a = str_from_utf8(tree.text),
                  "element_count"_a = tree.refs.size(), "platform"_a = "macos", "hint"_a = kRefHint);
}

Coroutine snapshot(py::object self, py::object window_title) {
  if (!flag(self, "_macos_available")) {
    co_return failure("macOS accessibility not available (osascript not found).");
  }
  try {
    const bool titled = !window_title.is_none() && !is_empty(window_title);
    py::object app;
    if (titled) {
      app = co_await script_answer(str_from_utf8(scripts::process_with_window(utf8_of(window_title))),
                                   py::int_(kWindowSearchSeconds));
      if (is_empty(app)) {
        co_return failure(py::str("No window found matching: {}").format(window_title));
      }
    } else {
      app = co_await script_answer(str_from_utf8(scripts::frontmost_process()),
                                   py::int_(kSnapshotFrontmostSeconds));
      if (is_empty(app)) {
        co_return failure("No frontmost application found");
      }
    }
    py::tuple output =
        co_await run_script(str_from_utf8(scripts::element_tree(utf8_of(app))), py::int_(kTreeSeconds));
    py::str raw = decoded_leniently(output[0]);
    if (is_empty(raw)) {
      co_return py::dict(
          "success"_a = false,
          "error"_a = py::str("Could not read accessibility tree: {}").format(decoded_leniently(output[1])),
          "hint"_a = kPermissionHint);
    }
    co_return render_snapshot(self, app, raw);
  } catch (py::error_already_set& error) {
    rethrow_unless_exception(error);
    if (is_timeout(error)) {
      co_return failure("AppleScript timed out reading accessibility tree");
    }
    const std::string text = error_text(error);
    logger.error([&] { return "macOS snapshot failed: " + text; });
    co_return failure(text);
  }
}

// --- click and type -------------------------------------------------------------------------

py::dict ref_failure(py::handle error, py::handle ref) {
  return py::dict("success"_a = false, "error"_a = error, "ref"_a = ref);
}

// The name the click and type scripts look the element up by: its title, else its description.
py::str search_name_of(py::handle record) {
  py::str title = record_text(record, "title");
  return is_empty(title) ? record_text(record, "description") : title;
}

Coroutine click_ref(py::object ref, py::object elem_info, py::object double_click) {
  try {
    py::str name = search_name_of(elem_info);
    if (is_empty(name)) {
      co_return ref_failure(py::str("Element has no identifiable name for clicking"), ref);
    }
    py::str script =
        str_from_utf8(scripts::click_element(utf8_of(record_text(elem_info, "app")), utf8_of(name)));
    py::object answer = co_await script_answer(script, py::int_(kElementActionSeconds));
    if (answer.equal(py::str("clicked"))) {
      // System Events clicks an element once; a double click is reported as asked.
      co_return py::dict("success"_a = true,
                         "action"_a = args::to_bool(double_click) ? "double_click" : "click", "ref"_a = ref,
                         "element"_a = py::str("{} \"{}\"").format(record_text(elem_info, "role"), name),
                         "hint"_a = kUpdatedStateHint);
    }
    if (answer.equal(py::str("not_found"))) {
      co_return ref_failure(py::str("Element '{}' not found in current window").format(name), ref);
    }
    co_return ref_failure(answer, ref);
  } catch (py::error_already_set& error) {
    rethrow_unless_exception(error);
    co_return ref_failure(py::str(error_text(error)), ref);
  }
}

Coroutine type_ref(py::object ref, py::object elem_info, py::object text, py::object clear_first,
                   py::object press_enter) {
  try {
    py::str name = search_name_of(elem_info);
    // An empty name would match the first unnamed element of the window, which is
    // rarely the one meant: the text would go somewhere else and be reported as typed.
    if (is_empty(name)) {
      co_return ref_failure(py::str("Element has no identifiable name for typing"), ref);
    }
    const bool enter = args::to_bool(press_enter);
    py::str script =
        str_from_utf8(scripts::type_into_element(utf8_of(record_text(elem_info, "app")), utf8_of(name),
                                                 utf8_of(text), args::to_bool(clear_first), enter));
    py::object answer = co_await script_answer(script, py::int_(kElementActionSeconds));
    if (answer.equal(py::str("typed"))) {
      co_return py::dict("success"_a = true, "action"_a = "type", "ref"_a = ref, "text"_a = text,
                         "pressed_enter"_a = enter);
    }
    if (answer.equal(py::str("not_found"))) {
      co_return ref_failure(py::str("Element '{}' not found").format(name), ref);
    }
    co_return ref_failure(answer, ref);
  } catch (py::error_already_set& error) {
    rethrow_unless_exception(error);
    co_return ref_failure(py::str(error_text(error)), ref);
  }
}

// --- windows --------------------------------------------------------------------------------

Coroutine get_focused_window() {
  try {
    py::object app =
        co_await script_answer(str_from_utf8(scripts::frontmost_process()), py::int_(kFocusedWindowSeconds));
    if (is_empty(app)) {
      co_return failure("No frontmost application found");
    }
    py::object title = co_await script_answer(str_from_utf8(scripts::first_window_name(utf8_of(app))),
                                              py::int_(kFocusedWindowSeconds));
    co_return py::dict("success"_a = true, "app"_a = app, "title"_a = is_empty(title) ? app : title);
  } catch (py::error_already_set& error) {
    rethrow_unless_exception(error);
    co_return failure(py::str(error_text(error)));
  }
}

Coroutine list_windows() {
  try {
    py::object answer =
        co_await script_answer(str_from_utf8(scripts::window_list()), py::int_(kWindowListSeconds));
    py::list windows;
    for (py::handle line : answer.attr("split")("\n")) {
      if (!line.contains("|")) {
        continue;
      }
      py::list parts = line.attr("split")("|", 1);
      windows.append(py::dict("app"_a = parts[0].attr("strip")(), "title"_a = parts[1].attr("strip")()));
    }
    co_return py::dict("success"_a = true, "windows"_a = windows, "count"_a = py::len(windows));
  } catch (py::error_already_set& error) {
    rethrow_unless_exception(error);
    co_return failure(py::str(error_text(error)));
  }
}

Coroutine focus_window(py::object title) {
  try {
    py::object app =
        co_await script_answer(str_from_utf8(scripts::focus_window(utf8_of(title))), py::int_(kFocusSeconds));
    if (is_empty(app)) {
      co_return failure(py::str("No window matching: {}").format(title));
    }
    co_return py::dict("success"_a = true, "window"_a = title, "app"_a = app);
  } catch (py::error_already_set& error) {
    rethrow_unless_exception(error);
    co_return failure(py::str(error_text(error)));
  }
}

}  // namespace

void register_macos(MethodTable& methods) {
  methods
      .def(
          "_snapshot_macos",
          [](py::object self, py::object window_title, py::object) {
            // The walk reads the window's entire contents; max_depth does not bound it.
            py::object title = args::to_optional_str(window_title, "window_title");
            return snapshot(self, title).to_python("DesktopAccess._snapshot_macos");
          },
          py::arg("window_title"), py::arg("max_depth"))
      .def(
          "_click_ref_macos",
          [](py::object, py::object ref, py::object elem_info, py::object double_click) {
            return click_ref(ref, elem_info, double_click).to_python("DesktopAccess._click_ref_macos");
          },
          py::arg("ref"), py::arg("elem_info"), py::arg("double_click"))
      .def(
          "_type_ref_macos",
          [](py::object, py::object ref, py::object elem_info, py::object text, py::object clear_first,
             py::object press_enter) {
            py::object checked_text = args::to_str(text, "text");
            return type_ref(ref, elem_info, checked_text, clear_first, press_enter)
                .to_python("DesktopAccess._type_ref_macos");
          },
          py::arg("ref"), py::arg("elem_info"), py::arg("text"), py::arg("clear_first"),
          py::arg("press_enter"))
      .def("_get_focused_window_macos",
           [](py::object) {
             return get_focused_window().to_python("DesktopAccess._get_focused_window_macos");
           })
      .def("_list_windows_macos",
           [](py::object) { return list_windows().to_python("DesktopAccess._list_windows_macos"); })
      .def(
          "_focus_window_macos",
          [](py::object, py::object title) {
            py::object checked_title = args::to_str(title, "title");
            return focus_window(checked_title).to_python("DesktopAccess._focus_window_macos");
          },
          py::arg("title"));
}

}  // namespace desktop_access
