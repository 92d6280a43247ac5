#include "source_inspector/segments.hpp"

#include <algorithm>

namespace source_inspector {

namespace {

// A Python slice bound (step 1) resolved against a sequence of `length` items.
std::size_t slice_bound(Column bound, std::size_t length, std::size_t open_value) {
  if (!bound) {
    return open_value;
  }
  long long size = static_cast<long long>(length);
  long long value = *bound < 0 ? *bound + size : *bound;
  return static_cast<std::size_t>(std::clamp(value, 0LL, size));
}

ByteRange slice(ByteRange range, Column start, Column stop) {
  std::size_t length = range.end - range.begin;
  std::size_t from = slice_bound(start, length, 0);
  std::size_t to = std::max(from, slice_bound(stop, length, length));
  return {range.begin + from, range.begin + to};
}

}  // namespace

SourceLines::SourceLines(std::string_view utf8, LineTableStyle style) : text_(utf8), style_(style) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    char c = utf8[i];
    if (c != '\n' && c != '\r') {
      continue;
    }
    if (c == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') {
      ++i;
    }
    starts_.push_back(start);
    start = i + 1;
  }
  if (start < utf8.size()) {
    starts_.push_back(start);
  }
}

ByteRange SourceLines::line(std::size_t index) const {
  if (index >= starts_.size()) {
    return {text_.size(), text_.size()};  // the empty tail line
  }
  std::size_t end = index + 1 < starts_.size() ? starts_[index + 1] : text_.size();
  return {starts_[index], end};
}

std::optional<SegmentPieces> SourceLines::locate(long long lineno, long long end_lineno, Column col_offset,
                                                 Column end_col_offset) const {
  const long long first_index = lineno - 1;
  const long long last_index = end_lineno - 1;
  long long count = static_cast<long long>(starts_.size());
  if (style_ == LineTableStyle::TruncatedWithEmptyTail) {
    count = std::clamp(last_index + 1, 0LL, count + 1);
  }
  // Python list indexing: negative indices count from the end.
  auto resolve = [count](long long index) -> std::optional<std::size_t> {
    long long resolved = index < 0 ? index + count : index;
    if (resolved < 0 || resolved >= count) {
      return std::nullopt;
    }
    return static_cast<std::size_t>(resolved);
  };
  auto slice_index = [count](long long index) {
    long long resolved = index < 0 ? index + count : index;
    return static_cast<std::size_t>(std::clamp(resolved, 0LL, count));
  };

  std::optional<std::size_t> first_line = resolve(first_index);
  if (!first_line) {
    return std::nullopt;
  }
  if (last_index == first_index) {
    ByteRange only = slice(line(*first_line), col_offset, end_col_offset);
    return SegmentPieces{only, {only.end, only.end}, std::nullopt};
  }
  std::optional<std::size_t> last_line = resolve(last_index);
  if (!last_line) {
    return std::nullopt;
  }
  ByteRange first = slice(line(*first_line), col_offset, std::nullopt);
  ByteRange last = slice(line(*last_line), std::nullopt, end_col_offset);
  std::size_t middle_from = slice_index(first_index + 1);
  std::size_t middle_to = slice_index(last_index);
  ByteRange middle{first.end, first.end};
  if (middle_to > middle_from) {
    middle = {line(middle_from).begin, line(middle_to - 1).end};
  }
  return SegmentPieces{first, middle, last};
}

}  // namespace source_inspector
