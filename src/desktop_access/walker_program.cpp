#include "desktop_access/walker_program.hpp"

#include "desktop_access/atspi_walker.hpp"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace desktop_access {

namespace {

constexpr std::string_view kHeader =
    "\nimport json, sys\nimport gi\ngi.require_version(\"Atspi\", \"2.0\")\nfrom gi.repository import "
    "Atspi\n\n"
    "max_depth = ";

// JSON's two-character escapes.
struct Escape {
  char32_t character;
  std::string_view text;
};
constexpr Escape kEscapes[] = {{U'"', "\\\""}, {U'\\', "\\\\"}, {U'\n', "\\n"}, {U'\r', "\\r"},
                               {U'\t', "\\t"}, {U'\b', "\\b"},  {U'\f', "\\f"}};

void append_escape(std::string& out, const char* format, unsigned long code) {
  char buffer[12];
  const int length = std::snprintf(buffer, sizeof buffer, format, code);
  out.append(buffer, static_cast<std::size_t>(length));
}

}  // namespace

std::string ascii_string_literal(std::u32string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (char32_t c : text) {
    if (const auto* escape = std::find_if(std::begin(kEscapes), std::end(kEscapes),
                                          [c](const Escape& e) { return e.character == c; });
        escape != std::end(kEscapes)) {
      out.append(escape->text);
    } else if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else if (c <= 0xFFFF) {
      append_escape(out, "\\u%04lx", static_cast<unsigned long>(c));
    } else {
      append_escape(out, "\\U%08lx", static_cast<unsigned long>(c));
    }
  }
  out.push_back('"');
  return out;
}

std::string walker_program(std::string_view max_depth, const std::optional<std::u32string>& target_title,
                           std::optional<long long> target_pid, const WalkerOptions& options) {
  std::string program(kHeader);
  program.append(max_depth);
  program.append("\ntarget_title = ");
  program.append(target_title ? ascii_string_literal(*target_title) : std::string("None"));
  program.append("\ntarget_pid = ");
  program.append(target_pid ? std::to_string(*target_pid) : std::string("None"));
  program.append("\nmax_elements = ");
  program.append(options.max_elements ? std::to_string(*options.max_elements) : std::string("None"));
  program.append(options.states ? "\nwith_states = True" : "\nwith_states = False");
  program.append("\nwalk_seconds = ");
  char seconds[32];
  const int length = std::snprintf(seconds, sizeof seconds, "%.17g", options.walk_seconds);
  program.append(seconds, static_cast<std::size_t>(length));
  // The body begins with an empty line.
  program.append("\n\n");
  program.append(kAtspiWalkerBody);
  return program;
}

}  // namespace desktop_access
