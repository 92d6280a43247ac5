// The start of ast.dump(tree, indent=2): the same text, produced only as far as asked,
// without recursion, so a large or very deep tree costs no more than its first lines.
#pragma once

#include "support/python.hpp"

#include <cstddef>

namespace source_inspector {

// ast.dump(tree, indent=2)[:limit]
py::object dump_prefix(py::handle tree, std::size_t limit);

}  // namespace source_inspector
