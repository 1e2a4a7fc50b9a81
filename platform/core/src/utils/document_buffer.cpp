// Growing the document buffer. A results document can be a hundred megabytes or more, and
// fresh memory costs as much to fault in and clear as the document costs to write. So large
// buffers are mapped directly and grown by remapping their pages rather than copying them, and
// they, like the text handed out at the end, ask for huge pages where the system offers them
// (on Linux, transparent huge pages on request).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "morvi/utils/document_buffer.hpp"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace morvi::utils {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kFirstCapacity = std::size_t{16} << 10;
// From this size on, the buffer is its own mapping.
constexpr std::size_t kMappedFrom = 2 * kHugePage;
// What take() copies before giving the copied pages back.
constexpr std::size_t kTakenPiece = 8 * kHugePage;

void advise_huge_pages([[maybe_unused]] char* data, [[maybe_unused]] std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHugePage - 1);
  // Only advice: where the system declines, ordinary pages serve as before.
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

#if defined(__linux__)
// The mapping of the last large document written on this thread, lent to the next one: its
// pages are already in place. Between documents they are only lazily freeable (MADV_FREE), so
// the system takes them back when it needs memory.
struct SpareBlock {
  char* data = nullptr;
  std::size_t size = 0;
  SpareBlock() = default;
  SpareBlock(const SpareBlock&) = delete;
  SpareBlock& operator=(const SpareBlock&) = delete;
  ~SpareBlock() {
    if (data) ::munmap(data, size);
  }
};
thread_local SpareBlock spare;

char* map_block(char* old, std::size_t old_size, std::size_t size) {
  void* block = old ? ::mremap(old, old_size, size, MREMAP_MAYMOVE) : MAP_FAILED;
  if (block == MAP_FAILED) {
    // A fresh mapping and a copy where the pages cannot be moved (valgrind declines to move
    // large mappings).
    block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    if (old) {
      std::memcpy(block, old, old_size);
      ::munmap(old, old_size);
    }
  }
  advise_huge_pages(static_cast<char*>(block), size);
  return static_cast<char*>(block);
}
#endif

}  // namespace

DocumentBuffer::~DocumentBuffer() {
  const auto capacity = static_cast<std::size_t>(end_ - data_);
#if defined(__linux__)
  if (capacity >= kMappedFrom) {
    if (capacity < spare.size) {
      ::munmap(data_, capacity);
      return;
    }
    if (spare.data) ::munmap(spare.data, spare.size);
    ::madvise(data_, capacity, MADV_FREE);
    spare.data = data_;
    spare.size = capacity;
    return;
  }
#endif
  std::free(data_);
}

std::string DocumentBuffer::str() const {
  std::string text;
  text.reserve(size());
  if (text.capacity() >= kMappedFrom) advise_huge_pages(text.data(), text.capacity());
  text.append(data_, size());
  return text;
}

std::string DocumentBuffer::take() {
  std::string text;
  const std::size_t n = size();
  text.reserve(n);
  if (text.capacity() >= kMappedFrom) advise_huge_pages(text.data(), text.capacity());
#if defined(__linux__)
  if (static_cast<std::size_t>(end_ - data_) >= kMappedFrom) {
    // The mapping stays, to be lent to the next document; its pages come back fresh.
    for (std::size_t done = 0; done < n; done += kTakenPiece) {
      const std::size_t piece = std::min(kTakenPiece, n - done);
      text.append(data_ + done, piece);
      ::madvise(data_ + done, piece, MADV_DONTNEED);
    }
    cur_ = data_;
    return text;
  }
#endif
  text.append(data_, n);
  cur_ = data_;
  return text;
}

void DocumentBuffer::grow(std::size_t n) {
  const std::size_t used = size();
  const auto old_capacity = static_cast<std::size_t>(end_ - data_);
  std::size_t capacity = std::max({old_capacity * 2, used + n, kFirstCapacity});
  char* grown = nullptr;
#if defined(__linux__)
  if (capacity >= kMappedFrom) {
    capacity = (capacity + kHugePage - 1) & ~(kHugePage - 1);
    if (old_capacity >= kMappedFrom) {
      grown = map_block(data_, old_capacity, capacity);
    } else {
      if (spare.data) {
        grown = spare.size >= capacity ? spare.data : map_block(spare.data, spare.size, capacity);
        capacity = std::max(capacity, spare.size);
        spare.data = nullptr;
        spare.size = 0;
      } else {
        grown = map_block(nullptr, 0, capacity);
      }
      if (used > 0) std::memcpy(grown, data_, used);
      std::free(data_);
    }
  }
#endif
  if (grown == nullptr) {
    grown = static_cast<char*>(std::realloc(data_, capacity));
    if (grown == nullptr) throw std::bad_alloc();
  }
  data_ = grown;
  cur_ = grown + used;
  end_ = grown + capacity;
}

}  // namespace morvi::utils
