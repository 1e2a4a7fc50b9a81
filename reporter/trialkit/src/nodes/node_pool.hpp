#pragma once
// Memory for report nodes: the core's block pool. A tree's nodes sit together, and a new
// process faults in a few huge pages rather than a fresh page every twenty nodes.
#include "morvi/utils/block_pool.hpp"

namespace morvi::reporter::trialkit {

// Hands the pool to std::allocate_shared, which puts a node and its counts in one block.
template <class T>
using NodeAllocator = utils::PoolAllocator<T>;

}  // namespace morvi::reporter::trialkit
