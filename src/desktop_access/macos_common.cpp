#include "desktop_access/macos_common.hpp"

#include "desktop_access/process.hpp"

namespace desktop_access::macos {

py::str record_text(py::handle record, const char* key) {
  py::object value = record.attr("get")(key, "");
  return value.is_none() ? py::str() : py::str(value);
}

support::Coroutine run_script(py::str script, py::int_ seconds) {
  co_return co_await run_captured(py::make_tuple("osascript", "-e", script), seconds);
}

support::Coroutine script_answer(py::str script, py::int_ seconds) {
  py::tuple output = co_await run_script(script, seconds);
  co_return output[0].attr("decode")("utf-8").attr("strip")();
}

py::str decoded_leniently(py::handle bytes) {
  return bytes.attr("decode")("utf-8", "replace").attr("strip")();
}

}  // namespace desktop_access::macos
