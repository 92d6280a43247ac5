// One spelling for C-API calls that differ between the supported runtimes (3.11 to
// 3.13), and byte views of Python text.
#pragma once

#include "support/python.hpp"

#include <optional>
#include <string_view>

namespace support {

// getattr(object, name) where a missing attribute is an answer, not an error: the
// value, or an empty object when there is none (AttributeError is not raised, so no
// exception object is made). Other failures of the lookup raise.
py::object optional_attr(py::handle object, py::handle name);

// The UTF-8 bytes of a str, without copying: valid while the str lives (the runtime
// caches them in the object). Raises TypeError for a non-str and UnicodeEncodeError for
// text with lone surrogates.
std::string_view utf8_view(py::handle text);

// The same, or nothing (and no error set) for a non-str or text with lone surrogates:
// for comparing against known names, which never contain either.
std::optional<std::string_view> utf8_view_if_valid(py::handle text);

// The UTF-8 bytes of any str, lone surrogates passed through as "surrogatepass" writes
// them, so text goes through C++ and back through from_utf8() unchanged. Copies only
// text the runtime cannot cache as UTF-8.
class Utf8 {
 public:
  explicit Utf8(py::handle text);
  Utf8(const Utf8&) = delete;
  Utf8& operator=(const Utf8&) = delete;

  std::string_view view() const { return view_; }

 private:
  py::object encoded_;
  std::string_view view_;
};

// The str of UTF-8 bytes ("surrogatepass": the inverse of Utf8).
py::str from_utf8(std::string_view text);

}  // namespace support
