#include "morvi/reporter/client/child_identifiers.hpp"

#include <cstdint>
#include <utility>

namespace morvi::reporter::client {

namespace {

// The id and position of an identifier of the form {"id": <id>, "index": <whole number>}.
struct Positional {
  const Value* id;
  std::int64_t index;
};

std::optional<Positional> positional(const Value& identifier) {
  if (!identifier.is_map()) return std::nullopt;
  const Map& m = identifier.as_map();
  const Value* id = m.find("id");
  const Value* index = m.find("index");
  if (m.size() != 2 || !id || !index || !index->is_int()) return std::nullopt;
  return Positional{id, index->as_int()};
}

}  // namespace

ChildIdentifiers::ChildIdentifiers(std::vector<Value> ids) : ids_(std::move(ids)) {
  by_repr_.reserve(ids_.size());
  for (std::size_t i = 0; i < ids_.size(); ++i) {
    auto [it, fresh] = by_repr_.try_emplace(ids_[i].to_repr(), Seen{i, false});
    if (!fresh) it->second.shared = true;
  }
}

const ChildIdentifiers::Seen* ChildIdentifiers::seen(const Value& id) const {
  const auto it = by_repr_.find(id.to_repr());
  return it == by_repr_.end() ? nullptr : &it->second;
}

Value ChildIdentifiers::identifier(std::size_t position) const {
  const Value& id = ids_.at(position);
  // An id of the positional form itself would be read as a position, so it is named by one.
  if (!seen(id)->shared && !positional(id)) return id;
  return Value(Map{{"id", id}, {"index", Value(position)}});
}

List ChildIdentifiers::identifiers(std::size_t first, std::size_t count) const {
  List out;
  out.reserve(count);
  for (std::size_t i = first; i < first + count; ++i) out.push_back(identifier(i));
  return out;
}

std::optional<std::size_t> ChildIdentifiers::find(const Value& identifier) const {
  if (const auto named = positional(identifier)) {
    const std::int64_t i = named->index;
    if (i < 0 || static_cast<std::size_t>(i) >= ids_.size()) return std::nullopt;
    if (ids_[static_cast<std::size_t>(i)].to_repr() != named->id->to_repr()) return std::nullopt;
    return static_cast<std::size_t>(i);
  }
  const Seen* s = seen(identifier);
  if (!s) return std::nullopt;
  return s->first;
}

}  // namespace morvi::reporter::client
