// The macOS snapshot: the process owning the frontmost or the named window, its
// element tree read by one script and rendered in C++.
#include "desktop_access/macos.hpp"
#include "desktop_access/macos_common.hpp"
#include "desktop_access/macos_scripts.hpp"
#include "desktop_access/macos_tree.hpp"
#include "support/args.hpp"
#include "support/keys.hpp"

#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace desktop_access {

namespace {

using namespace pybind11::literals;
using namespace macos;
namespace args = support::args;
namespace scripts = macos_scripts;
using support::Coroutine;

constexpr int kWindowSearchSeconds = 10;
constexpr int kSnapshotFrontmostSeconds = 10;
constexpr int kTreeSeconds = 30;

constexpr const char* kPermissionHint =
    "Ensure the app has accessibility permissions. Go to System Settings > Privacy & Security > "
    "Accessibility "
    "and add Terminal / your terminal app.";

// A copy of one of the module's role sets (INTERACTIVE_TYPES, CONTEXT_TYPES), read at
// each snapshot so that changes made to them are seen.
std::set<std::string, std::less<>> role_set(const char* name) {
  std::set<std::string, std::less<>> roles;
  for (py::handle role : support::import(kModuleName).attr(name)) {
    // Not text, or text no answer can hold (lone surrogates): never matches.
    if (std::optional<std::string_view> text = support::utf8_view_if_valid(role)) {
      roles.emplace(*text);
    }
  }
  return roles;
}

// Renders the tree script's answer and gives the ref map its new records.
py::dict render_snapshot(py::handle self, py::handle app, py::handle raw, const MacosTreeOptions& options) {
  const std::set<std::string, std::less<>> interactive = role_set("INTERACTIVE_TYPES");
  const std::set<std::string, std::less<>> context = role_set("CONTEXT_TYPES");
  const MacosRoleRules rules{
      [&](std::string_view role) { return interactive.contains(role); },
      [&](std::string_view role) { return context.contains(role); },
      python_lower,
  };
  const std::string_view answer = support::utf8_view(raw);
  const MacosTree tree = render_macos_tree(answer, rules, options);
  // Keys made once: thousands of records are built per snapshot.
  const py::str role_key("role"), title_key("title"), description_key("description"), value_key("value"),
      backend_key("backend"), app_key("app");
  const py::str backend("macos");
  py::dict ref_map;
  for (std::size_t i = 0; i < tree.refs.size(); ++i) {
    const MacosTreeElement& element = tree.refs[i];
    ref_map[py::int_(i + 1)] = support::make_dict({{role_key, support::from_utf8(element.role)},
                                                   {title_key, support::from_utf8(element.title)},
                                                   {description_key, support::from_utf8(element.description)},
                                                   {value_key, support::from_utf8(element.value)},
                                                   {backend_key, backend},
                                                   {app_key, app}});
  }
  replace_ref_map(self, ref_map, tree.refs.size());
  return py::dict("success"_a = true, "window"_a = app, "snapshot"_a = support::from_utf8(tree.text),
                  "element_count"_a = tree.refs.size(), "platform"_a = "macos", "hint"_a = kRefHint);
}

Coroutine snapshot(py::object self, py::object window_title, MacosTreeOptions options) {
  if (!flag(self, "_macos_available")) {
    co_return failure("macOS accessibility not available (osascript not found).");
  }
  try {
    // No conditional between objects in a co_await or co_return: GCC destroys them twice.
    const bool titled = has_title(window_title);
    const std::string find_app = titled ? scripts::process_with_window(support::utf8_view(window_title))
                                        : scripts::frontmost_process();
    const int seconds = titled ? kWindowSearchSeconds : kSnapshotFrontmostSeconds;
    py::object app = co_await script_answer(support::from_utf8(find_app), py::int_(seconds));
    if (is_empty(app) && titled) {
      co_return failure(py::str("No window found matching: {}").format(window_title));
    }
    if (is_empty(app)) {
      co_return failure("No frontmost application found");
    }
    py::tuple output = co_await run_script(support::from_utf8(scripts::element_tree(support::utf8_view(app))),
                                           py::int_(kTreeSeconds));
    py::str raw = decoded_leniently(output[0]);
    if (is_empty(raw)) {
      co_return py::dict(
          "success"_a = false,
          "error"_a = py::str("Could not read accessibility tree: {}").format(decoded_leniently(output[1])),
          "hint"_a = kPermissionHint);
    }
    co_return render_snapshot(self, app, raw, options);
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    if (error.matches(PyExc_TimeoutError)) {
      co_return failure("AppleScript timed out reading accessibility tree");
    }
    const std::string text = support::exception_text(error.value());
    kLog.error([&] { return "macOS snapshot failed: " + text; });
    co_return failure(text);
  }
}

}  // namespace

void register_macos_snapshot(support::PlainClass& methods) {
  methods.def_coroutine(
      "_snapshot_macos",
      [](py::object self, py::object window_title, py::object, py::object states, py::object max_elements) {
        // The walk reads the window's entire contents; max_depth does not bound it. The
        // options only shape the text rendered from it.
        py::object title = args::to_optional_str(window_title, "window_title");
        return snapshot(self, title, MacosTreeOptions{args::to_bool(states), element_bound(max_elements)});
      },
      py::arg("window_title"), py::arg("max_depth"), py::kw_only(), py::arg("states") = false,
      py::arg("max_elements") = py::none());
}

}  // namespace desktop_access
