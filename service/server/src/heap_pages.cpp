#include "heap_pages.hpp"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

namespace morvi::service::server {
namespace {

std::uintptr_t heap_end() noexcept { return reinterpret_cast<std::uintptr_t>(::sbrk(0)); }

}  // namespace

HeapPages::HeapPages(std::size_t step)
    : advised_(heap_end()), page_(static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE))) {
  ::mallopt(M_TOP_PAD, static_cast<int>(step));
}

void HeapPages::advise() noexcept {
  const std::uintptr_t end = heap_end();
  // A heap given back and grown again is marked again from where it shrank to.
  if (end < advised_) advised_ = end;
  const std::uintptr_t from = (advised_ + page_ - 1) & ~(page_ - 1);
  if (end <= from) return;
  // Only advice: a kernel without transparent huge pages refuses it, and nothing changes.
  ::madvise(reinterpret_cast<void*>(from), end - from, MADV_HUGEPAGE);
  advised_ = end;
}

}  // namespace morvi::service::server
