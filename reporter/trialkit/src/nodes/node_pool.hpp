#pragma once
// Memory for report nodes: blocks cut from large chunks and kept for the next tree rather than
// returned. A tree's nodes sit together, and a new process faults in a few huge pages rather
// than a fresh page every twenty nodes.
#include <cstddef>
#include <new>

namespace morvi::reporter::trialkit {

// A block of `size` bytes aligned for anything of at most kPoolAlign; given back with the
// same size. A block may be freed on another thread than the one that took it.
inline constexpr std::size_t kPoolAlign = 8;
void* pool_allocate(std::size_t size);
void pool_free(void* block, std::size_t size) noexcept;

// Hands the pool to std::allocate_shared, which puts a node and its counts in one block.
template <class T>
struct NodeAllocator {
  static_assert(alignof(T) <= kPoolAlign);
  using value_type = T;
  NodeAllocator() = default;
  template <class U>
  NodeAllocator(const NodeAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return static_cast<T*>(pool_allocate(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) noexcept { pool_free(p, n * sizeof(T)); }
  friend bool operator==(const NodeAllocator&, const NodeAllocator&) noexcept { return true; }
};

}  // namespace morvi::reporter::trialkit
