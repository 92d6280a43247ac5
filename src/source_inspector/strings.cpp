#include "source_inspector/strings.hpp"

#include "source_inspector/metrics.hpp"
#include "source_inspector/text.hpp"

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>

namespace source_inspector {

namespace {

constexpr std::string_view kRatingLetters = "ABCF";

}  // namespace

Strings::Strings() {
  for (std::size_t i = 0; i < kRatingLetters.size(); ++i) {
    ratings[i] = support::intern(std::string(1, kRatingLetters[i]).c_str());
  }
  for (std::size_t i = 0; i < std::size(kTodoMarkers); ++i) {
    todo_markers[i] = support::intern(std::string(kTodoMarkers[i]).c_str());
  }
}

const py::object& Strings::rating_of(long long score) const {
  // Any other letter reads as the last one.
  return ratings[std::min(kRatingLetters.find(complexity_rating(score)), kRatingLetters.size() - 1)];
}

}  // namespace source_inspector
