#pragma once
// Entry: an object of the legacy report model that renders as one element of the details
// document and holds nested entries (job execution, test scripts, sections, testcases, steps).
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "morvi/utils/block_pool.hpp"
#include "morvi/zorbel/xml.hpp"

#pragma GCC visibility push(default)
namespace morvi::zorbel {

class Entry {
 public:
  Entry() = default;
  Entry(const Entry&) = delete;
  Entry& operator=(const Entry&) = delete;
  // Frees nested entries with a work list, so a chain of steps of any depth is released
  // without deep recursion.
  virtual ~Entry();

  // Entries come from the block pool: a report's hundreds of thousands of them then lie in
  // huge pages that the next report reuses, instead of fresh heap pages faulted in 4 KiB at a
  // time by the first report of a process.
  static void* operator new(std::size_t size) { return utils::pool_allocate(size); }
  static void operator delete(void* block, std::size_t size) noexcept {
    utils::pool_free(block, size);
  }

  // The element name, e.g. "testStep".
  virtual const char* tag() const noexcept = 0;
  // Writes the entry's own attributes and child elements (not its nested entries).
  virtual void render_fields(const xml::Element& element) const = 0;

  // Nested entries in the order they were attached.
  const std::vector<std::unique_ptr<Entry>>& entries() const noexcept { return entries_; }

 protected:
  template <class Child>
  Child& attach(std::unique_ptr<Child> child) {
    Child& ref = *child;
    entries_.push_back(std::move(child));
    return ref;
  }

 private:
  std::vector<std::unique_ptr<Entry>> entries_;
};

// Renders `top` into `element`, then every nested entry as a child element, depth first.
// Walks with its own stack; the element tree refuses nesting past xml::kMaxDepth.
void render_entries(const Entry& top, const xml::Element& element);

}  // namespace morvi::zorbel
#pragma GCC visibility pop
