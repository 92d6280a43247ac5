// Child processes started from the event loop: an argument vector (never a shell),
// standard output and error captured, a time limit per call.
#pragma once

#include "support/coroutine.hpp"

namespace desktop_access {

// Awaits the child's end and returns the tuple (stdout, stderr) of bytes. When
// `seconds` pass first, the child is killed and TimeoutError("{program} timed out
// after {seconds} seconds") is raised; a cancelled call kills the child too. A
// program that cannot be started raises what asyncio raises (FileNotFoundError, ...).
support::Coroutine run_captured(py::tuple argv, py::object seconds);

}  // namespace desktop_access
