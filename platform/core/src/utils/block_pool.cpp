// Per-thread free lists by block size over 2 MiB chunks, and one locked depot of batches
// between threads. A chunk is never unmapped: blocks taken on a thread may be freed after it
// ends, onto another thread's lists.
#include "morvi/utils/block_pool.hpp"

#include <sys/mman.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

namespace morvi::utils {

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer watches each block's lifetime only when each comes from the heap on its own.
void* pool_allocate(std::size_t size) { return ::operator new(size); }
void pool_free(void* block, std::size_t) noexcept { ::operator delete(block); }
std::size_t pool_chunk_count() noexcept { return 0; }
#else
namespace {

constexpr std::size_t kChunk = std::size_t{2} << 20;  // one huge page
constexpr std::size_t kSizes = kPoolLargest / kPoolAlign + 1;
// A thread keeps up to two batches of a size, a batch being about 64 KiB of blocks: the list
// it takes from and frees to, and one full batch behind it.
constexpr std::size_t kBatchBytes = std::size_t{64} << 10;

struct FreeBlock {
  FreeBlock* next;
};

// Blocks go out in the reverse of the order they came back in, the full batch and the depot's
// batches included: a tree built again over a dropped one takes the same blocks in the same
// order, so its memory stays as compact as the first time.
struct FreeList {
  FreeBlock* head;
  std::size_t count;
  FreeBlock* full;  // a batch of kBatch blocks, or null
};

struct Pool {
  FreeList free[kSizes];
  char* next;
  char* end;
  // Whether the thread's farewell is registered: asking the dynamic thread-local each time a
  // list runs dry went through __tls_get_addr, on every block a first tree cuts.
  bool farewell_registered;
};

// Trivially destructible, so that blocks freed while the thread's other thread-locals are
// destroyed still have lists to go to; the lists go to the depot when the thread ends. In the
// static TLS block: every value made or dropped reads it, and the library is linked, not
// opened late, so it need not go through __tls_get_addr.
__attribute__((tls_model("initial-exec"))) thread_local constinit Pool pool{};

struct Batch {
  FreeBlock* head;
  std::size_t count;
};

struct Depot {
  std::mutex lock;
  std::vector<Batch> batches[kSizes];
  // What ended threads left uncut of their last chunks, for the next threads to cut from.
  std::vector<std::pair<char*, char*>> spares;
  // Per size, whether batches are waiting: read without the lock to skip it when none are.
  std::atomic<std::size_t> waiting[kSizes];
};

Depot& depot() {
  static Depot* const instance = new Depot();  // outlives every thread that frees into it
  return *instance;
}

std::atomic<std::size_t> chunks{0};

// An empty request takes the smallest block.
constexpr std::size_t rounded(std::size_t size) noexcept {
  return (size + (size == 0) + kPoolAlign - 1) & ~(kPoolAlign - 1);
}

// Blocks per batch, by size index: computed once, since a free checks it every time.
constexpr auto kBatch = [] {
  std::array<std::uint32_t, kSizes> n{};
  for (std::size_t i = 1; i < kSizes; ++i) {
    const std::size_t fit = kBatchBytes / (i * kPoolAlign);
    n[i] = static_cast<std::uint32_t>(fit < 16 ? 16 : fit);
  }
  return n;
}();

void put_batch(std::size_t index, Batch batch) {
  Depot& d = depot();
  const std::lock_guard<std::mutex> hold(d.lock);
  d.batches[index].push_back(batch);
  d.waiting[index].store(d.batches[index].size(), std::memory_order_relaxed);
}

bool take_batch(std::size_t index, FreeList& into) {
  Depot& d = depot();
  if (d.waiting[index].load(std::memory_order_relaxed) == 0) return false;
  const std::lock_guard<std::mutex> hold(d.lock);
  auto& batches = d.batches[index];
  if (batches.empty()) return false;
  into.head = batches.back().head;
  into.count = batches.back().count;
  batches.pop_back();
  d.waiting[index].store(batches.size(), std::memory_order_relaxed);
  return true;
}

// Hands the thread's lists to the depot when it ends.
struct Farewell {
  ~Farewell() {
    for (std::size_t i = 1; i < kSizes; ++i) {
      FreeList& list = pool.free[i];
      if (list.full != nullptr) put_batch(i, {list.full, kBatch[i]});
      if (list.count > 0) put_batch(i, {list.head, list.count});
      list = {};
    }
    if (pool.next != pool.end) {
      Depot& d = depot();
      const std::lock_guard<std::mutex> hold(d.lock);
      d.spares.emplace_back(pool.next, pool.end);
    }
    pool.next = pool.end = nullptr;
    pool.farewell_registered = false;
  }
};

void say_farewell_at_exit() {
  thread_local Farewell farewell;
  (void)farewell;
}

// A chunk aligned to its own size, so that the kernel can back it with one huge page.
char* map_chunk() {
  void* raw = mmap(nullptr, 2 * kChunk, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                   -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const auto begin = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (begin + kChunk - 1) & ~(kChunk - 1);
  if (aligned > begin) munmap(raw, aligned - begin);
  const std::uintptr_t tail = aligned + kChunk;
  if (begin + 2 * kChunk > tail) munmap(reinterpret_cast<void*>(tail), begin + 2 * kChunk - tail);
  auto* chunk = reinterpret_cast<char*>(aligned);
  madvise(chunk, kChunk, MADV_HUGEPAGE);
  chunks.fetch_add(1, std::memory_order_relaxed);
  return chunk;
}

bool take_spare(std::size_t size) {
  Depot& d = depot();
  const std::lock_guard<std::mutex> hold(d.lock);
  while (!d.spares.empty()) {
    const auto [next, end] = d.spares.back();
    d.spares.pop_back();
    if (static_cast<std::size_t>(end - next) >= size) {
      pool.next = next;
      pool.end = end;
      return true;
    }
  }
  return false;
}

void* refill(std::size_t size) {
  const std::size_t index = size / kPoolAlign;
  FreeList& list = pool.free[index];
  if (!pool.farewell_registered) {
    say_farewell_at_exit();
    pool.farewell_registered = true;
  }
  if (list.full != nullptr) {
    list.head = list.full;
    list.count = kBatch[index];
    list.full = nullptr;
  }
  if (list.head != nullptr || take_batch(index, list)) {
    FreeBlock* block = list.head;
    list.head = block->next;
    --list.count;
    return block;
  }
  if (static_cast<std::size_t>(pool.end - pool.next) < size) {
    // The rest of the old chunk is too small for this size; it serves no later request.
    if (!take_spare(size)) {
      pool.next = map_chunk();
      pool.end = pool.next + kChunk;
    }
  }
  void* block = pool.next;
  pool.next += size;
  return block;
}

// The list is a full batch: it goes behind, and the batch that was there to the depot.
void seal(std::size_t index, FreeList& list) noexcept {
  if (list.full != nullptr) {
    try {
      put_batch(index, {list.full, kBatch[index]});
    } catch (...) {
      return;  // no room to record the batch: the list grows on instead
    }
  }
  list.full = list.head;
  list.head = nullptr;
  list.count = 0;
}

}  // namespace

void* pool_allocate(std::size_t size) {
  size = rounded(size);
  if (size > kPoolLargest) return ::operator new(size);
  FreeList& list = pool.free[size / kPoolAlign];
  if (list.head != nullptr) {
    FreeBlock* block = list.head;
    list.head = block->next;
    --list.count;
    return block;
  }
  return refill(size);
}

void pool_free(void* block, std::size_t size) noexcept {
  size = rounded(size);
  if (size > kPoolLargest) {
    ::operator delete(block);
    return;
  }
  const std::size_t index = size / kPoolAlign;
  FreeList& list = pool.free[index];
  list.head = ::new (block) FreeBlock{list.head};
  if (++list.count >= kBatch[index]) seal(index, list);
}

std::size_t pool_chunk_count() noexcept { return chunks.load(std::memory_order_relaxed); }
#endif

}  // namespace morvi::utils
