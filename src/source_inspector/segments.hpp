// Where a node's source text lies in the UTF-8 bytes of the source, computed the way the
// runtime's ast.get_source_segment computes it (line table split at \r\n, \r and \n,
// line numbers and byte columns used as Python list and bytes indices), so that even
// out-of-range positions behave alike. Pure C++.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

namespace source_inspector {

// The runtime's line table: up to 3.12 the lines with their breaks; from 3.13 one more,
// empty, line at the end, and only the lines up to the node's last one are listed.
enum class LineTableStyle { kComplete, kTruncatedWithEmptyTail };

struct ByteRange {
  std::size_t begin;
  std::size_t end;
};

// The pieces of a segment in source order: the first line's part, the whole lines
// between, and the last line's part (absent for a one-line segment). Each piece is
// decoded on its own, as the runtime does.
struct SegmentPieces {
  ByteRange first;
  ByteRange middle;
  std::optional<ByteRange> last;
};

// A column offset of a node: a Python int, or None (a bytes slice bound left open).
// Slice bounds beyond 64 bits act as the nearest 64-bit value.
using Column = std::optional<long long>;

// A line index (`lineno - 1`) as list indexing takes it: one beyond 64 bits cannot be
// an index at all, and stands here as the nearest 64-bit value.
struct LineIndex {
  long long value;
  bool fits = true;
};

// Why the runtime raises IndexError: "list index out of range", or "cannot fit 'int'
// into an index-sized integer".
enum class SegmentError { kOutOfRange, kTooLarge };

class SourceLines {
 public:
  SourceLines(std::string_view utf8, LineTableStyle style);

  // The pieces for a node whose lines (`lineno - 1`, `end_lineno - 1`; `one_line` when
  // they are the same integer) and columns are given, or the IndexError the runtime
  // raises for them.
  std::variant<SegmentPieces, SegmentError> locate(LineIndex first_index, LineIndex last_index, bool one_line,
                                                   Column col_offset, Column end_col_offset) const;

 private:
  // Line `index` (0-based, already resolved) as a byte range.
  ByteRange line(std::size_t index) const;

  std::string_view text_;
  LineTableStyle style_;
  std::vector<std::size_t> starts_;  // start of each line of the complete table
};

}  // namespace source_inspector
