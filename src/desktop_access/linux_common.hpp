// Shared ground of the Linux backend's parts: xdotool and the text of its answers.
#pragma once

#include "support/coroutine.hpp"

namespace desktop_access::linux_desktop {

inline constexpr int kXdotoolSeconds = 5;

// Runs an xdotool command and returns its standard output, decoded strictly and stripped.
support::Coroutine xdotool(py::tuple argv, py::object seconds);

// The text up to the first line break.
py::str first_line(py::handle text);

// Bytes decoded as UTF-8 with `errors`, stripped.
py::str decoded(py::handle bytes, const char* errors);

}  // namespace desktop_access::linux_desktop
