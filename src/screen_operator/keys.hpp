// The key and scroll vocabulary of the model, translated to the input layer's names.
#pragma once

#include <optional>
#include <string_view>

namespace screen_operator {

// The input layer's name for a key name the model uses ("Return" -> "enter",
// "Page_Down" -> "pagedown", "Super_L" -> "win"); exact and case-sensitive. Names not
// in the table are used in lower case by the caller.
std::optional<std::string_view> mapped_key_name(std::string_view name);

// On macOS the model's "ctrl" in a combination means the command key.
inline constexpr std::string_view kMacControlKey = "command";

// "left" and "right" scroll horizontally; every other direction vertically.
bool scrolls_horizontally(std::string_view direction);
// "up" and "right" scroll by +amount; "down", "left" and anything else by -amount.
bool scrolls_forward(std::string_view direction);

}  // namespace screen_operator
