#include "support/python.hpp"

PYBIND11_MODULE(screen_operator, m) {
  m.doc() = "Executor of the model's screen-control tool: screenshots, mouse and keyboard.";
  m.attr("API_MAX_LONG_EDGE") = 1568;
  m.attr("API_MAX_TOTAL_PIXELS") = 1150000;
  m.attr("logger") = support::import("logging").attr("getLogger")("nebrix.pc.screen_operator");
}
