#include "desktop_access/windows_lines.hpp"

#include "desktop_access/snapshot_text.hpp"

#include <algorithm>

namespace desktop_access {

namespace {

constexpr long long kMaxIndentLevels = 4;
constexpr std::size_t kValueLimit = 100;
constexpr std::size_t kContextNameLimit = 200;

std::string indented(long long depth) {
  return std::string(static_cast<std::size_t>(2 * std::clamp(depth, 0LL, kMaxIndentLevels)), ' ');
}

std::string element_line(long long depth, const std::string& ref_prefix, const WindowsElementText& element) {
  std::string line = indented(depth);
  line.append(ref_prefix).append(element.type);
  if (!element.name.empty()) {
    line.append(" \"").append(element.name).append("\"");
  }
  if (!element.value.empty() && element.value != element.name) {
    line.append(" value=\"").append(first_chars(element.value, kValueLimit)).append("\"");
  }
  if (!element.auto_id.empty() && element.auto_id != element.name) {
    line.append(" (id: ").append(element.auto_id).append(")");
  }
  return line;
}

}  // namespace

std::string windows_ref_line(long long depth, long long ref, const WindowsElementText& element) {
  return element_line(depth, "[" + std::to_string(ref) + "] ", element);
}

std::string windows_unref_line(long long depth, const WindowsElementText& element) {
  return element_line(depth, std::string(), element);
}

std::string windows_states_suffix(const std::vector<std::string_view>& states) {
  std::string suffix;
  for (std::string_view state : states) {
    suffix.append(suffix.empty() ? " (" : ", ").append(state);
  }
  if (!suffix.empty()) {
    suffix.push_back(')');
  }
  return suffix;
}

std::string windows_context_line(long long depth, std::string_view type, std::string_view name) {
  std::string line = indented(depth);
  const std::string_view shown = first_chars(name, kContextNameLimit);
  line.append(type).append(": ").append(shown);
  if (shown.size() < name.size()) {
    line.append("...");
  }
  return line;
}

}  // namespace desktop_access
