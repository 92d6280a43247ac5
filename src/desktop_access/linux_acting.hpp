// The acting program (atspi_acting.py) run in a child python3: it finds the element of
// a ref again by application and child-index path, checks that it is still the element
// the snapshot listed, and acts on it. Pointer clicks at an element's place are made
// here, through pyautogui or xdotool as the rest of the desktop does.
#pragma once

#include "support/coroutine.hpp"

namespace desktop_access::linux_desktop {

// The request for the acting program: `op` and the element's locator from its record
// (bus_name, pid, path, role, name). An empty object when the record lacks them.
py::object acting_request(py::handle record, const char* op);

// Runs the acting program with `request` (a dict) and returns its answer object. A
// program that prints nothing gives {"success": False, "error": "AT-SPI2 failed: ..."}.
support::Coroutine run_acting(py::object self, py::object request);

// The screen point at the middle of the rectangle an answer gives ("rectangle",
// "window_relative", "window"), as the tuple (x, y); None when it gives none. The
// element's window is activated first (activate_window).
// GTK 4 rectangles are inside the window: the window's origin is added.
support::Coroutine answer_point(py::object self, py::object answer, py::object pid);

// Activates the visible X window of process `pid` titled `name` (the process's only
// one when none has that title) and returns its id; None when there is none or
// xdotool is missing.
support::Coroutine activate_window(py::object self, py::object pid, py::object name);

// Whether the pointer can click: pyautogui, else xdotool.
bool can_point(py::handle self);

// Clicks (twice with `double_click`) at the point (x, y).
support::Coroutine point_and_click(py::object self, py::object point, bool double_click);

}  // namespace desktop_access::linux_desktop
