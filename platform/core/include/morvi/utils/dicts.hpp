#pragma once
#include "morvi/value.hpp"

#pragma GCC visibility push(default)
namespace morvi::utils {

// Merges `source` into `target` in place. Where both hold a map under a key, the merge
// descends into it; where both hold a list and `list_extend` is true, the target list is
// extended; otherwise the source value replaces the target's. Nesting is walked with an
// explicit stack, so depth is not limited by the call stack.
void recursive_update(Map& target, const Map& source, bool list_extend = true);

}  // namespace morvi::utils
#pragma GCC visibility pop
