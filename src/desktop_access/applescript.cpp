#include "desktop_access/applescript.hpp"

namespace desktop_access {

std::string applescript_escape(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    switch (c) {
      case '\\':
      case '"':
        escaped.push_back('\\');
        escaped.push_back(c);
        break;
      case '\n':
        escaped.append("\\n");
        break;
      case '\r':
        escaped.append("\\r");
        break;
      case '\t':
        escaped.append("\\t");
        break;
      default:
        escaped.push_back(c);
    }
  }
  return escaped;
}

std::string applescript_string(std::string_view text) {
  return std::string("\"").append(applescript_escape(text)).append("\"");
}

}  // namespace desktop_access
