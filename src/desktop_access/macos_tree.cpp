#include "desktop_access/macos_tree.hpp"

#include "desktop_access/snapshot_text.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

namespace desktop_access {

namespace {

// Parts of role names that make an AX role interactive even when the role is not in
// INTERACTIVE_TYPES (AXTable holds "Tab", AXMenuButton holds "Button").
constexpr std::array<std::string_view, 11> kInteractiveFragments = {
    "Button",      "CheckBox", "ComboBox", "TextField", "Link",    "MenuItem",
    "RadioButton", "Slider",   "Tab",      "PopUp",     "TextArea"};

// The code points for which Python's str.isspace is true.
bool is_python_space(std::uint32_t c) {
  return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

bool is_continuation_byte(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The code point of the UTF-8 sequence text[begin, end).
std::uint32_t decode(std::string_view text, std::size_t begin, std::size_t end) {
  const auto lead = static_cast<unsigned char>(text[begin]);
  const std::size_t length = end - begin;
  std::uint32_t c = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
  for (std::size_t i = begin + 1; i < end; ++i) {
    c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
  }
  return c;
}

// The end of the UTF-8 sequence that starts at `begin`.
std::size_t sequence_end(std::string_view text, std::size_t begin) {
  std::size_t end = begin + 1;
  while (end < text.size() && is_continuation_byte(static_cast<unsigned char>(text[end]))) {
    ++end;
  }
  return end;
}

// What Python's `s.lower() == "true"` says; no character outside ASCII lower-cases to
// one of these letters.
bool is_true(std::string_view flag) {
  // Setting bit 5 lower-cases an ASCII letter and turns no other byte into one of "true".
  constexpr std::string_view kTrue = "true";
  return std::equal(flag.begin(), flag.end(), kTrue.begin(), kTrue.end(),
                    [](char c, char t) { return (c | 0x20) == t; });
}

bool is_interactive(std::string_view role, const MacosRoleRules& rules) {
  if (rules.interactive_type(role)) {
    return true;
  }
  if (!role.starts_with("AX")) {
    return false;
  }
  for (std::string_view fragment : kInteractiveFragments) {
    if (role.find(fragment) != std::string_view::npos) {
      return true;
    }
  }
  return false;
}

// The role as shown: every "AX" removed (in one pass, as str.replace does), lower-cased.
std::string short_role(std::string_view role, const MacosRoleRules& rules) {
  std::string without_ax;
  without_ax.reserve(role.size());
  for (std::size_t i = 0; i < role.size();) {
    if (role.substr(i, 2) == "AX") {
      i += 2;
    } else {
      without_ax.push_back(role[i++]);
    }
  }
  return rules.lower(without_ax);
}

class TreeLines {
 public:
  // A new line, indented by one level unless `indented` is false; the text so far ends with it.
  std::string& next(bool indented = true) {
    if (!text_.empty()) {
      text_.push_back('\n');
    }
    return indented ? text_.append("  ") : text_;
  }

  std::string finish() && {
    if (text_.empty()) {
      text_ = "(No UI elements found)";
    }
    return std::move(text_);
  }

 private:
  std::string text_;
};

// The states a tree line's fields hold: its enabled flag, and the value of a check box
// (1 checked, 2 mixed) or radio button (1 selected).
std::vector<std::string_view> element_states(const MacosTreeElement& element, bool enabled) {
  std::vector<std::string_view> states;
  if (!enabled) {
    states.emplace_back("disabled");
  }
  if (element.role == "AXCheckBox" && element.value == "1") {
    states.emplace_back("checked");
  } else if (element.role == "AXCheckBox" && element.value == "2") {
    states.emplace_back("mixed");
  } else if (element.role == "AXRadioButton" && element.value == "1") {
    states.emplace_back("selected");
  }
  return states;
}

}  // namespace

std::string_view strip_whitespace(std::string_view utf8) {
  std::size_t begin = 0;
  while (begin < utf8.size()) {
    const std::size_t end = sequence_end(utf8, begin);
    if (!is_python_space(decode(utf8, begin, end))) {
      break;
    }
    begin = end;
  }
  std::size_t end = utf8.size();
  while (end > begin) {
    std::size_t start = end - 1;
    while (start > begin && is_continuation_byte(static_cast<unsigned char>(utf8[start]))) {
      --start;
    }
    if (!is_python_space(decode(utf8, start, end))) {
      break;
    }
    end = start;
  }
  return utf8.substr(begin, end - begin);
}

MacosTree render_macos_tree(std::string_view answer, const MacosRoleRules& rules,
                            const MacosTreeOptions& options) {
  MacosTree tree;
  TreeLines lines;
  std::size_t not_shown = 0;
  for (std::string_view raw_line : split(answer, '\n')) {
    const std::string_view line = strip_whitespace(raw_line);
    if (line.empty()) {
      continue;
    }
    if (line.starts_with("Window:") || line.starts_with("Error")) {
      lines.next(false).append(line);
      continue;
    }
    // A "|" inside a title shifts the fields after it; what lands past the fifth is dropped.
    const std::vector<std::string_view> fields = split(line, '|');
    if (fields.size() < 5) {
      continue;
    }
    const MacosTreeElement element{strip_whitespace(fields[0]), strip_whitespace(fields[1]),
                                   strip_whitespace(fields[2]), strip_whitespace(fields[3])};
    const bool enabled = is_true(strip_whitespace(fields[4]));
    const std::string_view display_name = element.title.empty() ? element.description : element.title;
    const bool interactive = is_interactive(element.role, rules);
    // Disabled interactive elements are listed only with their states, never with a ref.
    const bool listed_interactive = interactive && (enabled || options.states);
    const bool context =
        !(interactive && enabled) && rules.context_type(element.role) && !display_name.empty();
    if (!listed_interactive && !context) {
      continue;
    }
    if (options.max_elements && tree.refs.size() >= *options.max_elements) {
      ++not_shown;
      continue;
    }
    if (listed_interactive) {
      if (enabled) {
        tree.refs.push_back(element);
      }
      std::string& text = lines.next();
      append_element(text, enabled ? std::optional<long long>(tree.refs.size()) : std::nullopt,
                     short_role(element.role, rules), display_name, element.value);
      if (options.states) {
        append_states(text, element_states(element, enabled));
      }
    } else {
      append_context(lines.next(), short_role(element.role, rules), display_name);
    }
  }
  if (not_shown != 0) {
    lines.next(false).append(more_elements_line(not_shown));
  }
  tree.text = std::move(lines).finish();
  return tree;
}

}  // namespace desktop_access
