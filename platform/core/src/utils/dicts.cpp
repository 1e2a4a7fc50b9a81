#include <utility>
#include <vector>

#include "morvi/utils/dicts.hpp"

namespace morvi::utils {

void recursive_update(Map& target, const Map& source, bool list_extend) {
  std::vector<std::pair<Map*, const Map*>> pending{{&target, &source}};
  while (!pending.empty()) {
    auto [into, from] = pending.back();
    pending.pop_back();
    for (const auto& [key, value] : *from) {
      Value* existing = into->find(key);
      if (existing && existing->is_map() && value.is_map()) {
        pending.emplace_back(&existing->as_map(), &value.as_map());
      } else if (existing && existing->is_list() && value.is_list() && list_extend) {
        List& list = existing->as_list();
        const List& more = value.as_list();
        list.insert(list.end(), more.begin(), more.end());
      } else {
        into->set(key, value);
      }
    }
  }
}

}  // namespace morvi::utils
