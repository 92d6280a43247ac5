// Element actions on Linux: the acting program finds the element of a ref again and
// acts through AT-SPI2 (a named action, the text, the selection); what it cannot do
// there is done with the pointer at the element's place on the screen.
#include "desktop_access/linux.hpp"
#include "desktop_access/linux_acting.hpp"
#include "support/args.hpp"

namespace desktop_access {

namespace {

using namespace pybind11::literals;
using namespace linux_desktop;
using support::Coroutine;

constexpr const char* kNoPointer = "PyAutoGUI not available for clicking. Install: pip install pyautogui";
constexpr const char* kNoDirectClick =
    "Direct element clicking via AT-SPI2 is not yet supported. Use screenshot + coordinate-based click "
    "instead: "
    "desktop click x=100 y=200";
constexpr const char* kNoFocus = "The element cannot take the keyboard focus";
constexpr const char* kScreenshotHint = "Take a screenshot first, then click at the element's coordinates.";

// Role "name", as the snapshot line shows the element.
py::str linux_label(py::handle record) {
  return py::str("{} \"{}\"").format(record.attr("get")("role", ""), record.attr("get")("name", ""));
}

py::dict stale(py::handle ref) {
  return ref_failure(
      py::str("Ref [{}] no longer matches an element: the window changed or closed. Take a new "
              "desktop_snapshot() to get current refs.")
          .format(ref),
      ref);
}

bool succeeded(py::handle answer) { return support::args::to_bool(answer.attr("get")("success", false)); }

// The failure result of an answer that did not succeed.
py::dict answer_failure(py::handle answer, py::handle ref) {
  if (support::args::to_bool(answer.attr("get")("stale", false))) {
    return stale(ref);
  }
  return ref_failure(answer.attr("get")("error", "AT-SPI2 action failed"), ref);
}

// Runs the acting program on the record's element, or gives the stale answer when the
// record cannot name its element again.
Coroutine act(py::object self, py::object request) {
  if (!request) {
    co_return py::dict("success"_a = false, "stale"_a = true);
  }
  co_return co_await run_acting(self, request);
}

// Clicks with the pointer at the place the answer gives: the point clicked, or a
// failure result.
Coroutine click_at_place(py::object self, py::object ref, py::object record, py::object answer,
                         bool double_click) {
  if (!can_point(self)) {
    co_return ref_failure(py::str(kNoPointer), ref);
  }
  py::object point = co_await answer_point(self, answer, record.attr("get")("pid"));
  if (point.is_none()) {
    // Neither way can act: the answer Linux gave before it acted by ref.
    py::dict result = ref_failure(py::str(kNoDirectClick), ref);
    result["hint"] = kScreenshotHint;
    co_return result;
  }
  co_await point_and_click(self, point, double_click);
  co_return point;
}

// Clicks at the place the answer gives, then runs `read_back` to see the effect: its
// answer, or the failure result of either step.
Coroutine click_and_read_back(py::object self, py::object ref, py::object record, py::object answer,
                              py::object read_back) {
  py::object clicked = co_await click_at_place(self, ref, record, answer, false);
  if (PyDict_Check(clicked.ptr())) {
    co_return clicked;
  }
  py::object after = co_await run_acting(self, read_back);
  if (!succeeded(after)) {
    co_return answer_failure(after, ref);
  }
  co_return after;
}

// An error of the acting machinery (time limit, no interpreter) as a failure result.
template <class Body>
Coroutine guarded(py::object ref, Body body) {
  try {
    co_return co_await body();
  } catch (py::error_already_set& error) {
    support::rethrow_unless_ordinary(error);
    if (error.matches(PyExc_TimeoutError)) {
      co_return ref_failure(py::str("AT-SPI2 action timed out"), ref);
    }
    co_return ref_failure(support::exception_text(error.value()), ref);
  }
}

Coroutine click_ref(py::object self, py::object ref, py::object record, bool double_click) {
  // A double click is the pointer's: no AT-SPI2 action clicks twice.
  py::object answer = co_await act(self, acting_request(record, double_click ? "place" : "click"));
  if (!succeeded(answer)) {
    co_return answer_failure(answer, ref);
  }
  if (!answer.attr("get")("done").is_none()) {
    co_return py::dict("success"_a = true, "action"_a = "click", "ref"_a = ref,
                       "element"_a = linux_label(record), "hint"_a = kUpdatedStateHint);
  }
  py::object clicked = co_await click_at_place(self, ref, record, answer, double_click);
  if (PyDict_Check(clicked.ptr())) {
    co_return clicked;
  }
  if (double_click) {
    co_return py::dict("success"_a = true, "action"_a = "double_click", "ref"_a = ref,
                       "element"_a = linux_label(record), "hint"_a = kUpdatedStateHint,
                       "coordinates"_a = clicked);
  }
  co_return py::dict("success"_a = true, "action"_a = "click (coordinate fallback)", "ref"_a = ref,
                     "element"_a = linux_label(record), "coordinates"_a = clicked);
}

Coroutine type_ref(py::object self, py::object ref, py::object record, py::object text,
                   py::object clear_first, py::object press_enter) {
  py::object request = acting_request(record, "type");
  if (request) {
    request["text"] = text;
    request["clear_first"] = py::bool_(support::args::to_bool(clear_first));
    request["press_enter"] = py::bool_(support::args::to_bool(press_enter));
  }
  py::object answer = co_await act(self, request);
  if (succeeded(answer) && support::args::to_bool(answer.attr("get")("focus_needed", false))) {
    // Keys go to the focused window: the element's, once activated.
    co_await activate_window(self, record.attr("get")("pid"), answer["window"]);
    request["op"] = "keys";
    request["text"] = answer["text"];
    request["done"] = answer["done"];
    answer = co_await run_acting(self, request);
    if (succeeded(answer) && support::args::to_bool(answer.attr("get")("focus_click", false))) {
      // AT-SPI2 cannot focus the field: a click at its middle does, then the keys follow.
      py::object clicked = co_await click_at_place(self, ref, record, answer, false);
      if (PyDict_Check(clicked.ptr())) {
        co_return ref_failure(py::str(kNoFocus), ref);
      }
      request["clicked"] = true;
      answer = co_await run_acting(self, request);
    }
  }
  if (!succeeded(answer)) {
    co_return answer_failure(answer, ref);
  }
  const bool typed_in = answer.attr("get")("done").equal(py::str("editable"));
  co_return py::dict("success"_a = true, "action"_a = typed_in ? "type" : "type (keyboard fallback)",
                     "ref"_a = ref, "element"_a = linux_label(record), "text"_a = text,
                     "pressed_enter"_a = answer.attr("get")("pressed_enter", false),
                     "value"_a = answer.attr("get")("value", ""));
}

Coroutine select_ref(py::object self, py::object ref, py::object record, py::object value) {
  py::object request = acting_request(record, "select");
  if (request) {
    request["value"] = value;
  }
  py::object answer = co_await act(self, request);
  if (succeeded(answer) && support::args::to_bool(answer.attr("get")("focus_needed", false))) {
    // A GTK 4 combo box's popup takes keys: its window is activated before it opens.
    co_await activate_window(self, record.attr("get")("pid"), answer["window"]);
    request["op"] = "popup";
    answer = co_await run_acting(self, request);
  }
  if (!succeeded(answer)) {
    co_return answer_failure(answer, ref);
  }
  py::object option = answer.attr("get")("value", value);
  if (answer.attr("get")("done").is_none()) {
    // The option shows in the combo box's open list: clicked there, then checked.
    request["op"] = "shows";
    request["value"] = option;
    py::object shown = co_await click_and_read_back(self, ref, record, answer, request);
    if (!succeeded(shown)) {
      co_return shown;
    }
    if (!support::args::to_bool(shown.attr("get")("shows", false))) {
      co_return ref_failure(py::str("Could not select '{}'").format(value), ref);
    }
  }
  co_return py::dict("success"_a = true, "action"_a = "select", "ref"_a = ref,
                     "element"_a = linux_label(record), "value"_a = option);
}

Coroutine toggle_ref(py::object self, py::object ref, py::object record) {
  py::object answer = co_await act(self, acting_request(record, "toggle"));
  if (!succeeded(answer)) {
    co_return answer_failure(answer, ref);
  }
  py::object checked = answer.attr("get")("checked", false);
  if (answer.attr("get")("done").is_none()) {
    py::object request = acting_request(record, "checked");
    request["before"] = checked;
    py::object after = co_await click_and_read_back(self, ref, record, answer, request);
    if (!succeeded(after)) {
      co_return after;
    }
    checked = after.attr("get")("checked", false);
  }
  co_return py::dict("success"_a = true, "action"_a = "toggle", "ref"_a = ref,
                     "element"_a = linux_label(record), "checked"_a = checked);
}

}  // namespace

void register_linux_actions(support::PlainClass& methods) {
  methods
      .def_coroutine(
          "_click_ref_linux",
          [](py::object self, py::object ref, py::object elem_info, py::object double_click) {
            const bool twice = support::args::to_bool(double_click);
            return guarded(ref, [=] { return click_ref(self, ref, elem_info, twice); });
          },
          py::arg("ref"), py::arg("elem_info"), py::arg("double_click"))
      .def_coroutine(
          "_type_ref_linux",
          [](py::object self, py::object ref, py::object elem_info, py::object text, py::object clear_first,
             py::object press_enter) {
            return guarded(ref,
                           [=] { return type_ref(self, ref, elem_info, text, clear_first, press_enter); });
          },
          py::arg("ref"), py::arg("elem_info"), py::arg("text"), py::arg("clear_first"),
          py::arg("press_enter"))
      .def_coroutine(
          "_select_ref_linux",
          [](py::object self, py::object ref, py::object elem_info, py::object value) {
            return guarded(ref, [=] { return select_ref(self, ref, elem_info, value); });
          },
          py::arg("ref"), py::arg("elem_info"), py::arg("value"))
      .def_coroutine(
          "_toggle_ref_linux",
          [](py::object self, py::object ref, py::object elem_info) {
            return guarded(ref, [=] { return toggle_ref(self, ref, elem_info); });
          },
          py::arg("ref"), py::arg("elem_info"));
}

}  // namespace desktop_access
