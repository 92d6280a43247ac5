// Shared ground of the Windows backend's parts (snapshot, element actions, window
// queries): the packages and user32 reached at the moment of use, and the small
// conversions and guards that the UI Automation calls need.
#pragma once

#include "desktop_access/desktop_access.hpp"
#include "support/args.hpp"

#include <utility>

namespace desktop_access::uia {

namespace args = support::args;

// pywinauto's Desktop(backend="uia"), imported at the moment of use.
py::object pywinauto_desktop();

// user32 GetForegroundWindow() through ctypes.windll: the handle, 0 when none.
py::object foreground_window();

// `value or ""` as a str (anything else than a str as str(value)).
py::str text_or_empty(py::handle value);

// ".*" + text + ".*": matches any title containing `text`, whose own regular-expression
// syntax stays in effect (callers may pass patterns).
py::str containing_pattern(py::handle text);

// Non-empty and not only white space (what `text.strip()` would leave).
bool is_nonblank(py::handle text);

// object.name() by an (interned) name, without building an argument tuple.
py::object call_method(py::handle object, const py::str& name);

// `item in container`
bool contains(py::handle container, py::handle item);

// Whether an element record's backend names uiautomation (anything else is pywinauto).
bool is_uiautomation(py::handle backend);

// time.sleep, looked up at each use: waits on the worker thread that runs the action.
void sleep_on_worker(double seconds);

// Runs `attempt` (returning whether it did the job); an Exception raised inside counts
// as not done. Anything else (KeyboardInterrupt, SystemExit) travels on.
template <class Attempt>
bool attempted(Attempt&& attempt) {
  try {
    return std::forward<Attempt>(attempt)();
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
  } catch (py::builtin_exception&) {
  }
  return false;
}

}  // namespace desktop_access::uia
