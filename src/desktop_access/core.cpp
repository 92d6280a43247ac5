#include "desktop_access/core.hpp"

#include "support/args.hpp"

namespace desktop_access {

namespace {

using namespace pybind11::literals;
namespace args = support::args;
using support::Coroutine;

void set_initial_state(py::handle self) {
  self.attr("_ref_map") = py::dict();
  self.attr("_ref_counter") = 0;
  for (const char* name :
       {"_uia_available", "_pywinauto_available", "_pyautogui_available", "_macos_available",
        "_linux_atspi_available", "_linux_xdotool_available", "_initialized"}) {
    self.attr(name) = false;
  }
}

// --- probing ---------------------------------------------------------------------

// `import module` (or `from module import name`): false when the package is missing
// (ImportError); any other failure of the import propagates.
bool imports(const char* module, const char* name = nullptr) {
  try {
    py::object imported = support::import(module);
    return name == nullptr || py::hasattr(imported, name);
  } catch (py::error_already_set& error) {
    if (!error.matches(PyExc_ImportError)) {
      throw;
    }
  }
  return false;
}

void init_windows(py::object self) {
  if (imports("pywinauto", "Desktop")) {
    self.attr("_pywinauto_available") = true;
    self.attr("_uia_available") = true;
    kLog.info([] { return "pywinauto UIA backend available"; });
  } else {
    kLog.warning([] { return "pywinauto not installed — run: pip install pywinauto"; });
  }
  if (flag(self, "_uia_available")) {
    return;
  }
  if (imports("uiautomation")) {
    self.attr("_uia_available") = true;
    kLog.info([] { return "uiautomation library available"; });
  } else {
    kLog.warning([] { return "uiautomation not installed — run: pip install uiautomation"; });
  }
}

bool on_path(const char* program) { return !support::import("shutil").attr("which")(program).is_none(); }

void init_macos(py::object self) {
  if (on_path("osascript")) {
    self.attr("_macos_available") = true;
    kLog.info([] { return "macOS AppleScript accessibility available"; });
  } else {
    kLog.warning([] { return "osascript not found — macOS accessibility unavailable"; });
  }
}

// Whether `python` has working AT-SPI2 bindings. Blocks for up to 5 seconds.
bool atspi_bindings_work(const char* python) {
  try {
    py::module_ subprocess = support::import("subprocess");
    py::object completed = subprocess.attr("run")(
        py::make_tuple(python, "-c",
                       "import gi; gi.require_version('Atspi', '2.0'); from gi.repository import Atspi"),
        "capture_output"_a = true, "timeout"_a = 5);
    py::object returncode = completed.attr("returncode");
    return returncode.equal(py::int_(0));
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    return false;
  }
}

// The same file as python3 on PATH: already tried.
bool is_path_python(const char* python) {
  py::module_ os_path = support::import("os.path");
  py::object found = support::import("shutil").attr("which")("python3");
  return !found.is_none() && os_path.attr("realpath")(found).equal(os_path.attr("realpath")(python));
}

// The interpreter the walker runs under, or None when none has the bindings: python3
// on PATH first (so that a host's own choice wins), then the system's own interpreters
// (the module's _SYSTEM_PYTHONS), which the distribution's bindings are built for, when
// PATH's python3 is a virtual environment's, pyenv's or conda's.
py::object atspi_python() {
  if (atspi_bindings_work("python3")) {
    return py::str("python3");
  }
  for (py::handle python : support::import(kModuleName).attr("_SYSTEM_PYTHONS")) {
    const std::string path = py::str(python);
    if (!is_path_python(path.c_str()) && atspi_bindings_work(path.c_str())) {
      return py::reinterpret_borrow<py::object>(python);
    }
  }
  return py::none();
}

void init_linux(py::object self) {
  if (on_path("xdotool")) {
    self.attr("_linux_xdotool_available") = true;
    kLog.info([] { return "xdotool available for Linux desktop control"; });
  }
  if (py::object python = atspi_python(); !python.is_none()) {
    self.attr("_linux_atspi_python") = python;
    self.attr("_linux_atspi_available") = true;
    kLog.info([] { return "AT-SPI2 accessibility available for Linux"; });
  }
  if (!flag(self, "_linux_xdotool_available") && !flag(self, "_linux_atspi_available")) {
    kLog.warning([] {
      return "No Linux desktop control tools found. Install: sudo apt install xdotool (or: pip install "
             "pyatspi)";
    });
  }
}

// Importing pyautogui on Linux connects to the display, so it fails without one
// (KeyError 'DISPLAY', Xlib errors) as well as when the package is missing; any
// failure means the fallback is not available.
void probe_pyautogui(py::handle self) {
  try {
    support::import("pyautogui");
    self.attr("_pyautogui_available") = true;
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    kLog.debug([&] {
      return "pyautogui not available: " + support::type_name(error.value()) + ": " +
             std::string(support::exception_text(error.value()));
    });
  }
}

void ensure_init_impl(py::object self) {
  if (flag(self, "_initialized")) {
    return;
  }
  // Set first: a probe is never repeated, even after it fails.
  self.attr("_initialized") = true;
  switch (current_platform()) {
    case Platform::kWindows:
      self.attr("_init_windows")();
      break;
    case Platform::kMacos:
      self.attr("_init_macos")();
      break;
    case Platform::kLinux:
      self.attr("_init_linux")();
      break;
  }
  probe_pyautogui(self);
}

// --- routing ---------------------------------------------------------------------

// self._{operation}_{platform}(*arguments, **options) for the platform of the moment.
Coroutine on_platform(py::object self, py::str operation, py::tuple arguments, py::dict options) {
  ensure_init(self);
  static constexpr const char* kSuffixes[] = {"_windows", "_macos", "_linux"};  // in the order of Platform
  const std::string method = "_" + std::string(operation) + kSuffixes[static_cast<int>(current_platform())];
  co_return co_await self.attr(method.c_str())(*arguments, **options);
}

// Probes the platform first; then the element record of `ref` in the latest snapshot, or
// an empty object.
py::object find_record(py::handle self, py::handle ref) {
  ensure_init(self);
  py::object ref_map = self.attr("_ref_map");
  if (!ref_map.contains(ref)) {
    return py::object();
  }
  return ref_map[ref];
}

py::object backend_of(py::handle record) { return record.attr("get")("backend", "pywinauto"); }

bool is_backend(py::handle backend, const char* name) { return backend.equal(py::str(name)); }

py::dict not_found(py::handle ref) {
  return failure(
      py::str("Ref [{}] not found. Take a new desktop_snapshot() to get current refs.").format(ref));
}

py::dict not_found_short(py::handle ref) { return failure(py::str("Ref [{}] not found.").format(ref)); }

Coroutine click_ref(py::object self, py::object ref, py::object double_click) {
  py::object record = find_record(self, ref);
  if (!record) {
    co_return not_found(ref);
  }
  py::object backend = backend_of(record);
  const char* method = is_backend(backend, "macos")         ? "_click_ref_macos"
                       : is_backend(backend, "linux_atspi") ? "_click_ref_linux"
                                                            : "_click_ref_windows";
  co_return co_await self.attr(method)(ref, record, double_click);
}

Coroutine type_ref(py::object self, py::object ref, py::object text, py::object clear_first,
                   py::object press_enter) {
  py::object record = find_record(self, ref);
  if (!record) {
    co_return not_found(ref);
  }
  py::object backend = backend_of(record);
  const char* method = is_backend(backend, "macos")         ? "_type_ref_macos"
                       : is_backend(backend, "linux_atspi") ? "_type_ref_linux"
                       : is_backend(backend, "pywinauto") || is_backend(backend, "uiautomation")
                           ? "_type_ref_windows"
                           : nullptr;
  if (method == nullptr) {
    co_return ref_failure(py::str("Type not supported on this backend yet"), ref);
  }
  co_return co_await self.attr(method)(ref, record, text, clear_first, press_enter);
}

Coroutine select_ref(py::object self, py::object ref, py::object value) {
  py::object record = find_record(self, ref);
  if (!record) {
    co_return not_found_short(ref);
  }
  py::object backend = backend_of(record);
  if (is_backend(backend, "linux_atspi")) {
    co_return co_await self.attr("_select_ref_linux")(ref, record, value);
  }
  if (is_backend(backend, "macos")) {
    co_return ref_failure(py::str("Select not yet supported on {}").format(backend), ref);
  }
  try {
    py::object element = record["element"];
    co_await in_default_executor(self.attr("_select_element_sync"), element, backend, value);
    co_return py::dict("success"_a = true, "action"_a = "select", "ref"_a = ref,
                       "element"_a = element_label(record), "value"_a = value);
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    co_return ref_failure(support::exception_text(error.value()), ref);
  }
}

Coroutine toggle_ref(py::object self, py::object ref) {
  py::object record = find_record(self, ref);
  if (!record) {
    co_return not_found_short(ref);
  }
  py::object backend = backend_of(record);
  if (is_backend(backend, "linux_atspi")) {
    co_return co_await self.attr("_toggle_ref_linux")(ref, record);
  }
  if (is_backend(backend, "macos")) {
    co_return co_await self.attr("click_ref")(ref);
  }
  try {
    py::object element = record["element"];
    co_await in_default_executor(self.attr("_toggle_element_sync"), element, backend);
    co_return py::dict("success"_a = true, "action"_a = "toggle", "ref"_a = ref,
                       "element"_a = element_label(record));
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    co_return ref_failure(support::exception_text(error.value()), ref);
  }
}

// --- call boundary -----------------------------------------------------------------

// A bool argument, or `fallback` when the caller left it out.
py::object bool_arg(const py::object& bound, bool fallback) {
  return py::bool_(bound ? args::to_bool(bound) : fallback);
}

// Removes the keyword-only argument `name` from `k`, giving it, or an empty object.
py::object take_keyword(py::kwargs& k, const char* name) {
  if (!k.contains(name)) {
    return py::object();
  }
  return k.attr("pop")(name);
}

// max_elements: None, or an int of at least 1 (bool is not taken for a count).
py::object checked_bound(const py::object& value) {
  if (value.is_none()) {
    return value;
  }
  if (!PyLong_Check(value.ptr()) || PyBool_Check(value.ptr())) {
    args::raise_incorrect_type("max_elements", "int", value);
  }
  py::int_ bound(value);
  if (bound < py::int_(1)) {
    throw py::value_error(std::string("Argument 'max_elements' must be at least 1 (got ") +
                          std::string(py::str(bound)) + ")");
  }
  return bound;
}

Coroutine snapshot_shim(py::object self, py::args a, py::kwargs k) {
  static const args::Signature signature("DesktopAccess.snapshot",
                                         {{"window_title", false}, {"max_depth", false}});
  py::object states, max_elements;
  if (k.contains("states") || k.contains("max_elements")) {
    // A copy: a caller's own dictionary may arrive here, and stays as it was.
    k = py::reinterpret_steal<py::kwargs>(PyDict_Copy(k.ptr()));
    if (!k) {
      throw py::error_already_set();
    }
    states = take_keyword(k, "states");
    max_elements = take_keyword(k, "max_elements");
  }
  std::vector<py::object> p = signature.bind(a, k);
  py::object window_title = args::to_optional_str(p[0] ? p[0] : py::none(), "window_title");
  py::object max_depth = args::to_int(p[1] ? p[1] : py::int_(8), "max_depth");
  // Only the options that differ from their defaults are passed on, so that a backend
  // called without any keeps its two-argument call.
  return on_platform(self, py::str("snapshot"), py::make_tuple(window_title, max_depth),
                     given_options(states ? states : py::bool_(false),
                                   max_elements ? checked_bound(max_elements) : py::none()));
}

Coroutine click_ref_shim(py::object self, py::args a, py::kwargs k) {
  static const args::Signature signature("DesktopAccess.click_ref", {{"ref"}, {"double_click", false}});
  std::vector<py::object> p = signature.bind(a, k);
  py::object ref = args::to_int(p[0], "ref");
  py::object double_click = bool_arg(p[1], false);
  return click_ref(self, ref, double_click);
}

Coroutine type_ref_shim(py::object self, py::args a, py::kwargs k) {
  static const args::Signature signature("DesktopAccess.type_ref",
                                         {{"ref"}, {"text"}, {"clear_first", false}, {"press_enter", false}});
  std::vector<py::object> p = signature.bind(a, k);
  py::object ref = args::to_int(p[0], "ref");
  py::object text = args::to_str(p[1], "text");
  py::object clear_first = bool_arg(p[2], true);
  py::object press_enter = bool_arg(p[3], false);
  return type_ref(self, ref, text, clear_first, press_enter);
}

Coroutine select_ref_shim(py::object self, py::args a, py::kwargs k) {
  static const args::Signature signature("DesktopAccess.select_ref", {{"ref"}, {"value"}});
  std::vector<py::object> p = signature.bind(a, k);
  py::object ref = args::to_int(p[0], "ref");
  py::object value = args::to_str(p[1], "value");
  return select_ref(self, ref, value);
}

Coroutine toggle_ref_shim(py::object self, py::args a, py::kwargs k) {
  static const args::Signature signature("DesktopAccess.toggle_ref", {{"ref"}});
  py::object ref = args::to_int(signature.bind(a, k)[0], "ref");
  return toggle_ref(self, ref);
}

Coroutine focus_window_shim(py::object self, py::args a, py::kwargs k) {
  static const args::Signature signature("DesktopAccess.focus_window", {{"title"}});
  py::object title = args::to_str(signature.bind(a, k)[0], "title");
  return on_platform(self, py::str("focus_window"), py::make_tuple(title), py::dict());
}

}  // namespace

void ensure_init(py::handle self) { self.attr("_ensure_init")(); }

Coroutine answering_failures(Coroutine work, py::object ref) {
  try {
    co_return co_await std::move(work);
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    py::str text = support::exception_text(error.value());
    if (ref) {
      co_return ref_failure(text, ref);
    }
    co_return failure(text);
  }
}

void register_core(support::PlainClass& methods) {
  methods.def_init("A controller with no refs; the platform is probed on first use.", &set_initial_state);
  methods.def("_ensure_init", &ensure_init_impl, py::doc("Lazy-initialize platform-specific libraries."))
      .def("_init_windows", &init_windows, py::doc("Initialize Windows UIA backends."))
      .def("_init_macos", &init_macos, py::doc("Initialize macOS accessibility via AppleScript."))
      .def("_init_linux", &init_linux, py::doc("Initialize Linux accessibility backends."))
      .def_coroutine(
          "snapshot", &snapshot_shim,
          py::doc("Accessibility tree snapshot of the focused or the specified window, as a numbered list of "
                  "interactive elements."))
      .def_coroutine("click_ref", &click_ref_shim,
                     py::doc("Click an element by its ref number from the snapshot."))
      .def_coroutine("type_ref", &type_ref_shim, py::doc("Type text into an element by its ref number."))
      .def_coroutine("select_ref", &select_ref_shim,
                     py::doc("Select an option in a combo box or list by ref number."))
      .def_coroutine("toggle_ref", &toggle_ref_shim,
                     py::doc("Toggle a checkbox or radio button by ref number."))
      .def_coroutine(
          "get_focused_window",
          [](py::object self) {
            return on_platform(self, py::str("get_focused_window"), py::tuple(), py::dict());
          },
          py::doc("Get info about the currently focused window."))
      .def_coroutine(
          "list_windows",
          [](py::object self) { return on_platform(self, py::str("list_windows"), py::tuple(), py::dict()); },
          py::doc("List all visible windows."))
      .def_coroutine("focus_window", &focus_window_shim,
                     py::doc("Bring a window to the foreground by title."));
}

}  // namespace desktop_access
