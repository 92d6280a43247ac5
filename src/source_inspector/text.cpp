#include "source_inspector/text.hpp"

// Only for the runtime's Unicode character database (Py_UNICODE_ISSPACE and friends):
// plain table lookups that need neither the GIL nor any Python object.
#include <Python.h>

#include <algorithm>
#include <limits>

namespace source_inspector {

namespace {

// Calls `scan` with the text's code points as a typed pointer, so the hot loops run on
// the runtime's own storage without a per-character width switch.
template <class Scan>
decltype(auto) with_code_units(const CodePoints& text, Scan&& scan) {
  switch (text.width) {
    case 1:
      return scan(static_cast<const std::uint8_t*>(text.data));
    case 2:
      return scan(static_cast<const std::uint16_t*>(text.data));
    default:
      return scan(static_cast<const std::uint32_t*>(text.data));
  }
}

// \n, \v, \f, \r and \x1c-\x1e (the bits of the mask), \x85, U+2028 and U+2029. As fast as a
// switch; comparing two ranges costs the line split a third more instructions.
bool is_line_break(char32_t c) {
  return c < 32 ? ((0x70003C00U >> c) & 1U) != 0 : c == U'\x85' || c == U'\u2028' || c == U'\u2029';
}

// A character of \w (and so of \b): alphanumeric as str.isalnum() sees it, or '_'.
bool is_word(char32_t c) { return c == U'_' || Py_UNICODE_ISALNUM(static_cast<Py_UCS4>(c)); }

// Case-insensitive match of one ASCII lower-case letter of a marker, with the extra
// pairs the re module's IGNORECASE knows for these letters (dotted and dotless i, the
// Kelvin sign).
bool matches_letter(char32_t c, char letter) {
  if (c < 0x80) {
    char lower = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    return lower == letter;
  }
  return (letter == 'i' && (c == 0x130 || c == 0x131)) || (letter == 'k' && c == 0x212A);
}

template <class Unit>
std::size_t skip_spaces(const Unit* text, std::size_t position, std::size_t end) {
  while (position < end && is_space(text[position])) {
    ++position;
  }
  return position;
}

// Tries the marker words at `position`; on a match followed by a word boundary, returns
// the marker's index and sets `marker_end`.
template <class Unit>
std::size_t match_marker(const Unit* text, std::size_t position, std::size_t end, std::size_t& marker_end,
                         bool& ascii) {
  constexpr std::size_t kNoMarker = std::size(kTodoMarkers);
  for (std::size_t marker = 0; marker < kNoMarker; ++marker) {
    std::string_view word = kTodoMarkers[marker];
    if (end - position < word.size()) {
      continue;
    }
    bool matched = true;
    ascii = true;
    for (std::size_t i = 0; i < word.size() && matched; ++i) {
      char32_t c = text[position + i];
      matched = matches_letter(c, static_cast<char>(word[i] - 'A' + 'a'));
      ascii = ascii && c < 0x80;
    }
    if (!matched) {
      continue;
    }
    // Only one marker can match here (their first letters differ), so a failed word
    // boundary ends the attempt at this '#'.
    std::size_t after = position + word.size();
    if (after < end && is_word(text[after])) {
      return kNoMarker;
    }
    marker_end = after;
    return marker;
  }
  return kNoMarker;
}

}  // namespace

bool is_space(char32_t c) { return Py_UNICODE_ISSPACE(static_cast<Py_UCS4>(c)); }

std::vector<LineSpan> split_lines(const CodePoints& text) {
  return with_code_units(text, [&](const auto* units) {
    std::vector<LineSpan> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.length) {
      char32_t c = units[i];
      if (!is_line_break(c)) {
        ++i;
        continue;
      }
      lines.push_back({start, i});
      i += (c == U'\r' && i + 1 < text.length && units[i + 1] == U'\n') ? 2 : 1;
      start = i;
    }
    if (start < text.length) {
      lines.push_back({start, text.length});
    }
    return lines;
  });
}

std::vector<TodoMatch> find_todo_comments(const CodePoints& text, const std::vector<LineSpan>& lines) {
  return with_code_units(text, [&](const auto* units) {
    std::vector<TodoMatch> matches;
    for (std::size_t number = 0; number < lines.size(); ++number) {
      const LineSpan line = lines[number];
      for (std::size_t hash = line.start; hash < line.end; ++hash) {
        if (units[hash] != U'#') {
          continue;
        }
        std::size_t marker_start = skip_spaces(units, hash + 1, line.end);
        std::size_t marker_end = 0;
        bool ascii = true;
        std::size_t marker = match_marker(units, marker_start, line.end, marker_end, ascii);
        if (marker == std::size(kTodoMarkers)) {
          continue;
        }
        std::size_t text_start = marker_end;
        while (text_start < line.end && (units[text_start] == U':' || is_space(units[text_start]))) {
          ++text_start;
        }
        std::size_t text_end = line.end;
        while (text_end > text_start && is_space(units[text_end - 1])) {
          --text_end;
        }
        matches.push_back({number + 1, marker_start, marker_end, text_start, text_end, marker, ascii});
        break;
      }
    }
    return matches;
  });
}

LineCounts count_lines(const CodePoints& text, const std::vector<LineSpan>& lines) {
  return with_code_units(text, [&](const auto* units) {
    LineCounts counts;
    counts.total = lines.size();
    for (const LineSpan line : lines) {
      std::size_t first = skip_spaces(units, line.start, line.end);
      if (first == line.end) {
        ++counts.blank;
      } else if (units[first] == U'#') {
        ++counts.comment;
      }
    }
    return counts;
  });
}

std::u32string clean_docstring(std::u32string_view doc, IndentStrip strip) {
  auto strippable = [strip](char32_t c) {
    return strip == IndentStrip::kSpacesOnly ? c == U' ' : is_space(c);
  };

  // expandtabs(8), then split at '\n' only.
  std::vector<std::u32string> lines(1);
  std::size_t column = 0;
  for (char32_t c : doc) {
    if (c == U'\t') {
      std::size_t fill = 8 - column % 8;
      lines.back().append(fill, U' ');
      column += fill;
    } else if (c == U'\n') {
      lines.emplace_back();
      column = 0;
    } else {
      lines.back().push_back(c);
      column = c == U'\r' ? 0 : column + 1;
    }
  }

  auto indent_of = [&](const std::u32string& line) {
    return static_cast<std::size_t>(std::find_if_not(line.begin(), line.end(), strippable) - line.begin());
  };
  std::size_t margin = std::numeric_limits<std::size_t>::max();
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::size_t indent = indent_of(lines[i]);
    if (indent < lines[i].size()) {
      margin = std::min(margin, indent);
    }
  }
  lines[0].erase(0, indent_of(lines[0]));
  if (margin != std::numeric_limits<std::size_t>::max()) {
    for (std::size_t i = 1; i < lines.size(); ++i) {
      lines[i].erase(0, std::min(margin, lines[i].size()));
    }
  }

  std::size_t first = 0;
  std::size_t last = lines.size();
  while (last > first && lines[last - 1].empty()) {
    --last;
  }
  while (first < last && lines[first].empty()) {
    ++first;
  }
  std::u32string cleaned;
  for (std::size_t i = first; i < last; ++i) {
    if (i > first) {
      cleaned.push_back(U'\n');
    }
    cleaned += lines[i];
  }
  return cleaned;
}

}  // namespace source_inspector
