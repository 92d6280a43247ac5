// The element lines of a Windows snapshot, in plain C++ over UTF-8 text: indented two
// spaces per tree level (at most four levels), the type in lower case as given.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace desktop_access {

struct WindowsElementText {
  std::string_view type;  // already in lower case
  std::string_view name;
  std::string_view value;
  std::string_view auto_id;
};

// [ref] type "name" value="..." (id: ...): the name when non-empty, never shortened; the
// first 100 characters of the value and the automation id when non-empty and different
// from the name.
std::string windows_ref_line(long long depth, long long ref, const WindowsElementText& element);

// The same line without a ref, for an element listed but not to be acted on (disabled).
std::string windows_unref_line(long long depth, const WindowsElementText& element);

// " (checked, focused)": the states that follow an element's line; empty for none.
std::string windows_states_suffix(const std::vector<std::string_view>& states);

// type: name, a name over 200 characters cut to its first 200 and "...".
std::string windows_context_line(long long depth, std::string_view type, std::string_view name);

}  // namespace desktop_access
