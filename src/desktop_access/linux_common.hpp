// Shared ground of the Linux backend's parts: xdotool, the window manager's list of
// top-level windows and the text of their answers.
#pragma once

#include "support/coroutine.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace desktop_access::linux_desktop {

inline constexpr int kXdotoolSeconds = 5;

// Runs an xdotool command and returns its standard output, decoded strictly and stripped.
support::Coroutine xdotool(py::tuple argv, py::object seconds);

// The text up to the first line break.
py::str first_line(py::handle text);

// Bytes decoded as UTF-8 with `errors`, stripped.
py::str decoded(py::handle bytes, const char* errors);

// A window title as X gives it, stripped: UTF-8, or Latin-1 (the encoding of a plain
// STRING property) when the bytes are not UTF-8, so that no title is refused.
py::str title_text(py::handle bytes);

// The decimal ids of the windows in `xprop -root _NET_CLIENT_LIST` output
// ("_NET_CLIENT_LIST(WINDOW): window id # 0x1e00003, 0x2200003"), in order.
std::vector<std::string> client_list_ids(std::string_view xprop_output);

// Every managed top-level window with a title, in the window manager's order, at most
// `limit` examined: a list of {"id": decimal id text, "title": title}.
support::Coroutine client_windows(Py_ssize_t limit, int title_seconds);

// The first window of `windows` (as client_windows gives them) whose title is `title`,
// else whose title `title` matches as a regular expression (ignoring case), else whose
// title holds `title` ignoring case; an empty object when none does.
py::object find_window(py::handle windows, py::handle title);

// The title of a window id, read with getwindowname.
support::Coroutine window_title_of(py::object window_id, int seconds = kXdotoolSeconds);

// The decimal id of the active window, "" when there is none.
support::Coroutine active_window_id();

}  // namespace desktop_access::linux_desktop
