// Actions on the element of a Windows ref: the element's own pattern first (Invoke,
// Value, SelectionItem, Toggle), then synthetic input through the UI Automation
// package, and for click and type pyautogui at the element's centre last. The blocking
// attempts run on a worker thread; the pyautogui fallback runs on the loop thread.
#include "desktop_access/windows.hpp"
#include "desktop_access/windows_common.hpp"

namespace desktop_access::uia {

namespace {

using namespace pybind11::literals;
using support::Coroutine;

constexpr double kAfterClickSeconds = 0.1;
constexpr double kAfterSelectAllSeconds = 0.05;
constexpr double kAfterExpandSeconds = 0.2;
constexpr double kKeyIntervalSeconds = 0.02;

// --- blocking attempts (worker thread) ------------------------------------------------

// pattern.action() when the pattern (as `get_pattern` gives it) is there.
template <class GetPattern>
bool through_pattern(GetPattern&& get_pattern, const char* action) {
  return attempted([&] {
    py::object pattern = get_pattern();
    if (!args::to_bool(pattern)) {
      return false;
    }
    pattern.attr(action)();
    return true;
  });
}

void click_element_sync(py::object, py::object element, py::object backend, py::object double_click) {
  const bool twice = args::to_bool(double_click);
  if (is_uiautomation(backend)) {
    if (twice) {
      element.attr("DoubleClick")();
      return;
    }
    if (!through_pattern([&] { return element.attr("GetInvokePattern")(); }, "Invoke")) {
      element.attr("Click")();
    }
    return;
  }
  // An Invoke pattern serves a double click too: invoking twice would act twice.
  if (!through_pattern([&] { return element.attr("iface_invoke"); }, "Invoke")) {
    element.attr(twice ? "double_click_input" : "click_input")();
  }
}

// SetValue on the value pattern (emptied first when `clear_first`); `press_enter` sends
// Enter through `send_enter`. False when there is no pattern or it failed; `value_set`
// then tells whether the text went in before the failure (only Enter failed).
template <class GetPattern, class SendEnter>
bool set_through_value_pattern(GetPattern&& get_pattern, py::handle text, bool clear_first, bool press_enter,
                               SendEnter&& send_enter, bool& value_set) {
  return attempted([&] {
    py::object pattern = get_pattern();
    if (!args::to_bool(pattern)) {
      return false;
    }
    if (clear_first) {
      pattern.attr("SetValue")("");
    }
    pattern.attr("SetValue")(text);
    value_set = true;
    if (press_enter) {
      send_enter();
    }
    return true;
  });
}

void type_uiautomation(py::handle control, py::handle text, bool clear_first, bool press_enter) {
  py::module_ automation = support::import("uiautomation");
  auto send_keys = [&](auto&&... keys) {
    automation.attr("SendKeys")(std::forward<decltype(keys)>(keys)...);
  };
  bool value_set = false;
  if (set_through_value_pattern([&] { return control.attr("GetValuePattern")(); }, text, clear_first,
                                press_enter, [&] { send_keys("{Enter}"); }, value_set)) {
    return;
  }
  control.attr("Click")();
  sleep_on_worker(kAfterClickSeconds);
  if (clear_first || value_set) {
    send_keys("{Ctrl}a");
    sleep_on_worker(kAfterSelectAllSeconds);
  }
  send_keys(text, "interval"_a = kKeyIntervalSeconds);
  if (press_enter) {
    send_keys("{Enter}");
  }
}

// The text as pywinauto's key notation types it literally: its special characters
// (modifiers + ^ % ~, grouping parentheses and braces) each wrapped in braces.
py::object literal_keys(py::handle text) {
  if (!PyUnicode_Check(text.ptr())) {
    return py::reinterpret_borrow<py::object>(text);
  }
  const Py_ssize_t length = PyUnicode_GET_LENGTH(text.ptr());
  const int kind = PyUnicode_KIND(text.ptr());
  const void* data = PyUnicode_DATA(text.ptr());
  py::list pieces;
  Py_ssize_t start = 0;
  for (Py_ssize_t i = 0; i < length; ++i) {
    const Py_UCS4 c = PyUnicode_READ(kind, data, i);
    if (c == '+' || c == '^' || c == '%' || c == '~' || c == '(' || c == ')' || c == '{' || c == '}') {
      pieces.append(text[py::slice(start, i, 1)]);
      pieces.append(py::str("{{{}}}").format(text[py::slice(i, i + 1, 1)]));
      start = i + 1;
    }
  }
  if (start == 0) {
    return py::reinterpret_borrow<py::object>(text);
  }
  pieces.append(text[py::slice(start, length, 1)]);
  return py::str("").attr("join")(pieces);
}

void type_pywinauto(py::handle wrapper, py::handle text, bool clear_first, bool press_enter) {
  auto type_keys = [&](auto&&... keys) { wrapper.attr("type_keys")(std::forward<decltype(keys)>(keys)...); };
  bool value_set = false;
  if (set_through_value_pattern([&] { return wrapper.attr("iface_value"); }, text, clear_first, press_enter,
                                [&] { type_keys("{ENTER}"); }, value_set)) {
    return;
  }
  wrapper.attr("click_input")();
  sleep_on_worker(kAfterClickSeconds);
  if (clear_first || value_set) {
    type_keys("^a", "set_foreground"_a = false);
    sleep_on_worker(kAfterSelectAllSeconds);
  }
  type_keys(literal_keys(text), "with_spaces"_a = true, "set_foreground"_a = false);
  if (press_enter) {
    type_keys("{ENTER}", "set_foreground"_a = false);
  }
}

// When the value pattern fails, the text is typed on the element instead. If the value
// went in and only Enter failed, the typing selects all first so that the text replaces
// itself instead of appearing twice.
void type_element_sync(py::object, py::object element, py::object backend, py::object text,
                       py::object clear_first, py::object press_enter) {
  const bool clear = args::to_bool(clear_first);
  const bool enter = args::to_bool(press_enter);
  if (is_uiautomation(backend)) {
    type_uiautomation(element, text, clear, enter);
  } else {
    type_pywinauto(element, text, clear, enter);
  }
}

[[noreturn]] void raise_not_selected(py::handle value) {
  py::str message = py::str("Could not select '{}'").format(value);
  PyErr_SetObject(PyExc_RuntimeError, message.ptr());
  throw py::error_already_set();
}

// Opens the list if it can, then selects (or, failing that, clicks) the first item
// whose name contains `value`, compared in lower case.
bool select_uiautomation(py::handle control, py::handle value) {
  return attempted([&] {
    control.attr("GetSelectionPattern")();
    attempted([&] {
      py::object expander = control.attr("GetExpandCollapsePattern")();
      if (args::to_bool(expander)) {
        expander.attr("Expand")();
        sleep_on_worker(kAfterExpandSeconds);
      }
      return true;
    });
    py::object wanted = value.attr("lower")();
    for (py::handle item : control.attr("GetChildren")()) {
      py::object name = item.attr("Name");
      if (!args::to_bool(name) || !contains(name.attr("lower")(), wanted)) {
        continue;
      }
      bool selected = false;
      const bool pattern_worked = attempted([&] {
        py::object selection_item = item.attr("GetSelectionItemPattern")();
        if (args::to_bool(selection_item)) {
          selection_item.attr("Select")();
          selected = true;
        }
        return true;
      });
      if (!pattern_worked) {
        item.attr("Click")();  // a failing pattern: the item is clicked instead
      }
      if (!pattern_worked || selected) {
        return true;
      }
    }
    return false;
  });
}

bool select_pywinauto(py::handle wrapper, py::handle value) {
  if (attempted([&] {
        wrapper.attr("select")(value);
        return true;
      })) {
    return true;
  }
  return attempted([&] {
    wrapper.attr("expand")();
    sleep_on_worker(kAfterExpandSeconds);
    wrapper.attr("child_window")("title_re"_a = containing_pattern(value)).attr("click_input")();
    return true;
  });
}

void select_element_sync(py::object, py::object element, py::object backend, py::object value) {
  const bool selected =
      is_uiautomation(backend) ? select_uiautomation(element, value) : select_pywinauto(element, value);
  if (!selected) {
    raise_not_selected(value);
  }
}

void toggle_element_sync(py::object, py::object element, py::object backend) {
  if (is_uiautomation(backend)) {
    if (!through_pattern([&] { return element.attr("GetTogglePattern")(); }, "Toggle")) {
      element.attr("Click")();
    }
    return;
  }
  if (!through_pattern([&] { return element.attr("iface_toggle"); }, "Toggle")) {
    element.attr("click_input")();
  }
}

py::object midpoint(py::handle low, py::handle high) {
  py::object sum = support::steal(PyNumber_Add(low.ptr(), high.ptr()));
  return support::steal(PyNumber_FloorDivide(sum.ptr(), py::int_(2).ptr()));
}

// The centre of the element's bounding rectangle, with floor division.
py::tuple element_center_sync(py::object element, py::object backend) {
  py::object rectangle =
      is_uiautomation(backend) ? element.attr("BoundingRectangle") : element.attr("rectangle")();
  py::object x = midpoint(rectangle.attr("left"), rectangle.attr("right"));
  py::object y = midpoint(rectangle.attr("top"), rectangle.attr("bottom"));
  return py::make_tuple(x, y);
}

// --- coroutines (loop thread) ----------------------------------------------------------

py::object record_element(py::handle record) { return record.attr("get")("element"); }

py::object record_backend(py::handle record) { return record.attr("get")("backend", "pywinauto"); }

py::object async_sleep(double seconds) { return support::import("asyncio").attr("sleep")(seconds); }

Coroutine element_center(py::object, py::object element, py::object backend) {
  try {
    co_return co_await in_default_executor(py::cpp_function(&element_center_sync), element, backend);
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    co_return py::none();
  }
}

Coroutine click_ref_windows(py::object self, py::object ref, py::object elem_info, py::object double_click) {
  py::object element = record_element(elem_info);
  py::object backend = record_backend(elem_info);
  py::object native_error;
  try {
    co_await in_default_executor(self.attr("_click_element_sync"), element, backend, double_click);
    co_return py::dict("success"_a = true,
                       "action"_a = args::to_bool(double_click) ? "double_click" : "click", "ref"_a = ref,
                       "element"_a = element_label(elem_info), "hint"_a = kUpdatedStateHint);
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    native_error = support::exception_text(error.value());
  }
  try {
    py::object center = co_await self.attr("_get_element_center")(element, backend);
    if (!center.is_none() && flag(self, "_pyautogui_available")) {
      py::object pyautogui = support::import("pyautogui");
      pyautogui.attr(args::to_bool(double_click) ? "doubleClick" : "click")(center[py::int_(0)],
                                                                            center[py::int_(1)]);
      co_return py::dict("success"_a = true, "action"_a = "click (coordinate fallback)", "ref"_a = ref,
                         "element"_a = element_label(elem_info), "coordinates"_a = center);
    }
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
  }
  co_return ref_failure(native_error, ref);
}

Coroutine type_ref_windows(py::object self, py::object ref, py::object elem_info, py::object text,
                           py::object clear_first, py::object press_enter) {
  py::object element = record_element(elem_info);
  py::object backend = record_backend(elem_info);
  py::object native_error;
  try {
    co_await in_default_executor(self.attr("_type_element_sync"), element, backend, text, clear_first,
                                 press_enter);
    co_return py::dict("success"_a = true, "action"_a = "type", "ref"_a = ref,
                       "element"_a = element_label(elem_info), "text"_a = text,
                       "pressed_enter"_a = press_enter);
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    native_error = support::exception_text(error.value());
  }
  try {
    py::object center = co_await self.attr("_get_element_center")(element, backend);
    if (!center.is_none() && flag(self, "_pyautogui_available")) {
      py::object pyautogui = support::import("pyautogui");
      pyautogui.attr("click")(center[py::int_(0)], center[py::int_(1)]);
      co_await async_sleep(kAfterClickSeconds);
      if (args::to_bool(clear_first)) {
        pyautogui.attr("hotkey")("ctrl", "a");
        co_await async_sleep(kAfterSelectAllSeconds);
      }
      if (args::to_bool(text.attr("isascii")())) {
        pyautogui.attr("typewrite")(text, "interval"_a = kKeyIntervalSeconds);
      } else {
        pyautogui.attr("write")(text);
      }
      if (args::to_bool(press_enter)) {
        pyautogui.attr("press")("enter");
      }
      co_return py::dict("success"_a = true, "action"_a = "type (keyboard fallback)", "ref"_a = ref,
                         "text"_a = text);
    }
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
  }
  co_return ref_failure(native_error, ref);
}

}  // namespace

void register_actions(support::PlainClass& methods) {
  methods
      .def_coroutine("_click_ref_windows", &click_ref_windows, py::arg("ref"), py::arg("elem_info"),
                     py::arg("double_click"), py::doc("Click element on Windows using UIA."))
      .def_coroutine("_type_ref_windows", &type_ref_windows, py::arg("ref"), py::arg("elem_info"),
                     py::arg("text"), py::arg("clear_first"), py::arg("press_enter"),
                     py::doc("Type text on Windows."))
      .def_coroutine("_get_element_center", &element_center, py::arg("element"), py::arg("backend"),
                     py::doc("Get the center coordinates of an element (Windows UIA)."))
      .def("_click_element_sync", &click_element_sync, py::arg("element"), py::arg("backend"),
           py::arg("double_click"), py::doc("Synchronous click using UIA patterns (Windows)."))
      .def("_type_element_sync", &type_element_sync, py::arg("element"), py::arg("backend"), py::arg("text"),
           py::arg("clear_first"), py::arg("press_enter"),
           py::doc("Synchronous type using UIA ValuePattern or keyboard input (Windows)."))
      .def("_select_element_sync", &select_element_sync, py::arg("element"), py::arg("backend"),
           py::arg("value"), py::doc("Synchronous select using UIA SelectionPattern."))
      .def("_toggle_element_sync", &toggle_element_sync, py::arg("element"), py::arg("backend"),
           py::doc("Synchronous toggle using UIA TogglePattern."));
}

}  // namespace desktop_access::uia
