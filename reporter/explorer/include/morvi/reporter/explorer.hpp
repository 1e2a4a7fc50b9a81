#pragma once
// A lazy, read-only view of a report held by a reporter client. An Explorer fetches one record
// when it is made and answers lookups from it; its child lists are ExplorerSections, which fetch
// a child only when its index is read, anew on every read. Nothing is cached.
#include <cstddef>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>

#include "morvi/reporter/client.hpp"
#include "morvi/value.hpp"

#pragma GCC visibility push(default)
namespace morvi::reporter::explorer {

using client::ReporterClient;

class Explorer;

namespace detail {
// What an Explorer and the child lists made from it share; it never changes after the fetch.
struct ExplorerState;
}  // namespace detail

class ExplorerSections {
 public:
  class iterator;

  // Over `sections`, a sequence of child identifiers, below `parent`. Fetches nothing.
  ExplorerSections(Value sections, const Explorer& parent);

  // The number of identifiers; no request. TypeError when they are not a sequence.
  std::size_t size() const;
  // A new Explorer for child `index` (negative counts from the end), fetched now: every
  // access is one get_section request, also for an index read before. LookupError, before
  // any request, for an index outside the sequence.
  Explorer operator[](std::ptrdiff_t index) const;

  // Lazy iteration: begin() reads the length once; each child is fetched when its element is
  // first dereferenced.
  iterator begin() const;
  std::default_sentinel_t end() const noexcept { return {}; }

  // The identifier sequence; equal when the identifiers are equal, whatever the parents.
  const Value& ids() const noexcept { return *ids_; }
  friend bool operator==(const ExplorerSections& a, const ExplorerSections& b) {
    return *a.ids_ == *b.ids_;
  }
  friend bool operator==(const ExplorerSections& a, const Value& ids) { return *a.ids_ == ids; }

 private:
  friend class Explorer;
  ExplorerSections(std::shared_ptr<const Value> ids,
                   std::shared_ptr<const detail::ExplorerState> parent)
      : ids_(std::move(ids)), parent_(std::move(parent)) {}

  std::shared_ptr<const Value> ids_;
  std::shared_ptr<const detail::ExplorerState> parent_;
};

class Explorer {
 public:
  // Fetches the record of the node at `id_list`: the top record (get_trialkit) for an empty
  // path, get_section otherwise. Errors of the client reach the caller unchanged.
  // ArgumentError for a null client.
  explicit Explorer(std::shared_ptr<ReporterClient> client, List id_list = {});

  // True exactly when the fetched record is truthy (not none, not empty).
  explicit operator bool() const noexcept;

  // The record's value for `name`, none when the record lacks it. LookupError when the client
  // gave a none record: there is nothing to look the name up in. The lazy child lists are
  // tasks() and sections(); looking up "tasks" here gives the raw identifier list.
  Value field(std::string_view name) const;
  Value operator[](std::string_view key) const { return field(key); }

  // Present only when the record is truthy and holds the key "tasks" (or "sections").
  const std::optional<ExplorerSections>& tasks() const noexcept { return tasks_; }
  const std::optional<ExplorerSections>& sections() const noexcept { return sections_; }

  // The path from the top record to this node; empty for the top record.
  const List& id_list() const noexcept;
  // The record as the client returned it.
  const Value& record() const noexcept;
  const std::shared_ptr<ReporterClient>& client() const noexcept;

 private:
  friend class ExplorerSections;

  std::shared_ptr<const detail::ExplorerState> state_;
  std::optional<ExplorerSections> tasks_;
  std::optional<ExplorerSections> sections_;
};

class ExplorerSections::iterator {
 public:
  using iterator_concept = std::input_iterator_tag;
  using value_type = Explorer;
  using difference_type = std::ptrdiff_t;

  // Fetches the current child on the first dereference and keeps it until the next step.
  const Explorer& operator*() const;
  const Explorer* operator->() const { return &**this; }
  iterator& operator++() {
    ++index_;
    current_.reset();
    return *this;
  }
  void operator++(int) { ++*this; }
  friend bool operator==(const iterator& it, std::default_sentinel_t) {
    return it.index_ >= it.size_;
  }

 private:
  friend class ExplorerSections;
  iterator(const ExplorerSections& sections, std::size_t size)
      : sections_(sections), size_(size) {}

  ExplorerSections sections_;
  std::size_t index_ = 0;
  std::size_t size_;
  mutable std::optional<Explorer> current_;
};

}  // namespace morvi::reporter::explorer
#pragma GCC visibility pop
