#include <functional>
#include <string>
#include <tuple>
#include <utility>

#include "morvi/errors.hpp"
#include "morvi/value.hpp"

namespace morvi {
namespace {

// The key's text is made in place in the new entry, not as a temporary moved in after.
void append(Map::Entries& entries, std::string_view key, Value&& value) {
  entries.emplace_back(std::piecewise_construct, std::forward_as_tuple(key),
                       std::forward_as_tuple(std::move(value)));
}

}  // namespace

Map::Map(std::initializer_list<Entry> entries) {
  entries_.reserve(entries.size());
  for (const Entry& e : entries) set(e.first, e.second);
}

Map& Map::operator=(const Map& other) {
  if (this != &other) {
    entries_ = other.entries_;
    index_.reset();
  }
  return *this;
}

void Map::index_tail() const {
  if (!index_) {
    index_ = std::make_unique<std::unordered_multimap<std::size_t, std::size_t>>();
    index_->reserve(entries_.size() * 2);
  }
  for (std::size_t i = index_->size(); i < entries_.size(); ++i)
    index_->emplace(std::hash<std::string_view>{}(entries_[i].first), i);
}

std::ptrdiff_t Map::position(std::string_view key) const {
  if (entries_.size() < kIndexFrom) {
    for (std::size_t i = 0; i < entries_.size(); ++i)
      if (entries_[i].first == key) return static_cast<std::ptrdiff_t>(i);
    return -1;
  }
  if (!index_ || index_->size() != entries_.size()) index_tail();
  auto [lo, hi] = index_->equal_range(std::hash<std::string_view>{}(key));
  for (auto it = lo; it != hi; ++it)
    if (entries_[it->second].first == key) return static_cast<std::ptrdiff_t>(it->second);
  return -1;
}

const Value* Map::find(std::string_view key) const {
  const auto i = position(key);
  return i < 0 ? nullptr : &entries_[static_cast<std::size_t>(i)].second;
}

Value* Map::find(std::string_view key) {
  const auto i = position(key);
  return i < 0 ? nullptr : &entries_[static_cast<std::size_t>(i)].second;
}

const Value& Map::at(std::string_view key) const {
  if (const Value* v = find(key)) return *v;
  throw LookupError("no key '" + std::string(key) + "'");
}

Value& Map::at(std::string_view key) {
  if (Value* v = find(key)) return *v;
  throw LookupError("no key '" + std::string(key) + "'");
}

Value& Map::operator[](std::string_view key) {
  if (Value* v = find(key)) return *v;
  append(entries_, key, Value());
  return entries_.back().second;
}

void Map::set(std::string_view key, Value value) {
  if (Value* v = find(key)) {
    *v = std::move(value);
    return;
  }
  append(entries_, key, std::move(value));
}

std::optional<Value> Map::take(std::string_view key) {
  const auto i = position(key);
  if (i < 0) return std::nullopt;
  Value v = std::move(entries_[static_cast<std::size_t>(i)].second);
  entries_.erase(entries_.begin() + i);
  index_.reset();
  return v;
}

void Map::clear() noexcept {
  entries_.clear();
  index_.reset();
}

bool operator==(const Map& a, const Map& b) {
  if (a.size() != b.size()) return false;
  for (const auto& [key, value] : a) {
    const Value* other = b.find(key);
    if (!other || !(*other == value)) return false;
  }
  return true;
}

}  // namespace morvi
