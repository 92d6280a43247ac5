// Common ground of the parts of DesktopAccess (core, keys and the three backends): the
// module logger and the pieces of result dictionaries that several parts share. Each
// part registers its own methods on the class.
//
// DesktopAccess is a plain Python class whose methods are implemented here. Its state
// (`_ref_map`, `_ref_counter`, the availability flags) lives in the instance __dict__,
// and the core reaches every private method through attribute lookup on the instance,
// so the host's tests can read, set and patch each of them as on a Python object.
#pragma once

#include "support/classes.hpp"
#include "support/compat.hpp"
#include "support/coroutine.hpp"
#include "support/errors.hpp"
#include "support/log.hpp"
#include "support/python.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace desktop_access {

inline constexpr const char* kModuleName = "nebrix.pc.desktop_access";
inline constexpr support::Logger kLog("nebrix.pc.desktop");

inline constexpr const char* kRefHint =
    "Use ref numbers to interact: desktop_click_ref(1), desktop_type_ref(2, 'text'), etc.";
inline constexpr const char* kUpdatedStateHint = "Take a desktop_snapshot() to see the updated state.";

// {"success": False, "error": error}
py::dict failure(py::handle error);
py::dict failure(const std::string& error);

// {"success": False, "error": error, "ref": ref}
py::dict ref_failure(py::handle error, py::handle ref);

// len(text) == 0
bool is_empty(py::handle text);

// Whether a window title was given: neither None nor empty (else the focused window is meant).
bool has_title(py::handle window_title);

// What str.lower() gives for UTF-8 text; ASCII text (every role and control type name)
// is lowered without a round trip through Python.
std::string python_lower(std::string_view utf8);

// The label of an element in action results: the record's control type, a space and
// its name in double quotes (Button "OK").
py::str element_label(py::handle record);

// loop.run_in_executor(None, function, *args) on the running loop: an awaitable.
template <class... Args>
py::object in_default_executor(py::handle function, Args&&... args) {
  py::object loop = support::import("asyncio").attr("get_running_loop")();
  return loop.attr("run_in_executor")(py::none(), function, std::forward<Args>(args)...);
}

// A snapshot's max_elements (None or an int) as a count: none for None, at least 1,
// saturated at the top (10**30 means no bound that a window reaches).
std::optional<std::size_t> element_bound(py::handle max_elements);

// The snapshot options that differ from their defaults (`states` true, `max_elements`
// not None), as keywords for the next call: a method replaced by one that takes only
// (window_title, max_depth) keeps working while they are unused.
py::dict given_options(py::handle states, py::handle max_elements);

// The truth value of a flag attribute of the instance (`_pyautogui_available`, ...).
bool flag(py::handle self, const char* name);

// Replaces the ref map with `ref_map` and sets `_ref_counter` to `count`.
void replace_ref_map(py::handle self, py::object ref_map, std::size_t count);

enum class Platform { kWindows, kMacos, kLinux };

// The platform named by the module attribute SYSTEM, read at each call so a host's
// tests can switch platforms: "Windows", "Darwin", anything else counts as Linux.
Platform current_platform();

}  // namespace desktop_access
