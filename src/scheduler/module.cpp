#include "support/python.hpp"

PYBIND11_MODULE(scheduler, m) {
  m.doc() = "Persistent job scheduler: cron, interval and one-shot jobs fired on the host's event loop.";
  m.attr("logger") = support::import("logging").attr("getLogger")("nebrix.scheduler");
}
