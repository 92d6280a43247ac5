// Key names and combinations ('ctrl+a') in each platform's keyboard vocabulary: the
// send_keys notation of pywinauto and the keystroke / key code statements of AppleScript.
// Every function takes the key already lower-cased unless it says otherwise.
#pragma once

#include <string>
#include <string_view>

namespace desktop_access {

// A key holding "+" is a combination: modifiers, then the key last.
bool is_combination(std::string_view key);

// send_keys text: a combination becomes modifier prefixes (^ % + #) and the key's name in
// braces ('ctrl+shift+s' is '^+s', 'alt+f4' is '%{F4}'); a single key not in the table
// is sent as given, in its original case.
std::string windows_key_text(std::string_view key, std::string_view lowered);

// One AppleScript line addressed to System Events: keystroke with a `using` list for a
// combination, key code for the special keys (enter, tab, arrows, ...), keystroke else.
std::string macos_key_script(std::string_view lowered);

// pyautogui's name of a key given by its X name (page_down is pagedown, control_l is
// ctrlleft, kp_1 is num1, ...); any other name unchanged.
std::string_view pyautogui_key_name(std::string_view lowered);

// The macOS virtual key code of a key name, 36 (return) for a name not in the table.
int macos_keycode(std::string_view lowered);

}  // namespace desktop_access
