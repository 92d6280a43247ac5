// The text of a snapshot, in plain C++: a "Window: " line, then one line per element,
// "[ref] type "name" value="..."" for an element with a ref and "type: name" for a
// context element, indented two spaces per tree level (at most four levels).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace desktop_access {

// The first `count` characters (code points) of UTF-8 text.
std::string_view first_chars(std::string_view utf8, std::size_t count);

// The parts of `text` between separators, not trimmed (a lone separator gives two empty parts).
std::vector<std::string_view> split(std::string_view text, char separator);

// `text` on one line: each line break (\n, \r\n, \r, and the other separators
// str.splitlines knows) becomes a single space, then white space is stripped from
// both ends. Gives a view of `text` when nothing but the ends change, else of `buffer`.
std::string_view one_line(std::string_view text, std::string& buffer);

// The line that ends a snapshot cut short by an element bound: "... 3,800 more elements
// not shown" (thousands separated by commas), or "... more elements not shown" when the
// walk did not count them.
std::string more_elements_line(std::optional<std::size_t> not_shown);

// Appends two spaces per tree level, at most four levels.
void append_indent(std::string& line, long long depth);

// Appends "[ref] type" ("type" alone without a ref), then ` "name"` if the name is
// non-empty, then ` value="..."` (the first `value_limit` characters) if the value is
// non-empty and differs from the name.
void append_element(std::string& line, std::optional<long long> ref, std::string_view type,
                    std::string_view name, std::string_view value, std::size_t value_limit = 100);

// Appends "type: name", the name cut to `name_limit` characters, followed by "..." when
// cut and `ellipsis` is set.
void append_context(std::string& line, std::string_view type, std::string_view name,
                    std::size_t name_limit = 200, bool ellipsis = true);

// Appends " (state, ...)", nothing for no states.
void append_states(std::string& line, const std::vector<std::string_view>& states);

class SnapshotText {
 public:
  // Starts with "Window: {window}"; `blank_line` adds the empty line that the Windows
  // and Linux snapshots put under it.
  SnapshotText(std::string_view window, bool blank_line);

  // A new line: append_element with a ref.
  SnapshotText& ref_line(long long depth, long long ref, std::string_view type, std::string_view name,
                         std::string_view value, std::size_t value_limit = 100);
  // A new line: append_context.
  SnapshotText& context_line(long long depth, std::string_view type, std::string_view name,
                             std::size_t name_limit = 200, bool ellipsis = false);
  // Appends raw text to the line being written (for backend-specific suffixes).
  SnapshotText& append(std::string_view text);

  const std::string& text() const { return text_; }

 private:
  void start_line(long long depth);

  std::string text_;
};

}  // namespace desktop_access
