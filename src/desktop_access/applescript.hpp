// Text placed between double quotes in an AppleScript statement.
#pragma once

#include <string>
#include <string_view>

namespace desktop_access {

// Backslashes doubled, then each double quote preceded by a backslash, so the text
// stays one string literal whatever it holds.
std::string applescript_escape(std::string_view text);

}  // namespace desktop_access
