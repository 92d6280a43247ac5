#include "desktop_access/key_names.hpp"

#include "desktop_access/applescript.hpp"
#include "desktop_access/snapshot_text.hpp"

#include <optional>
#include <utility>

namespace desktop_access {

namespace {

template <class Value, std::size_t N>
using Table = std::pair<std::string_view, Value>[N];

template <class Value, std::size_t N>
std::optional<Value> lookup(const Table<Value, N>& table, std::string_view name) {
  for (const auto& [entry, value] : table) {
    if (entry == name) {
      return value;
    }
  }
  return std::nullopt;
}

constexpr Table<std::string_view, 19> kWindowsKeys = {
    {"enter", "{ENTER}"},   {"tab", "{TAB}"},   {"escape", "{ESC}"}, {"backspace", "{BACKSPACE}"},
    {"delete", "{DELETE}"}, {"up", "{UP}"},     {"down", "{DOWN}"},  {"left", "{LEFT}"},
    {"right", "{RIGHT}"},   {"home", "{HOME}"}, {"end", "{END}"},    {"pageup", "{PGUP}"},
    {"pagedown", "{PGDN}"}, {"f1", "{F1}"},     {"f2", "{F2}"},      {"f3", "{F3}"},
    {"f4", "{F4}"},         {"f5", "{F5}"},     {"space", " "},
};

constexpr Table<std::string_view, 6> kWindowsModifiers = {
    {"ctrl", "^"}, {"control", "^"}, {"alt", "%"}, {"shift", "+"}, {"win", "#"}, {"windows", "#"},
};

constexpr Table<std::string_view, 7> kMacosModifiers = {
    {"ctrl", "control down"}, {"control", "control down"}, {"alt", "option down"},    {"shift", "shift down"},
    {"cmd", "command down"},  {"command", "command down"}, {"super", "command down"},
};

// Keys sent by key code rather than typed.
constexpr std::string_view kMacosSpecialKeys[] = {"enter", "tab",  "escape", "backspace", "delete",
                                                  "up",    "down", "left",   "right",     "space"};

constexpr Table<int, 20> kMacosKeyCodes = {
    {"return", 36}, {"enter", 36},  {"tab", 48},  {"space", 49},   {"backspace", 51},
    {"delete", 51}, {"escape", 53}, {"up", 126},  {"down", 125},   {"left", 123},
    {"right", 124}, {"home", 115},  {"end", 119}, {"pageup", 116}, {"pagedown", 121},
    {"f1", 122},    {"f2", 120},    {"f3", 99},   {"f4", 118},     {"f5", 96},
};

// X key names (lower-cased) whose pyautogui name differs, where the meaning is certain.
constexpr Table<std::string_view, 34> kXKeyAliases = {
    {"page_down", "pagedown"},
    {"page_up", "pageup"},
    {"next", "pagedown"},
    {"prior", "pageup"},
    {"control", "ctrl"},
    {"control_l", "ctrlleft"},
    {"control_r", "ctrlright"},
    {"shift_l", "shiftleft"},
    {"shift_r", "shiftright"},
    {"alt_l", "altleft"},
    {"alt_r", "altright"},
    {"super", "win"},
    {"super_l", "winleft"},
    {"super_r", "winright"},
    {"caps_lock", "capslock"},
    {"num_lock", "numlock"},
    {"scroll_lock", "scrolllock"},
    {"menu", "apps"},
    {"kp_enter", "enter"},
    {"kp_add", "add"},
    {"kp_subtract", "subtract"},
    {"kp_multiply", "multiply"},
    {"kp_divide", "divide"},
    {"kp_decimal", "decimal"},
    {"kp_0", "num0"},
    {"kp_1", "num1"},
    {"kp_2", "num2"},
    {"kp_3", "num3"},
    {"kp_4", "num4"},
    {"kp_5", "num5"},
    {"kp_6", "num6"},
    {"kp_7", "num7"},
    {"kp_8", "num8"},
    {"kp_9", "num9"},
};

constexpr int kMacosReturnKeyCode = 36;
constexpr std::string_view kSystemEvents = "tell application \"System Events\" to ";

}  // namespace

bool is_combination(std::string_view key) { return key.find('+') != std::string_view::npos; }

std::string windows_key_text(std::string_view key, std::string_view lowered) {
  if (!is_combination(lowered)) {
    return std::string(lookup(kWindowsKeys, lowered).value_or(key));
  }
  const std::vector<std::string_view> parts = split(lowered, '+');
  std::string text;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    text.append(lookup(kWindowsModifiers, parts[i]).value_or(""));
  }
  text.append(lookup(kWindowsKeys, parts.back()).value_or(parts.back()));
  return text;
}

std::string macos_key_script(std::string_view lowered) {
  std::string script(kSystemEvents);
  if (is_combination(lowered)) {
    const std::vector<std::string_view> parts = split(lowered, '+');
    std::string modifiers;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
      if (std::optional<std::string_view> phrase = lookup(kMacosModifiers, parts[i])) {
        modifiers.append(modifiers.empty() ? "" : ", ").append(*phrase);
      }
    }
    return script.append("keystroke \"")
        .append(applescript_escape(parts.back()))
        .append("\" using {")
        .append(modifiers)
        .append("}");
  }
  for (std::string_view special : kMacosSpecialKeys) {
    if (special == lowered) {
      return script.append("key code ").append(std::to_string(macos_keycode(lowered)));
    }
  }
  return script.append("keystroke \"").append(applescript_escape(lowered)).append("\"");
}

std::string_view pyautogui_key_name(std::string_view lowered) {
  return lookup(kXKeyAliases, lowered).value_or(lowered);
}

int macos_keycode(std::string_view lowered) {
  return lookup(kMacosKeyCodes, lowered).value_or(kMacosReturnKeyCode);
}

}  // namespace desktop_access
