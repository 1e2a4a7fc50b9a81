#pragma once
// How records name a node's children, the same for every reporter client.
//
// A child is named by its id when no sibling shares that id, the common case. Siblings may
// share an id (a loop of steps all named "step"); each of those is named by the map
// {"id": <id>, "index": <its position among the node's children>}, so that every child can be
// reached and a path never lands on the wrong twin. So is a child whose own id has that form,
// which would otherwise be read as a position.
#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "morvi/value.hpp"

#pragma GCC visibility push(default)
namespace morvi::reporter::client {

class ChildIdentifiers {
 public:
  // Over the ids of a node's children, in child order (tasks first, then sections).
  explicit ChildIdentifiers(std::vector<Value> ids);

  // The identifier a record lists for the child at `position`.
  Value identifier(std::size_t position) const;
  // The identifiers of the children at [first, first + count), as a record lists them.
  List identifiers(std::size_t first, std::size_t count) const;
  // The position of the child that `identifier` names, or nothing when none matches.
  std::optional<std::size_t> find(const Value& identifier) const;

  std::size_t size() const noexcept { return ids_.size(); }

 private:
  struct Seen {
    std::size_t first;
    bool shared;
  };
  const Seen* seen(const Value& id) const;

  std::vector<Value> ids_;
  // By the printable form of an id: where it first occurs and whether a sibling repeats it.
  std::unordered_map<std::string, Seen> by_repr_;
};

}  // namespace morvi::reporter::client
#pragma GCC visibility pop
