// The macOS snapshot text, in plain C++: reads the answer of the element tree script
// (lines of five "|"-separated fields: role, title, description, value, enabled) and
// renders the lines the model sees, numbering each enabled interactive element.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace desktop_access {

// How roles are classified and shown; the sets are the module's INTERACTIVE_TYPES and
// CONTEXT_TYPES, read by the caller.
struct MacosRoleRules {
  std::function<bool(std::string_view)> interactive_type;
  std::function<bool(std::string_view)> context_type;
  // Lower-cases UTF-8 text as Python's str.lower does.
  std::function<std::string(std::string_view)> lower;
};

// An element that earned a ref; the views point into the answer given to render.
struct MacosTreeElement {
  std::string_view role;
  std::string_view title;
  std::string_view description;
  std::string_view value;
};

struct MacosTreeOptions {
  // Also list disabled interactive elements, without a ref, and mark each line with the
  // states the tree's fields hold: "disabled", and a check box's or radio button's value
  // 1 as "checked" or "selected" (2 as "mixed").
  bool states = false;
  // Show no element after this many refs (window and error lines stay), and end with a
  // line that counts the element lines left out.
  std::optional<std::size_t> max_elements;
};

struct MacosTree {
  std::string text;                    // the snapshot text
  std::vector<MacosTreeElement> refs;  // refs[i] has ref i + 1
};

// `answer` is the script's output, UTF-8, already stripped. Lines starting "Window:" or
// "Error" are kept as they stand; an element line reads "  [ref] role "name"
// value="..."" (value cut to 100 characters) or, for a named context element,
// "  role: name" (cut to 200 characters and "..."); the role is shown without its "AX"
// and in lower case. Disabled interactive elements and unnamed context elements are
// left out; with no line at all the text is "(No UI elements found)".
MacosTree render_macos_tree(std::string_view answer, const MacosRoleRules& rules,
                            const MacosTreeOptions& options = {});

// `text` without the whitespace at either end that Python's str.strip removes.
std::string_view strip_whitespace(std::string_view utf8);

}  // namespace desktop_access
