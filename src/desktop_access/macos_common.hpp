// Shared ground of the macOS backend's parts: text between Python and AppleScript, and
// osascript runs.
#pragma once

#include "support/coroutine.hpp"

namespace desktop_access::macos {

// record.get(key, "") as text: a missing or None entry reads as "".
py::str record_text(py::handle record, const char* key);

// Runs `osascript -e script` and returns the tuple (stdout, stderr) of bytes.
support::Coroutine run_script(py::str script, py::int_ seconds);

// Runs a script and returns its standard output, decoded strictly as UTF-8 and stripped.
support::Coroutine script_answer(py::str script, py::int_ seconds);

py::str decoded_leniently(py::handle bytes);

}  // namespace desktop_access::macos
