#include "source_inspector/strings.hpp"

#include "source_inspector/metrics.hpp"
#include "source_inspector/text.hpp"

#include <iterator>
#include <string>

namespace source_inspector {

Strings::Strings() {
  const char* letters = "ABCF";
  for (int i = 0; i < 4; ++i) {
    ratings[i] = support::intern(std::string(1, letters[i]).c_str());
  }
  for (std::size_t i = 0; i < std::size(TODO_MARKERS); ++i) {
    todo_markers[i] = support::intern(std::string(TODO_MARKERS[i]).c_str());
  }
}

const py::object& Strings::rating_of(long long score) const {
  switch (complexity_rating(score)) {
    case 'A':
      return ratings[0];
    case 'B':
      return ratings[1];
    case 'C':
      return ratings[2];
    default:
      return ratings[3];
  }
}

}  // namespace source_inspector
