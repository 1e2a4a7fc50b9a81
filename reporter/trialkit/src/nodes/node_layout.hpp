#pragma once
// How each node kind keeps its fields: which slot holds which field, which fields a new node
// has, and what each holds until first written.
#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>
#include <utility>

#include "field_table.hpp"
#include "morvi/reporter/trialkit.hpp"

namespace morvi::reporter::trialkit {

struct NodeLayout {
  static constexpr int kMaxSlots = 32;  // a node's slot sets are 32-bit masks

  NodeKind kind = NodeKind::Base;
  std::span<const std::string_view> arg_order;
  std::span<const FieldId> arg_ids;  // arg_order's fields, position by position
  std::uint64_t listed = 0;          // bit per FieldId: named in arg_order
  std::array<std::int8_t, kFieldCount> slot_of{};  // -1: the kind does not store the field
  std::array<FieldDefault, kMaxSlots> defaults{};
  // The common value a slot may hold without room: a result Passed, a result_rollup true.
  // Null for the slots that have none.
  std::array<const Value*, kMaxSlots> constants{};
  std::uint32_t constructed = 0;     // slots that exist on a new node
  int children_slot = -1;

  constexpr int slot(FieldId f) const noexcept {
    return f == FieldId::unknown ? -1 : slot_of[static_cast<std::size_t>(index_of(f))];
  }
  constexpr bool lists(FieldId f) const noexcept {
    return f != FieldId::unknown && (listed & bit_of(f));
  }
};

// Indexed by NodeKind; constant-initialised.
extern const std::array<NodeLayout, 5> kNodeLayouts;

inline const NodeLayout& ReportObjectBase::layout() const noexcept {
  return kNodeLayouts[static_cast<std::size_t>(kind_)];
}

// "ReportObjectBase", "TrialKit", ...: the type of a node built without one.
const Value& class_name(NodeKind kind) noexcept;

// The bit count of a slot mask (std::popcount becomes a library call without -mpopcnt).
constexpr int count_bits(std::uint32_t v) noexcept {
  v = v - ((v >> 1) & 0x55555555u);
  v = (v & 0x33333333u) + ((v >> 2) & 0x33333333u);
  return static_cast<int>((((v + (v >> 4)) & 0x0F0F0F0Fu) * 0x01010101u) >> 24);
}

// Whether `v` can hold a node: scalars cannot, and most values stored are scalars, so the
// hot paths ask this before they call check_no_cycle.
inline bool may_hold_nodes(const Value& v) noexcept {
  switch (v.kind()) {
    case Kind::List:
    case Kind::Tuple:
    case Kind::Map:
    case Kind::AttrMap:
    case Kind::Error:
    case Kind::Result:
    case Kind::Node: return true;
    default: return false;
  }
}

// Every field read passes here, so these stay inline.
inline int FieldStore::index(int slot) const noexcept {
  return count_bits(stored_ & (bit(slot) - 1u));
}

inline const Value* FieldStore::find_slot(const NodeLayout& layout, int slot) const noexcept {
  const std::uint32_t b = bit(slot);
  if (!(present_ & b)) return nullptr;
  if (stored_ & b) return &values()[index(slot)];
  if (constant_ & b) return layout.constants[static_cast<std::size_t>(slot)];
  return &default_of(layout, slot);
}

inline const Value* FieldStore::find(const NodeLayout& layout, FieldId field) const noexcept {
  const int slot = layout.slot(field);
  return slot < 0 ? nullptr : find_slot(layout, slot);
}

inline const Value* ReportObjectBase::find(FieldId field) const noexcept {
  return fields().find(layout(), field);
}

inline bool ReportObjectBase::listed_derived(std::size_t position) const noexcept {
  return layout().slot(layout().arg_ids[position]) < 0;
}

inline const Value* ReportObjectBase::listed_stored(std::size_t position) const noexcept {
  const NodeLayout& l = layout();
  return fields().find_slot(l, l.slot(l.arg_ids[position]));
}

}  // namespace morvi::reporter::trialkit
