#pragma once
// Huge pages for the server's heap as it grows.
//
// The server holds the whole tree of its job, hundreds of megabytes for a large one, and each
// new page of it is touched first as the tree grows: with 4 KiB pages, every one is a page
// fault. The allocator is made to grow its heap in large steps, and each new stretch is marked
// for transparent huge pages before much of it is handed out, so it faults in 2 MiB at a time.
// Where the kernel gives huge pages only on request (the common setting) that takes most of
// the faults away; where it never gives them, the request changes nothing.
#include <cstddef>
#include <cstdint>

namespace morvi::service::server {

class HeapPages {
 public:
  // Makes the allocator grow its heap by `step` bytes at least each time it grows.
  explicit HeapPages(std::size_t step = std::size_t{64} << 20);
  // Marks the heap grown since the last call for huge pages.
  void advise() noexcept;

 private:
  std::uintptr_t advised_;  // the end of the heap as last marked
  std::uintptr_t page_;
};

}  // namespace morvi::service::server
