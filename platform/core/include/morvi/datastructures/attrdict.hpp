#pragma once
// AttrDict: a map whose entries can also be reached like fields, by name. In a Value it is the
// attr-map kind, so writers can tell it from a plain map while writing it the same way.
#include <string_view>

#include "morvi/errors.hpp"
#include "morvi/value.hpp"

#pragma GCC visibility push(default)
namespace morvi::datastructures {

class AttrDict : public Map {
 public:
  using Map::Map;
  AttrDict() = default;
  explicit AttrDict(Map m) : Map(std::move(m)) {}

  // Field-style access: LookupError naming the field when it is missing.
  const Value& attr(std::string_view name) const { return at(name); }
  void set_attr(std::string_view name, Value value) { set(name, std::move(value)); }

  operator Value() const& { return Value::attr_map(*this); }
  operator Value() && { return Value::attr_map(std::move(*this)); }
};

}  // namespace morvi::datastructures
#pragma GCC visibility pop
