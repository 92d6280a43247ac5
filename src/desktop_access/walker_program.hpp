// The program text of the AT-SPI2 walker: a header that sets max_depth,
// target_title, target_pid, max_elements, with_states and walk_seconds, then the embedded bodies
// of atspi_tree.py and atspi_walker.py.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace desktop_access {

// A double-quoted literal of `text` that Python reads back as the same string, in
// ASCII only: JSON's escapes, \uXXXX for other characters of the basic plane and
// \UXXXXXXXX beyond it (JSON's surrogate pairs would read back as two characters).
// No text can end the literal early, so a window title cannot change the program.
std::string ascii_string_literal(std::u32string_view text);

// What the walker lists beyond its target: the bound on elements with a ref, and
// whether lines show states (and disabled elements); and how long it walks before it
// answers with what it has.
struct WalkerOptions {
  std::optional<long long> max_elements;
  bool states = false;
  double walk_seconds = 11.0;
};

// `max_depth` is the decimal text of an integer; no title means None (the focused window).
// A process id makes the walker take that process's window, the title only naming it.
std::string walker_program(std::string_view max_depth, const std::optional<std::u32string>& target_title,
                           std::optional<long long> target_pid = std::nullopt,
                           const WalkerOptions& options = {});

}  // namespace desktop_access
