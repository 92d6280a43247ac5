#include "linux.hpp"

#include "process.hpp"
#include "snapshot_text.hpp"
#include "support/args.hpp"
#include "support/json.hpp"
#include "walker_program.hpp"

#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>

namespace desktop_access {

namespace {

namespace args = support::args;
using support::Coroutine;

constexpr int kWalkerSeconds = 15;
constexpr int kXdotoolSeconds = 5;
constexpr int kWindowNameSeconds = 3;
constexpr Py_ssize_t kMaxListedWindows = 50;

// --- the walker's answer -------------------------------------------------------------

// An interned str: dictionaries whose keys are interned find it by identity.
py::str interned(const char* text) {
  PyObject* string = PyUnicode_InternFromString(text);
  if (string == nullptr) {
    throw py::error_already_set();
  }
  return py::reinterpret_steal<py::str>(string);
}

// The keys of walker elements and element records, made once per answer.
struct ElementKeys {
  py::str ref = interned("ref");
  py::str role = interned("role");
  py::str name = interned("name");
  py::str value = interned("value");
  py::str depth = interned("depth");
  py::str backend = interned("backend");
  py::str linux_atspi = interned("linux_atspi");
};

void set_item(const py::dict& dict, const py::str& key, const py::object& value) {
  if (PyDict_SetItem(dict.ptr(), key.ptr(), value.ptr()) != 0) {
    throw py::error_already_set();
  }
}

// {"role": role, "name": name, "value": value, "backend": "linux_atspi"}
py::dict element_record(const ElementKeys& keys, const py::str& role, const py::str& name,
                        const py::str& value) {
  py::dict record;
  set_item(record, keys.role, role);
  set_item(record, keys.name, name);
  set_item(record, keys.value, value);
  set_item(record, keys.backend, keys.linux_atspi);
  return record;
}

// element[key], or an empty object when the key is missing.
py::object field(py::handle element, const py::str& key) {
  PyObject* value = PyDict_GetItemWithError(element.ptr(), key.ptr());
  if (value == nullptr && PyErr_Occurred()) {
    throw py::error_already_set();
  }
  return py::reinterpret_borrow<py::object>(value);
}

// A text field: missing or null reads as "", anything else that is not a str as str(value).
py::str text_field(py::handle element, const py::str& key) {
  py::object value = field(element, key);
  if (!value || value.is_none()) {
    return py::str();
  }
  if (PyUnicode_CheckExact(value.ptr())) {
    return py::reinterpret_steal<py::str>(value.release());
  }
  return py::str(value);
}

bool has_ref(py::handle element, const ElementKeys& keys) {
  py::object ref = field(element, keys.ref);
  if (!ref) {
    return false;
  }
  if (PyLong_CheckExact(ref.ptr())) {
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(ref.ptr(), &overflow);
    return overflow > 0 || (overflow == 0 && value > 0);
  }
  const int positive = PyObject_RichCompareBool(ref.ptr(), py::int_(0).ptr(), Py_GT);
  if (positive < 0) {
    throw py::error_already_set();
  }
  return positive == 1;
}

long long depth_of(py::handle element, const ElementKeys& keys) {
  py::object depth = field(element, keys.depth);
  if (!depth) {
    return 0;
  }
  if (!PyLong_Check(depth.ptr())) {
    throw py::type_error("walker element depth is not an integer: " + std::string(py::repr(depth)));
  }
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(depth.ptr(), &overflow);
  return overflow > 0 ? std::numeric_limits<long long>::max() : overflow < 0 ? 0 : value;
}

// Renders a successful walker answer into the snapshot result and gives the ref map
// its new records: every element with a ref gets the next number, in answer order.
py::dict render_atspi_answer(py::object self, py::object data) {
  py::object window = data["window"];
  py::object elements = data.attr("get")("elements", py::list());
  if (!PyList_Check(elements.ptr())) {
    throw py::type_error("walker elements are not a list");
  }
  const ElementKeys keys;
  const py::str window_name = py::str(window);
  const Utf8 window_utf8(window_name);
  SnapshotText text(window_utf8.view(), true);
  py::dict ref_map;
  long long counter = 0;
  for (py::handle element : py::reinterpret_borrow<py::list>(elements)) {
    if (!PyDict_Check(element.ptr())) {
      throw py::type_error("walker element is not an object: " + std::string(py::repr(element)));
    }
    const long long depth = depth_of(element, keys);
    py::str role = text_field(element, keys.role);
    py::str name = text_field(element, keys.name);
    const Utf8 role_utf8(role);
    const Utf8 name_utf8(name);
    if (has_ref(element, keys)) {
      py::str value = text_field(element, keys.value);
      const Utf8 value_utf8(value);
      ++counter;
      text.ref_line(depth, counter, role_utf8.view(), name_utf8.view(), value_utf8.view());
      if (PyDict_SetItem(ref_map.ptr(), py::int_(counter).ptr(),
                         element_record(keys, role, name, value).ptr()) != 0) {
        throw py::error_already_set();
      }
    } else if (!name_utf8.view().empty()) {
      text.context_line(depth, role_utf8.view(), name_utf8.view());
    }
  }
  replace_ref_map(self, ref_map, static_cast<std::size_t>(counter));
  return py::dict("success"_a = true, "window"_a = window, "snapshot"_a = from_utf8(text.text()),
                  "element_count"_a = counter, "platform"_a = "linux_atspi", "hint"_a = kRefHint);
}

// --- AT-SPI2 snapshot ------------------------------------------------------------------

py::str walker_program_for(py::handle max_depth, py::handle window_title) {
  std::optional<std::u32string> title;
  if (!window_title.is_none()) {
    Py_UCS4* characters = PyUnicode_AsUCS4Copy(window_title.ptr());
    if (characters == nullptr) {
      throw py::error_already_set();
    }
    title.emplace(characters, characters + PyUnicode_GET_LENGTH(window_title.ptr()));
    PyMem_Free(characters);
  }
  return from_utf8(walker_program(std::string(py::str(max_depth)), title));
}

py::str decoded(py::handle bytes, const char* errors) {
  return bytes.attr("decode")("utf-8", errors).attr("strip")();
}

Coroutine snapshot_atspi(py::object self, py::object window_title, py::object max_depth) {
  try {
    py::tuple argv = py::make_tuple("python3", "-c", walker_program_for(max_depth, window_title));
    py::tuple output = co_await run_captured(argv, py::int_(kWalkerSeconds));
    py::str raw = decoded(output[0], "replace");
    if (py::len(raw) == 0) {
      co_return failure("AT-SPI2 failed: " + std::string(decoded(output[1], "replace")));
    }
    py::object data = support::json::loads(raw);
    if (!args::to_bool(data.attr("get")("success"))) {
      co_return data;
    }
    co_return self.attr("_render_atspi_answer")(data);
  } catch (py::error_already_set& error) {
    rethrow_unless_exception(error);
    if (is_timeout(error)) {
      co_return failure("AT-SPI2 snapshot timed out");
    }
    const std::string text = error_text(error);
    logger.error([&] { return "Linux AT-SPI2 snapshot failed: " + text; });
    co_return failure(text);
  }
}

// --- xdotool ---------------------------------------------------------------------------

// Runs an xdotool command and returns its standard output, decoded strictly and stripped.
Coroutine xdotool(py::tuple argv, py::object seconds) {
  py::tuple output = co_await run_captured(argv, seconds);
  co_return output[0].attr("decode")("utf-8").attr("strip")();
}

py::str first_line(py::handle text) { return text.attr("split")("\n")[py::int_(0)]; }

bool is_empty(py::handle text) { return py::len(text) == 0; }

Coroutine snapshot_xdotool(py::object self, py::object window_title) {
  try {
    const bool titled = !window_title.is_none() && !is_empty(window_title);
    py::tuple argv = titled ? py::tuple(py::make_tuple("xdotool", "search", "--name", window_title))
                            : py::tuple(py::make_tuple("xdotool", "getactivewindow"));
    py::str window_id = first_line(co_await xdotool(argv, py::int_(kXdotoolSeconds)));
    if (is_empty(window_id)) {
      co_return failure("No window found");
    }
    py::object name =
        co_await xdotool(py::make_tuple("xdotool", "getwindowname", window_id), py::int_(kXdotoolSeconds));
    replace_ref_map(self, py::dict(), 0);
    py::str snapshot = py::str(
                           "Window: {} (id: {})\n\nNote: Full accessibility tree requires AT-SPI2.\n"
                           "Install: sudo apt install python3-gi gir1.2-atspi-2.0 at-spi2-core\n"
                           "For now, use coordinate-based interaction via desktop_click(x, y).")
                           .format(name, window_id);
    co_return py::dict(
        "success"_a = true, "window"_a = name, "window_id"_a = window_id, "snapshot"_a = snapshot,
        "element_count"_a = 0, "platform"_a = "linux_xdotool",
        "hint"_a = "Install AT-SPI2 for full element tree, or use screenshot + coordinate clicks.");
  } catch (py::error_already_set& error) {
    rethrow_unless_exception(error);
    co_return failure(py::str(error.value()));
  }
}

Coroutine snapshot_linux(py::object self, py::object window_title, py::object max_depth) {
  if (flag(self, "_linux_atspi_available")) {
    co_return co_await self.attr("_snapshot_linux_atspi")(window_title, max_depth);
  }
  if (flag(self, "_linux_xdotool_available")) {
    co_return co_await self.attr("_snapshot_linux_xdotool")(window_title);
  }
  co_return failure(
      "No Linux desktop accessibility tools available. Install xdotool: sudo apt install xdotool\n"
      "For full accessibility tree: sudo apt install python3-gi gir1.2-atspi-2.0 at-spi2-core");
}

py::dict click_ref_linux(py::object self, py::object ref) {
  if (!flag(self, "_pyautogui_available")) {
    return py::dict("success"_a = false,
                    "error"_a = "PyAutoGUI not available for clicking. Install: pip install pyautogui",
                    "ref"_a = ref);
  }
  return py::dict("success"_a = false,
                  "error"_a =
                      "Direct element clicking via AT-SPI2 is not yet supported. Use screenshot + "
                      "coordinate-based click instead: desktop click x=100 y=200",
                  "ref"_a = ref,
                  "hint"_a = "Take a screenshot first, then click at the element's coordinates.");
}

Coroutine click_ref(py::object self, py::object ref) { co_return click_ref_linux(self, ref); }

Coroutine get_focused_window(py::object self) {
  if (!flag(self, "_linux_xdotool_available")) {
    co_return failure("xdotool not available");
  }
  try {
    py::object title = co_await xdotool(py::make_tuple("xdotool", "getactivewindow", "getwindowname"),
                                        py::int_(kXdotoolSeconds));
    co_return py::dict("success"_a = true, "title"_a = title);
  } catch (py::error_already_set& error) {
    rethrow_unless_exception(error);
    co_return failure(py::str(error.value()));
  }
}

Coroutine list_windows(py::object self) {
  if (!flag(self, "_linux_xdotool_available")) {
    co_return failure("No window listing tool available");
  }
  try {
    py::object ids = co_await xdotool(py::make_tuple("xdotool", "search", "--onlyvisible", "--name", ""),
                                      py::int_(kXdotoolSeconds));
    py::list lines = ids.attr("split")("\n");
    py::list windows;
    const Py_ssize_t examined = std::min(static_cast<Py_ssize_t>(py::len(lines)), kMaxListedWindows);
    for (Py_ssize_t i = 0; i < examined; ++i) {
      py::str window_id = lines[static_cast<std::size_t>(i)].attr("strip")();
      if (is_empty(window_id)) {
        continue;
      }
      py::object title = co_await xdotool(py::make_tuple("xdotool", "getwindowname", window_id),
                                          py::int_(kWindowNameSeconds));
      if (!is_empty(title)) {
        windows.append(py::dict("id"_a = window_id, "title"_a = title));
      }
    }
    co_return py::dict("success"_a = true, "windows"_a = windows, "count"_a = py::len(windows));
  } catch (py::error_already_set& error) {
    rethrow_unless_exception(error);
    co_return failure(py::str(error.value()));
  }
}

Coroutine focus_window(py::object self, py::object title) {
  if (!flag(self, "_linux_xdotool_available")) {
    co_return failure("xdotool not available");
  }
  try {
    py::str window_id = first_line(
        co_await xdotool(py::make_tuple("xdotool", "search", "--name", title), py::int_(kXdotoolSeconds)));
    if (is_empty(window_id)) {
      co_return failure(py::str("No window matching: {}").format(title));
    }
    co_await run_captured(py::make_tuple("xdotool", "windowactivate", window_id), py::int_(kXdotoolSeconds));
    co_return py::dict("success"_a = true, "window"_a = title, "window_id"_a = window_id);
  } catch (py::error_already_set& error) {
    rethrow_unless_exception(error);
    co_return failure(py::str(error.value()));
  }
}

}  // namespace

void register_linux(MethodTable& methods) {
  methods
      .def(
          "_snapshot_linux",
          [](py::object self, py::object window_title, py::object max_depth) {
            return snapshot_linux(self, window_title, max_depth).to_python("DesktopAccess._snapshot_linux");
          },
          py::arg("window_title"), py::arg("max_depth"))
      .def(
          "_snapshot_linux_atspi",
          [](py::object self, py::object window_title, py::object max_depth) {
            // Both go into the walker's program text: only a str (or None) and an int.
            py::object title = args::to_optional_str(window_title, "window_title");
            py::object depth = args::to_int(max_depth, "max_depth");
            return snapshot_atspi(self, title, depth).to_python("DesktopAccess._snapshot_linux_atspi");
          },
          py::arg("window_title"), py::arg("max_depth"))
      .def(
          "_snapshot_linux_xdotool",
          [](py::object self, py::object window_title) {
            return snapshot_xdotool(self, window_title).to_python("DesktopAccess._snapshot_linux_xdotool");
          },
          py::arg("window_title"))
      .def("_render_atspi_answer", &render_atspi_answer, py::arg("data"),
           py::doc("Render a successful walker answer into the snapshot result and a new ref map."))
      .def(
          "_click_ref_linux",
          [](py::object self, py::object ref, py::object, py::object) {
            return click_ref(self, ref).to_python("DesktopAccess._click_ref_linux");
          },
          py::arg("ref"), py::arg("elem_info"), py::arg("double_click"))
      .def("_get_focused_window_linux",
           [](py::object self) {
             return get_focused_window(self).to_python("DesktopAccess._get_focused_window_linux");
           })
      .def("_list_windows_linux",
           [](py::object self) { return list_windows(self).to_python("DesktopAccess._list_windows_linux"); })
      .def(
          "_focus_window_linux",
          [](py::object self, py::object title) {
            return focus_window(self, title).to_python("DesktopAccess._focus_window_linux");
          },
          py::arg("title"));
}

}  // namespace desktop_access
