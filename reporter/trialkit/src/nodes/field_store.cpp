// The slots of a node's fields: defaults and constants without room, own values in slot order.
#include <utility>

#include "node_layout.hpp"

namespace morvi::reporter::trialkit {

const Value& FieldStore::default_of(const NodeLayout& layout, int slot) const noexcept {
  using D = FieldDefault;
  static const Value none;
  static const Value empty_list{List{}};
  static const Value empty_map{Map{}};
  static const Value fresh_tally{results::ResultCounter{}};
  switch (layout.defaults[static_cast<std::size_t>(slot)]) {
    case D::none: return none;
    case D::class_name: return class_name(layout.kind);
    case D::same_as_id: return *find(layout, FieldId::id);
    case D::empty_list: return empty_list;
    case D::empty_map: return empty_map;
    case D::fresh_tally: return fresh_tally;
  }
  return none;
}

Value& FieldStore::insert(int slot, Value value) {
  const int at = index(slot);
  if (size_ == capacity_) {
    const auto grown = static_cast<std::uint8_t>(capacity_ + 4);
    auto bigger = std::make_unique<Value[]>(grown);
    Value* old = values();
    for (int i = 0; i < size_; ++i) bigger[static_cast<std::size_t>(i)] = std::move(old[i]);
    spill_ = std::move(bigger);
    capacity_ = grown;
  }
  Value* v = values();
  for (int i = size_; i > at; --i) v[i] = std::move(v[i - 1]);
  v[at] = std::move(value);
  ++size_;
  const std::uint32_t b = bit(slot);
  stored_ |= b;
  present_ |= b;
  constant_ &= ~b;
  return v[at];
}

Value& FieldStore::ref(const NodeLayout& layout, int slot) {
  if (Value* mine = own(slot)) return *mine;
  return insert(slot, has(slot) ? *find_slot(layout, slot) : Value());
}

void FieldStore::set(const NodeLayout& layout, int slot, Value value) {
  if (Value* mine = own(slot)) {
    *mine = std::move(value);
    return;
  }
  const std::uint32_t b = bit(slot);
  const Value* constant = layout.constants[static_cast<std::size_t>(slot)];
  if (constant != nullptr && value.kind() == constant->kind() && value == *constant) {
    present_ |= b;
    constant_ |= b;
  } else if (value.is_none() &&
             layout.defaults[static_cast<std::size_t>(slot)] == FieldDefault::none) {
    present_ |= b;  // none needs no room
    constant_ &= ~b;
  } else {
    insert(slot, std::move(value));
  }
}

}  // namespace morvi::reporter::trialkit
