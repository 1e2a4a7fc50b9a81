// The node pool: blocks of every size stay apart while alive, survive the thread that took
// them, and nodes from it outlive their tree on another thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "morvi/reporter/trialkit.hpp"
#include "morvi/results.hpp"
#include "morvi/utils/block_pool.hpp"

namespace morvi::reporter::trialkit {
namespace {

using utils::kPoolAlign;
using utils::pool_allocate;
using utils::pool_free;

struct Block {
  unsigned char* at;
  std::size_t size;
};

// Fills each block with a byte of its own, so that overlapping blocks show as a wrong byte.
void fill(const std::vector<Block>& blocks) {
  for (std::size_t i = 0; i < blocks.size(); ++i)
    std::memset(blocks[i].at, static_cast<int>(i % 251), blocks[i].size);
}

bool intact(const std::vector<Block>& blocks) {
  for (std::size_t i = 0; i < blocks.size(); ++i)
    for (std::size_t b = 0; b < blocks[i].size; ++b)
      if (blocks[i].at[b] != i % 251) return false;
  return true;
}

std::vector<Block> take(std::size_t count, std::size_t first_size) {
  std::vector<Block> blocks;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t size = first_size + (i * 37) % 700;  // some beyond the pooled sizes
    blocks.push_back({static_cast<unsigned char*>(pool_allocate(size)), size});
  }
  return blocks;
}

void give_back(const std::vector<Block>& blocks) {
  for (const Block& b : blocks) pool_free(b.at, b.size);
}

TEST(NodePool, LiveBlocksAreAlignedAndApartAcrossChunksAndReuse) {
  // Enough to span several chunks; freeing every other block and taking again mixes reused
  // blocks with fresh ones.
  auto blocks = take(30000, 1);
  for (const Block& b : blocks)
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.at) % kPoolAlign, 0u);
  std::vector<Block> kept;
  for (std::size_t i = 0; i < blocks.size(); ++i)
    if (i % 2) pool_free(blocks[i].at, blocks[i].size);
    else kept.push_back(blocks[i]);
  auto again = take(20000, 1);
  kept.insert(kept.end(), again.begin(), again.end());
  fill(kept);
  EXPECT_TRUE(intact(kept));
  give_back(kept);
}

TEST(NodePool, BlocksOutliveTheThreadThatTookThem) {
  std::vector<Block> blocks;
  std::thread([&] { blocks = take(5000, 100); }).join();
  auto mine = take(5000, 100);
  blocks.insert(blocks.end(), mine.begin(), mine.end());
  fill(blocks);
  EXPECT_TRUE(intact(blocks));
  // Freed here, the other thread's blocks serve this thread's next requests.
  give_back(blocks);
  auto next = take(10000, 100);
  fill(next);
  EXPECT_TRUE(intact(next));
  give_back(next);
}

TEST(NodePool, NodesOutliveTheirTreeOnAnotherThread) {
  std::shared_ptr<Section> step;
  {
    auto job = TrialKit::create(Value("job"), Value(1));
    auto task = job->add_task(Value("t"), Value(2));
    for (int i = 0; i < 1000; ++i) task->add_section(Value("s"), Value(3 + i));
    step = task->add_section(Value("kept"), Value(2000))->add_section(Value("step"), Value(2001));
  }
  // The runner thread finishes the step alone and drops the last reference there; then this
  // thread builds a new tree over whatever the pool got back.
  std::thread([node = std::move(step)]() mutable {
    // Its parent died with the tree: the step is a root now.
    EXPECT_EQ(node->parent(), nullptr);
    EXPECT_EQ(node->fullid(), Value("step"));
    node->start();
    node->stop({{"result", Value(results::Failed)}});
    EXPECT_EQ(node->field_or_none("result"), Value(results::Failed));
    node.reset();
  }).join();
  auto job = TrialKit::create(Value("job2"), Value(1));
  auto task = job->add_task(Value("t"), Value(2));
  for (int i = 0; i < 1000; ++i)
    task->add_section(Value("s"), Value(3 + i))->stop({{"result", Value(results::Passed)}});
  task->stop();
  EXPECT_EQ(task->children().size(), 1000u);
  EXPECT_EQ(task->field_or_none("summary").as_tally().count("passed"), 1000);
}

// Builds a job with its nodes started and stopped, noting each node's address as it is made.
std::shared_ptr<TrialKit> build_job(std::vector<const void*>& made) {
  auto job = TrialKit::create(Value("job"), Value(1));
  made.push_back(job.get());
  long seq = 1;
  for (int t = 0; t < 3; ++t) {
    auto task = job->add_task(Value("task" + std::to_string(t)), Value(++seq));
    made.push_back(task.get());
    task->start();
    for (int c = 0; c < 40; ++c) {
      auto testcase = task->add_section(Value("tc" + std::to_string(c)), Value(++seq));
      made.push_back(testcase.get());
      testcase->start({{"description", Value("a testcase with a longer description")}});
      for (int s = 0; s < 6; ++s) {
        auto step = testcase->add_section(Value("step"), Value(++seq), Value("Step"));
        made.push_back(step.get());
        step->start();
        step->add_detail(Value("checked"));
        step->stop({{"result", Value(s == 5 ? results::Failed : results::Passed)}});
      }
      testcase->stop();
    }
    task->stop();
  }
  return job;
}

TEST(NodePool, ATreeBuiltAgainTakesTheSameNodeBlocksInTheSameOrder) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's builds take every block from the heap";
#endif
  // A dropped tree gives its nodes back last made first, so the next tree cuts its nodes from
  // the same memory in the same order rather than from blocks scattered over the pool.
  std::vector<const void*> first;
  build_job(first).reset();
  std::vector<const void*> second;
  auto job = build_job(second);
  EXPECT_EQ(second, first);
}

}  // namespace
}  // namespace morvi::reporter::trialkit
