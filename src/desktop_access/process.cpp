#include "desktop_access/process.hpp"

#include "desktop_access/desktop_access.hpp"

#include <optional>

namespace desktop_access {

namespace {

using namespace pybind11::literals;

void kill_if_running(const py::object& process) {
  if (!process.attr("returncode").is_none()) {
    return;
  }
  try {
    process.attr("kill")();
  } catch (py::error_already_set& error) {
    // It ended in the meantime.
    if (!error.matches(PyExc_ProcessLookupError)) {
      throw;
    }
  }
}

}  // namespace

support::Coroutine run_captured(py::tuple argv, py::object seconds) {
  py::module_ asyncio = support::import("asyncio");
  py::module_ subprocess = support::import("asyncio.subprocess");
  py::object process = co_await asyncio.attr("create_subprocess_exec")(
      *argv, "stdin"_a = subprocess.attr("DEVNULL"), "stdout"_a = subprocess.attr("PIPE"),
      "stderr"_a = subprocess.attr("PIPE"));
  std::optional<py::error_already_set> failed;
  try {
    py::object output = co_await asyncio.attr("wait_for")(process.attr("communicate")(), seconds);
    co_return output;
  } catch (py::error_already_set& error) {
    failed = std::move(error);
  }
  // A child that overran its time or whose caller gave up is not left running.
  kill_if_running(process);
  if (!failed->matches(PyExc_TimeoutError)) {
    throw *failed;
  }
  co_await process.attr("wait")();
  py::str message = py::str("{} timed out after {} seconds").format(argv[0], seconds);
  PyErr_SetObject(PyExc_TimeoutError, message.ptr());
  throw py::error_already_set();
}

}  // namespace desktop_access
