// Text placed inside an AppleScript string literal. Every value that goes into a script
// sent to osascript (process names, window titles, element names, typed text, key
// names) passes through applescript_escape, so no value can change a script's statements.
#pragma once

#include <string>
#include <string_view>

namespace desktop_access {

// The body of a string literal that reads back as `text` (UTF-8): backslashes doubled,
// then each double quote preceded by a backslash; line feed, return and tab written as
// \n, \r and \t, which AppleScript turns back into those characters (so typed text keeps
// its exact line breaks and a script stays one statement per line). Every other
// character, control characters and non-ASCII included, stands as itself: only a
// double quote ends a literal and only a backslash starts an escape. A NUL character
// cannot travel in a program argument; starting osascript fails on it (ValueError), so
// such a value fails its call before any script runs.
std::string applescript_escape(std::string_view text);

// `text` escaped and between double quotes: a whole string literal.
std::string applescript_string(std::string_view text);

}  // namespace desktop_access
