#pragma once
// The storage of one node's fields. It is part of every node's layout, so it is complete here;
// only the node itself uses it, through slots its kind's layout assigns (src/nodes).
//
// A slot exists or not. An existing slot holds its construction default or its field's common
// constant (a result Passed, a result_rollup true) without taking room, or a value of its own.
// Own values sit in slot order in the store itself while they fit (a passing step's do), else
// in a spill array. Which of these a slot is in, only the store knows.
#include <cstdint>
#include <memory>

#include "morvi/value.hpp"

#pragma GCC visibility push(default)
namespace morvi::reporter::trialkit {

struct NodeLayout;
enum class FieldId : std::uint8_t;

class FieldStore {
 public:
  // `existing`: the slots a new node of the kind has, all holding their defaults.
  explicit FieldStore(std::uint32_t existing) noexcept : present_(existing) {}
  FieldStore(const FieldStore&) = delete;
  FieldStore& operator=(const FieldStore&) = delete;

  // The field's value (its own, its constant or its default), nullptr when absent or when the
  // kind has no such field. Defined with the layouts, in src/nodes/node_layout.hpp.
  const Value* find(const NodeLayout& layout, FieldId field) const noexcept;
  const Value* find_slot(const NodeLayout& layout, int slot) const noexcept;
  bool has(int slot) const noexcept { return present_ & bit(slot); }
  // The slot's own value, nullptr when it has none (absent, default or constant): for changing
  // a value in place only where that cannot change a shared one.
  Value* own(int slot) noexcept { return (stored_ & bit(slot)) ? &values()[index(slot)] : nullptr; }
  // Present without a value of its own: still the default or the constant.
  bool shared(int slot) const noexcept { return (present_ & ~stored_) & bit(slot); }

  // The slot's own value, made from its current value (none when absent) first if needed.
  // Valid until the next slot gets a value of its own.
  Value& ref(const NodeLayout& layout, int slot);
  // Sets the slot, creating it. The layout's constant and a none where the default is none
  // take no room while the slot has none of its own.
  void set(const NodeLayout& layout, int slot, Value value);
  // Sets a slot that has no value of its own to its layout's constant, which it must have.
  void set_constant(int slot) noexcept {
    present_ |= bit(slot);
    constant_ |= bit(slot);
  }

 private:
  static constexpr int kInlineValues = 10;
  static constexpr std::uint32_t bit(int slot) noexcept { return 1u << slot; }
  int index(int slot) const noexcept;
  Value* values() noexcept { return spill_ ? spill_.get() : inline_; }
  const Value* values() const noexcept { return spill_ ? spill_.get() : inline_; }
  const Value& default_of(const NodeLayout& layout, int slot) const noexcept;
  Value& insert(int slot, Value&& value);

  std::unique_ptr<Value[]> spill_;
  Value inline_[kInlineValues];
  // The bookkeeping comes last: a node holds its store as a base, so the node's own small
  // members fill the padding after it.
  std::uint32_t present_ = 0;               // bit i: slot i's field exists
  std::uint32_t stored_ = 0;                // bit i: slot i has a value of its own
  std::uint32_t constant_ = 0;              // bit i: slot i holds its field's constant
  std::uint8_t size_ = 0;                   // own values
  std::uint8_t capacity_ = kInlineValues;   // room for own values
};

}  // namespace morvi::reporter::trialkit
#pragma GCC visibility pop
