// Element actions on macOS: the element looked up by name in the application's front
// window, clicked or typed into by System Events.
#include "desktop_access/core.hpp"
#include "desktop_access/macos.hpp"
#include "desktop_access/macos_common.hpp"
#include "desktop_access/macos_scripts.hpp"
#include "support/args.hpp"

namespace desktop_access {

namespace {

using namespace pybind11::literals;
using namespace macos;
namespace args = support::args;
namespace scripts = macos_scripts;
using support::Coroutine;

constexpr int kElementActionSeconds = 15;

// The name the click and type scripts look the element up by: its title, else its description.
py::str search_name_of(py::handle record) {
  py::str title = record_text(record, "title");
  return is_empty(title) ? record_text(record, "description") : title;
}

Coroutine click_ref(py::object ref, py::object elem_info, py::object double_click) {
  py::str name = search_name_of(elem_info);
  if (is_empty(name)) {
    co_return ref_failure(py::str("Element has no identifiable name for clicking"), ref);
  }
  py::str script = support::from_utf8(
      scripts::click_element(support::utf8_view(record_text(elem_info, "app")), support::utf8_view(name)));
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
}

Coroutine type_ref(py::object ref, py::object elem_info, py::object text, py::object clear_first,
                   py::object press_enter) {
  py::str name = search_name_of(elem_info);
  // An empty name would match the first unnamed element of the window, which is
  // rarely the one meant: the text would go somewhere else and be reported as typed.
  if (is_empty(name)) {
    co_return ref_failure(py::str("Element has no identifiable name for typing"), ref);
  }
  const bool enter = args::to_bool(press_enter);
  py::str script = support::from_utf8(
      scripts::type_into_element(support::utf8_view(record_text(elem_info, "app")), support::utf8_view(name),
                                 support::utf8_view(text), args::to_bool(clear_first), enter));
  py::object answer = co_await script_answer(script, py::int_(kElementActionSeconds));
  if (answer.equal(py::str("typed"))) {
    co_return py::dict("success"_a = true, "action"_a = "type", "ref"_a = ref, "text"_a = text,
                       "pressed_enter"_a = enter);
  }
  if (answer.equal(py::str("not_found"))) {
    co_return ref_failure(py::str("Element '{}' not found").format(name), ref);
  }
  co_return ref_failure(answer, ref);
}

}  // namespace

void register_macos_actions(support::PlainClass& methods) {
  methods
      .def_coroutine(
          "_click_ref_macos",
          [](py::object, py::object ref, py::object elem_info, py::object double_click) {
            return answering_failures(click_ref(ref, elem_info, double_click), ref);
          },
          py::arg("ref"), py::arg("elem_info"), py::arg("double_click"))
      .def_coroutine(
          "_type_ref_macos",
          [](py::object, py::object ref, py::object elem_info, py::object text, py::object clear_first,
             py::object press_enter) {
            py::object checked_text = args::to_str(text, "text");
            return answering_failures(type_ref(ref, elem_info, checked_text, clear_first, press_enter), ref);
          },
          py::arg("ref"), py::arg("elem_info"), py::arg("text"), py::arg("clear_first"),
          py::arg("press_enter"));
}

}  // namespace desktop_access
