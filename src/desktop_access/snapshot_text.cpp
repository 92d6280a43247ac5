#include "desktop_access/snapshot_text.hpp"

#include <algorithm>

namespace desktop_access {

namespace {

constexpr long long kMaxIndentLevels = 4;

bool is_continuation_byte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

}  // namespace

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

SnapshotText::SnapshotText(std::string_view window, bool blank_line) {
  text_.reserve(4096);
  text_.append("Window: ").append(window);
  if (blank_line) {
    text_.push_back('\n');
  }
}

void SnapshotText::start_line(long long depth) {
  text_.push_back('\n');
  text_.append(static_cast<std::size_t>(2 * std::clamp(depth, 0LL, kMaxIndentLevels)), ' ');
}

SnapshotText& SnapshotText::ref_line(long long depth, long long ref, std::string_view type,
                                     std::string_view name, std::string_view value, std::size_t value_limit) {
  start_line(depth);
  text_.append("[").append(std::to_string(ref)).append("] ").append(type);
  if (!name.empty()) {
    text_.append(" \"").append(name).append("\"");
  }
  if (!value.empty() && value != name) {
    text_.append(" value=\"").append(first_chars(value, value_limit)).append("\"");
  }
  return *this;
}

SnapshotText& SnapshotText::context_line(long long depth, std::string_view type, std::string_view name,
                                         std::size_t name_limit, bool ellipsis) {
  start_line(depth);
  std::string_view shown = first_chars(name, name_limit);
  text_.append(type).append(": ").append(shown);
  if (ellipsis && shown.size() < name.size()) {
    text_.append("...");
  }
  return *this;
}

SnapshotText& SnapshotText::append(std::string_view text) {
  text_.append(text);
  return *this;
}

}  // namespace desktop_access
