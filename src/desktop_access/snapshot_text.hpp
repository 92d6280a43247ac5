// The text of a snapshot, in plain C++: a "Window: " line, then one line per element,
// "[ref] type "name" value="..."" for an element with a ref and "type: name" for a
// context element, indented two spaces per tree level (at most four levels).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace desktop_access {

// The first `count` characters (code points) of UTF-8 text.
std::string_view first_chars(std::string_view utf8, std::size_t count);

// `text` on one line: each line break (\n, \r\n, \r, and the other separators
// str.splitlines knows) becomes a single space, then white space is stripped from
// both ends. Gives a view of `text` when nothing but the ends change, else of `buffer`.
std::string_view one_line(std::string_view text, std::string& buffer);

// The line that ends a snapshot cut short by an element bound: "... 3,800 more elements
// not shown" (thousands separated by commas), or "... more elements not shown" when the
// walk did not count them.
std::string more_elements_line(std::optional<std::size_t> not_shown);

class SnapshotText {
 public:
  // Starts with "Window: {window}"; `blank_line` adds the empty line that the Windows
  // and Linux snapshots put under it.
  SnapshotText(std::string_view window, bool blank_line);

  // [ref] type, then ` "name"` if the name is non-empty, then ` value="..."` (the
  // first `value_limit` characters) if the value is non-empty and differs from the name.
  SnapshotText& ref_line(long long depth, long long ref, std::string_view type, std::string_view name,
                         std::string_view value, std::size_t value_limit = 100);
  // type: name, the name cut to `name_limit` characters, followed by "..." when cut and
  // `ellipsis` is set.
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
