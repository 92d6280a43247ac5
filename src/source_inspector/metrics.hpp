// Per-function metrics gathered during the tree walk and completed afterwards: the
// decision points and called names of nested functions also count for every enclosing
// function, as a walk of each function's whole subtree would find them. Pure C++.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace source_inspector {

struct FunctionMetrics {
  std::int32_t enclosing = -1;         // index of the nearest enclosing function, or -1
  std::int64_t decision_points = 0;    // branches, handlers, boolean operators, ...
  std::vector<std::uint32_t> callees;  // ids of the called names
};

// Adds each nested function's figures into its enclosing functions and leaves every
// function's callees distinct and sorted by name (`callee_names[id]`, UTF-8, whose byte
// order is code point order). Functions are in walk order, so a nested function always
// comes after the functions that enclose it.
void roll_up(std::vector<FunctionMetrics>& functions, const std::vector<std::string_view>& callee_names);

}  // namespace source_inspector
