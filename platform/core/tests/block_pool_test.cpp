// The block pool: blocks come back in the reverse of the order they were given back, across
// the batches a thread keeps and the depot; a thread that only frees feeds one that only takes.
#include <gtest/gtest.h>

#include <cstddef>
#include <thread>
#include <vector>

#include "morvi/utils/block_pool.hpp"
#include "morvi/value.hpp"

namespace morvi::utils {
namespace {

std::vector<void*> take(std::size_t count, std::size_t size) {
  std::vector<void*> blocks;
  for (std::size_t i = 0; i < count; ++i) blocks.push_back(pool_allocate(size));
  return blocks;
}

TEST(BlockPool, BlocksGivenBackInReverseComeOutInTheOrderFirstTaken) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's builds take every block from the heap";
#endif
  // Several batches of every size a node's values use, so that the thread's full batch and the
  // depot both hold some; each size on its own order.
  for (const std::size_t size : {8u, 16u, 24u, 32u, 48u, 72u, 88u, 296u, 512u}) {
    const std::size_t count = 5 * (std::size_t{64} << 10) / size + 7;
    const auto first = take(count, size);
    for (auto it = first.rbegin(); it != first.rend(); ++it) pool_free(*it, size);
    const auto again = take(count, size);
    EXPECT_EQ(again, first) << "size " << size;
    for (void* block : again) pool_free(block, size);
  }
}

TEST(BlockPool, AThreadThatOnlyFreesFeedsOneThatOnlyTakes) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's builds take every block from the heap";
#endif
  // A new producer thread makes values each round and this thread drops them: without a way
  // back, each producer would map fresh chunks, and the rest of its last chunk would be lost.
  constexpr int kRounds = 40;
  constexpr std::size_t kPerRound = 40000;  // about 1.3 MB of texts a round
  std::vector<std::size_t> chunks_after;
  std::vector<Value> made;
  for (int round = 0; round < kRounds; ++round) {
    std::thread([&] {
      for (std::size_t i = 0; i < kPerRound; ++i) made.emplace_back("a short text");
    }).join();
    made.clear();
    chunks_after.push_back(pool_chunk_count());
  }
  // The first rounds set the pool's size; the later ones take nothing new worth a round.
  EXPECT_LE(chunks_after.back() - chunks_after[4], 1u);
}

TEST(BlockPool, LargeAndEmptyRequestsAreServed) {
  void* big = pool_allocate(kPoolLargest + 1);
  void* none = pool_allocate(0);
  void* other = pool_allocate(0);
  EXPECT_NE(none, other);
  pool_free(big, kPoolLargest + 1);
  pool_free(none, 0);
  pool_free(other, 0);
}

}  // namespace
}  // namespace morvi::utils
