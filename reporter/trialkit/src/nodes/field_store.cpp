// The slots of a node's fields: defaults and constants without room, own values in slot order.
#include <cstring>
#include <new>
#include <utility>

#include "node_layout.hpp"

namespace morvi::reporter::trialkit {

namespace {

// The shared defaults, made once when the library loads: default_of is on every read of a
// field that still holds one, and a function-local static would check its guard each time.
const Value kNoneDefault;
const Value kEmptyList{List{}};
const Value kEmptyMap{Map{}};
const Value kFreshTally{results::ResultCounter{}};

// Whether `value` is the slot's constant: a result Passed or a true, compared without the
// general equality and its work list.
bool is_constant(const Value& value, const Value& constant) {
  if (value.kind() != constant.kind()) return false;
  if (value.is_bool()) return value.as_bool() == constant.as_bool();
  if (value.is_result()) return value.as_result() == constant.as_result();
  return value == constant;
}

}  // namespace

const Value& FieldStore::default_of(const NodeLayout& layout, int slot) const noexcept {
  using D = FieldDefault;
  switch (layout.defaults[static_cast<std::size_t>(slot)]) {
    case D::none: return kNoneDefault;
    case D::class_name: return class_name(layout.kind);
    case D::same_as_id: return *find(layout, FieldId::id);
    case D::empty_list: return kEmptyList;
    case D::empty_map: return kEmptyMap;
    case D::fresh_tally: return kFreshTally;
  }
  return kNoneDefault;
}

// A Value holds nothing that points back into itself, so moving its bytes moves it: the own
// values shift and spill with memmove and memcpy, without a move and a release check apiece.
Value& FieldStore::insert(int slot, Value&& value) {
  const int at = index(slot);
  // Out of line: the spill is rare, and inline its registers would be saved on every insert.
  const auto spill = [this]() __attribute__((noinline)) {
    const auto grown = static_cast<std::uint8_t>(capacity_ + 4);
    auto bigger = std::make_unique<Value[]>(grown);
    Value* old = values();
    std::memcpy(static_cast<void*>(bigger.get()), old, size_ * sizeof(Value));
    // The old values' bytes now belong to `bigger`: the places they leave become nones, which
    // the old storage releases as nothing.
    for (int i = 0; i < size_; ++i) ::new (static_cast<void*>(old + i)) Value();
    spill_ = std::move(bigger);
    capacity_ = grown;
  };
  if (size_ == capacity_) spill();
  Value* v = values();
  // v[size_] is a none, and each move leaves a none behind, so nothing is overwritten that
  // needs a release. A node's own values are few and most fields land near the end (before
  // seq_num and the hidden fields), so the shift moves a value or two: a loop of moves, where
  // a call to memmove (which a plain byte-copy loop compiles to) cost more than the copying.
  for (int i = size_; i > at; --i) ::new (static_cast<void*>(v + i)) Value(std::move(v[i - 1]));
  ::new (static_cast<void*>(v + at)) Value(std::move(value));
  ++size_;
  const std::uint32_t b = bit(slot);
  stored_ |= b;
  present_ |= b;
  constant_ &= ~b;
  return v[at];
}

Value& FieldStore::ref(const NodeLayout& layout, int slot) {
  if (Value* mine = own(slot)) return *mine;
  if (!has(slot)) return insert(slot, Value());
  // The empty containers a default stands for are made afresh rather than copied (no slot
  // with such a default has a constant).
  switch (layout.defaults[static_cast<std::size_t>(slot)]) {
    case FieldDefault::empty_list: return insert(slot, Value(List{}));
    case FieldDefault::empty_map: return insert(slot, Value(Map{}));
    default: return insert(slot, Value(*find_slot(layout, slot)));
  }
}

void FieldStore::set(const NodeLayout& layout, int slot, Value value) {
  if (Value* mine = own(slot)) {
    *mine = std::move(value);
    return;
  }
  const std::uint32_t b = bit(slot);
  const Value* constant = layout.constants[static_cast<std::size_t>(slot)];
  if (constant != nullptr && is_constant(value, *constant)) {
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
