#pragma once
// Small blocks for the values and report nodes a tree is made of: cut from 2 MiB chunks that
// ask for huge pages, kept on per-thread free lists by size, and reused for the next tree
// rather than given back to the system. A thread that frees far more than it takes (a tree
// built on one thread and dropped on another) hands its surplus in batches to a shared depot,
// where threads that run short take it from.
#include <cstddef>
#include <new>
#include <utility>

#pragma GCC visibility push(default)
namespace morvi::utils {

// Blocks are aligned for anything of at most kPoolAlign; larger than kPoolLargest they come
// from operator new.
inline constexpr std::size_t kPoolAlign = 8;
inline constexpr std::size_t kPoolLargest = 512;

// A block of `size` bytes, given back with the same size, on any thread.
void* pool_allocate(std::size_t size);
void pool_free(void* block, std::size_t size) noexcept;
// Chunks mapped so far by all threads: what the pool holds, as the system sees it.
std::size_t pool_chunk_count() noexcept;

// One object in a pool block; pool_delete destroys it and gives the block back.
template <class T, class... Args>
T* pool_new(Args&&... args) {
  static_assert(alignof(T) <= kPoolAlign);
  void* block = pool_allocate(sizeof(T));
  try {
    return ::new (block) T(std::forward<Args>(args)...);
  } catch (...) {
    pool_free(block, sizeof(T));
    throw;
  }
}

template <class T>
void pool_delete(T* object) noexcept {
  object->~T();
  pool_free(object, sizeof(T));
}

// The pool for containers and std::allocate_shared.
// The alignment is checked where blocks are taken, so that a container of a type still being
// declared (Value's own list) can name the allocator.
template <class T>
struct PoolAllocator {
  using value_type = T;
  PoolAllocator() = default;
  template <class U>
  PoolAllocator(const PoolAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    static_assert(alignof(T) <= kPoolAlign);
    return static_cast<T*>(pool_allocate(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept { pool_free(p, n * sizeof(T)); }
  friend bool operator==(const PoolAllocator&, const PoolAllocator&) noexcept { return true; }
};

}  // namespace morvi::utils
#pragma GCC visibility pop
