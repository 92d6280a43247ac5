#include "screen_operator/keys.hpp"

#include <array>
#include <utility>

namespace screen_operator {

namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 27> kKeyMap{{
    {"Return", "enter"},        {"return", "enter"},       {"Enter", "enter"},    {"BackSpace", "backspace"},
    {"Backspace", "backspace"}, {"Delete", "delete"},      {"Escape", "escape"},  {"Tab", "tab"},
    {"space", "space"},         {"Space", "space"},        {"Up", "up"},          {"Down", "down"},
    {"Left", "left"},           {"Right", "right"},        {"Home", "home"},      {"End", "end"},
    {"Page_Up", "pageup"},      {"Page_Down", "pagedown"}, {"super", "win"},      {"Super_L", "win"},
    {"Super_R", "win"},         {"ctrl", "ctrl"},          {"Control_L", "ctrl"}, {"alt", "alt"},
    {"Alt_L", "alt"},           {"shift", "shift"},        {"Shift_L", "shift"},
}};

}  // namespace

std::optional<std::string_view> mapped_key_name(std::string_view name) {
  for (const auto& [given, pressed] : kKeyMap) {
    if (given == name) return pressed;
  }
  return std::nullopt;
}

bool scrolls_horizontally(std::string_view direction) { return direction == "left" || direction == "right"; }

bool scrolls_forward(std::string_view direction) { return direction == "up" || direction == "right"; }

}  // namespace screen_operator
