#include "desktop_access/snapshot_text.hpp"

#include <algorithm>

namespace desktop_access {

namespace {

constexpr long long kMaxIndentLevels = 4;

bool is_continuation_byte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

bool is_ascii_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The length of the line break that starts at `at`, 0 if none does.
std::size_t line_break_at(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0U; };
  const unsigned char c = byte(at);
  if (c == '\r') {
    return byte(at + 1) == '\n' ? 2 : 1;
  }
  if (c == '\n' || c == '\v' || c == '\f' || (c >= 0x1C && c <= 0x1E)) {
    return 1;
  }
  if (c == 0xC2 && byte(at + 1) == 0x85) {
    return 2;  // U+0085
  }
  if (c == 0xE2 && byte(at + 1) == 0x80 && (byte(at + 2) == 0xA8 || byte(at + 2) == 0xA9)) {
    return 3;  // U+2028, U+2029
  }
  return 0;
}

std::string_view stripped(std::string_view text) {
  while (!text.empty() && is_ascii_space(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && is_ascii_space(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

std::string_view one_line(std::string_view text, std::string& buffer) {
  text = stripped(text);
  // Most names hold no byte that can start a line break: one pass finds out.
  std::size_t at = 0;
  while (at < text.size()) {
    const auto c = static_cast<unsigned char>(text[at]);
    if ((c < 0x20 || c == 0xC2 || c == 0xE2) && line_break_at(text, at) != 0) {
      break;
    }
    ++at;
  }
  if (at == text.size()) {
    return text;
  }
  buffer.assign(text.substr(0, at));
  while (at < text.size()) {
    const std::size_t length = line_break_at(text, at);
    if (length == 0) {
      buffer.push_back(text[at++]);
    } else {
      buffer.push_back(' ');
      at += length;
    }
  }
  return stripped(buffer);
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t at = text.find(separator); at != std::string_view::npos;
       at = text.find(separator, start)) {
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

std::string_view first_chars(std::string_view utf8, std::size_t count) {
  if (utf8.size() <= count) {
    return utf8;  // fewer bytes than characters asked for
  }
  std::size_t seen = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if (!is_continuation_byte(utf8[i]) && seen++ == count) {
      return utf8.substr(0, i);
    }
  }
  return utf8;
}

std::string more_elements_line(std::optional<std::size_t> not_shown) {
  if (!not_shown) {
    return "... more elements not shown";
  }
  const std::string digits = std::to_string(*not_shown);
  std::string line = "... ";
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) {
      line.push_back(',');
    }
    line.push_back(digits[i]);
  }
  return line + (*not_shown == 1 ? " more element not shown" : " more elements not shown");
}

void append_indent(std::string& line, long long depth) {
  line.append(static_cast<std::size_t>(2 * std::clamp(depth, 0LL, kMaxIndentLevels)), ' ');
}

void append_element(std::string& line, std::optional<long long> ref, std::string_view type,
                    std::string_view name, std::string_view value, std::size_t value_limit) {
  if (ref) {
    line.append("[").append(std::to_string(*ref)).append("] ");
  }
  line.append(type);
  if (!name.empty()) {
    line.append(" \"").append(name).append("\"");
  }
  if (!value.empty() && value != name) {
    line.append(" value=\"").append(first_chars(value, value_limit)).append("\"");
  }
}

void append_context(std::string& line, std::string_view type, std::string_view name, std::size_t name_limit,
                    bool ellipsis) {
  const std::string_view shown = first_chars(name, name_limit);
  line.append(type).append(": ").append(shown);
  if (ellipsis && shown.size() < name.size()) {
    line.append("...");
  }
}

void append_states(std::string& line, const std::vector<std::string_view>& states) {
  for (std::size_t i = 0; i < states.size(); ++i) {
    line.append(i == 0 ? " (" : ", ").append(states[i]);
  }
  if (!states.empty()) {
    line.push_back(')');
  }
}

SnapshotText::SnapshotText(std::string_view window, bool blank_line) {
  text_.reserve(4096);
  text_.append("Window: ").append(window);
  if (blank_line) {
    text_.push_back('\n');
  }
}

void SnapshotText::start_line(long long depth) {
  text_.push_back('\n');
  append_indent(text_, depth);
}

SnapshotText& SnapshotText::ref_line(long long depth, long long ref, std::string_view type,
                                     std::string_view name, std::string_view value, std::size_t value_limit) {
  start_line(depth);
  append_element(text_, ref, type, name, value, value_limit);
  return *this;
}

SnapshotText& SnapshotText::context_line(long long depth, std::string_view type, std::string_view name,
                                         std::size_t name_limit, bool ellipsis) {
  start_line(depth);
  append_context(text_, type, name, name_limit, ellipsis);
  return *this;
}

SnapshotText& SnapshotText::append(std::string_view text) {
  text_.append(text);
  return *this;
}

}  // namespace desktop_access
