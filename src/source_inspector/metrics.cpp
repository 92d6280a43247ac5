#include "source_inspector/metrics.hpp"

#include <algorithm>
#include <numeric>

namespace source_inspector {

void roll_up(std::vector<FunctionMetrics>& functions, const std::vector<std::string_view>& callee_names) {
  // Ranking the names once lets each function's list be sorted as integers.
  std::vector<std::uint32_t> by_name(callee_names.size());
  std::iota(by_name.begin(), by_name.end(), 0U);
  std::sort(by_name.begin(), by_name.end(),
            [&](std::uint32_t a, std::uint32_t b) { return callee_names[a] < callee_names[b]; });
  std::vector<std::uint32_t> rank(callee_names.size());
  for (std::uint32_t position = 0; position < by_name.size(); ++position) {
    rank[by_name[position]] = position;
  }
  auto by_rank = [&](std::uint32_t a, std::uint32_t b) { return rank[a] < rank[b]; };

  for (std::size_t i = functions.size(); i-- > 0;) {
    FunctionMetrics& function = functions[i];
    std::vector<std::uint32_t>& callees = function.callees;
    std::sort(callees.begin(), callees.end(), by_rank);
    callees.erase(std::unique(callees.begin(), callees.end()), callees.end());
    if (function.enclosing >= 0) {
      FunctionMetrics& outer = functions[static_cast<std::size_t>(function.enclosing)];
      outer.decision_points += function.decision_points;
      outer.callees.insert(outer.callees.end(), callees.begin(), callees.end());
    }
  }
}

}  // namespace source_inspector
