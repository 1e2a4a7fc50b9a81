// Per-thread free lists by block size over 2 MiB chunks. A chunk is never unmapped: blocks
// taken on a thread may be freed after it ends, onto another thread's lists.
#include "node_pool.hpp"

#include <sys/mman.h>

#include <cstdint>

namespace morvi::reporter::trialkit {

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer watches each block's lifetime only when each comes from the heap on its own.
void* pool_allocate(std::size_t size) { return ::operator new(size); }
void pool_free(void* block, std::size_t) noexcept { ::operator delete(block); }
#else
namespace {

constexpr std::size_t kLargest = 512;          // larger blocks come from operator new
constexpr std::size_t kChunk = std::size_t{2} << 20;  // one huge page

struct FreeBlock {
  FreeBlock* next;
};

struct Pool {
  FreeBlock* free[kLargest / kPoolAlign + 1];
  char* next;
  char* end;
};

// Trivially destructible, so that nothing runs at thread exit: the chunks outlive the thread.
thread_local constinit Pool pool{};

constexpr std::size_t rounded(std::size_t size) noexcept {
  return (size + kPoolAlign - 1) & ~(kPoolAlign - 1);
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
  return chunk;
}

}  // namespace

void* pool_allocate(std::size_t size) {
  size = rounded(size);
  if (size > kLargest) return ::operator new(size);
  FreeBlock*& head = pool.free[size / kPoolAlign];
  if (head != nullptr) {
    FreeBlock* block = head;
    head = block->next;
    return block;
  }
  if (static_cast<std::size_t>(pool.end - pool.next) < size) {
    // The rest of the old chunk is too small for this size; it serves no later request.
    pool.next = map_chunk();
    pool.end = pool.next + kChunk;
  }
  void* block = pool.next;
  pool.next += size;
  return block;
}

void pool_free(void* block, std::size_t size) noexcept {
  size = rounded(size);
  if (size > kLargest) {
    ::operator delete(block);
    return;
  }
  FreeBlock*& head = pool.free[size / kPoolAlign];
  head = new (block) FreeBlock{head};
}
#endif

}  // namespace morvi::reporter::trialkit
