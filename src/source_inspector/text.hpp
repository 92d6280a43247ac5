// Line-oriented text scans over a string's code points: line splitting as str.splitlines
// does it, the TODO-comment search, line counts and docstring cleaning. Pure C++ (the
// runtime's Unicode database is used for its character classes only), so callers may
// run these without the GIL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace source_inspector {

// A read-only view of a string in the runtime's compact storage: 1, 2 or 4 bytes per
// code point.
struct CodePoints {
  const void* data;
  int width;
  std::size_t length;
};

// One line, without its line break, as code point offsets [start, end).
struct LineSpan {
  std::size_t start;
  std::size_t end;
};

// The lines str.splitlines() gives: breaks at \n, \r, \r\n, \v, \f, \x1c-\x1e, \x85,
// U+2028 and U+2029; a final break does not start another line.
std::vector<LineSpan> split_lines(const CodePoints& text);

// A "# TODO: ..." style comment: the marker word and the comment text after it, as
// code point offsets into the whole text (the text already trimmed).
struct TodoMatch {
  std::size_t line;  // 1-based
  std::size_t marker_start;
  std::size_t marker_end;
  std::size_t text_start;
  std::size_t text_end;
  // Which of kTodoMarkers matched, and whether the matched letters were all ASCII (its
  // upper case is then that word; otherwise it needs the runtime's str.upper()).
  std::size_t marker;
  bool marker_is_ascii;
};

inline constexpr std::string_view kTodoMarkers[] = {"TODO", "FIXME", "HACK", "XXX", "NOTE", "BUG"};

// The first match in each line of: #\s*(TODO|FIXME|HACK|XXX|NOTE|BUG)\b[:\s]*(.*)
// with re.IGNORECASE and the re module's Unicode classes.
std::vector<TodoMatch> find_todo_comments(const CodePoints& text, const std::vector<LineSpan>& lines);

struct LineCounts {
  std::size_t total = 0;
  std::size_t comment = 0;  // first non-blank character is '#'
  std::size_t blank = 0;    // empty or whitespace only
};

LineCounts count_lines(const CodePoints& text, const std::vector<LineSpan>& lines);

// Whitespace as str.isspace() and the re module's \s see it.
bool is_space(char32_t c);

// How docstring indentation is stripped: the runtime's inspect.cleandoc strips any
// whitespace up to 3.12 and only spaces from 3.13 on.
enum class IndentStrip { kAnyWhitespace, kSpacesOnly };

// inspect.cleandoc: tabs expanded, the common indentation of the lines after the first
// removed, the first line's indentation removed, leading and trailing empty lines dropped.
std::u32string clean_docstring(std::u32string_view doc, IndentStrip strip);

}  // namespace source_inspector
