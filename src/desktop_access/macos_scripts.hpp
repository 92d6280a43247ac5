// The AppleScript texts of the macOS backend, addressed to System Events. Values are
// UTF-8 and go in as string literals made by applescript_string. Answers that are read
// line by line write each name and value on one line (line breaks become spaces), and
// the element lookups compare names written the same way.
#pragma once

#include <string>
#include <string_view>

namespace desktop_access::macos_scripts {

// The name of the frontmost process (one line).
std::string frontmost_process();

// The name of the first visible process with a window whose name contains `title`,
// or the empty text.
std::string process_with_window(std::string_view title);

// Brings process `app` to the front and answers "Window: {name of window 1}", an empty
// line, then one line per element of the window's entire contents: role, title,
// description, value and enabled flag joined by "|". "Error reading UI: ..." ends the
// answer when the walk fails.
std::string element_tree(std::string_view app);

// Finds the first element of the first window of `app` whose title or description is
// `name` and clicks it: answers "clicked", "not_found" or "error:" and a message.
std::string click_element(std::string_view app, std::string_view name);

// As click_element, then types `text` (after selecting all with `clear_first`, pressing
// return after it with `press_enter`): answers "typed", "not_found" or "error:...".
std::string type_into_element(std::string_view app, std::string_view name, std::string_view text,
                              bool clear_first, bool press_enter);

// The name of window 1 of process `app` (one line).
std::string first_window_name(std::string_view app);

// One line "process|window name" per window of each visible process.
std::string window_list();

// Brings the first process with a window whose name contains `title` to the front and
// answers its name, or the empty text.
std::string focus_window(std::string_view title);

}  // namespace desktop_access::macos_scripts
