#include "long_values.hpp"

#include <algorithm>

namespace morvi::reporter::client {

void LongValues::learnt() {
  // They were passed innermost first; lookups go by where they begin.
  std::sort(ends_.begin(), ends_.end());
  ends_.shrink_to_fit();
  learnt_ = true;
}

std::size_t LongValues::end_of(std::size_t begin) const {
  if (!learnt_) return 0;
  const auto it =
      std::lower_bound(ends_.begin(), ends_.end(), std::make_pair(begin, std::size_t{0}));
  return it != ends_.end() && it->first == begin ? it->second : 0;
}

}  // namespace morvi::reporter::client
