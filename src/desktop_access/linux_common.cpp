#include "desktop_access/linux_common.hpp"

#include "desktop_access/process.hpp"

namespace desktop_access::linux_desktop {

support::Coroutine xdotool(py::tuple argv, py::object seconds) {
  py::tuple output = co_await run_captured(argv, seconds);
  co_return output[0].attr("decode")("utf-8").attr("strip")();
}

py::str first_line(py::handle text) { return text.attr("split")("\n")[py::int_(0)]; }

py::str decoded(py::handle bytes, const char* errors) {
  return bytes.attr("decode")("utf-8", errors).attr("strip")();
}

}  // namespace desktop_access::linux_desktop
