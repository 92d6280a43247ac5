// Where a node's source text lies in the UTF-8 bytes of the source, computed the way the
// runtime's ast.get_source_segment computes it (line table split at \r\n, \r and \n,
// line numbers and byte columns used as Python list and bytes indices), so that even
// out-of-range positions behave alike. Pure C++.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
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
using Column = std::optional<long long>;

class SourceLines {
 public:
  SourceLines(std::string_view utf8, LineTableStyle style);

  // The pieces for a node at (lineno, col_offset) .. (end_lineno, end_col_offset), or
  // nothing where the runtime raises IndexError ("list index out of range").
  std::optional<SegmentPieces> locate(long long lineno, long long end_lineno, Column col_offset,
                                      Column end_col_offset) const;

 private:
  // Line `index` (0-based, already resolved) as a byte range.
  ByteRange line(std::size_t index) const;

  std::string_view text_;
  LineTableStyle style_;
  std::vector<std::size_t> starts_;  // start of each line of the complete table
};

}  // namespace source_inspector
