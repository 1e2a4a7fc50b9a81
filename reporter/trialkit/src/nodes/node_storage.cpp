// Field storage of a node: slots, construction defaults, and reading and writing by name.
#include <algorithm>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "node_layout.hpp"

namespace morvi::reporter::trialkit {
namespace {

using F = FieldId;

const Value kNone;

[[noreturn]] void no_such_field(const ReportObjectBase& node, std::string_view name) {
  throw ArgumentError(node.type_name() + " has no field '" + std::string(name) + "'");
}

// Refuses values that would break the typed reads: `details` and the child lists are lists,
// `extra` is a map.
void check_assignable(F field, const Value& value) {
  if ((field == F::details || field == F::tasks || field == F::sections) && !value.is_list())
    throw TypeError("'" + std::string(field_name(field)) + "' must be a list, got " +
                    value.kind_name());
  if (field == F::extra && !value.is_map())
    throw TypeError("'extra' must be a map, got " + std::string(value.kind_name()));
}

std::vector<const ReportObjectBase*> nodes_in(const List& list) {
  std::vector<const ReportObjectBase*> out;
  out.reserve(list.size());
  for (const Value& item : list) out.push_back(&node_of(item));
  std::sort(out.begin(), out.end());
  return out;
}

const ReportObjectBase* report_node(const Value& v) {
  return v.is_node() ? dynamic_cast<const ReportObjectBase*>(v.as_object().get()) : nullptr;
}

// Whether nothing `v` holds directly can hold a node: true of most values a node is given
// (scalars, a result without data, a flat list or map), which then need no walk.
bool flat(const Value& v) {
  const auto none_may = [](const auto& items, auto value_of) {
    for (const auto& item : items)
      if (may_hold_nodes(value_of(item))) return false;
    return true;
  };
  const auto itself = [](const Value& item) -> const Value& { return item; };
  const auto second = [](const auto& entry) -> const Value& { return entry.second; };
  switch (v.kind()) {
    case Kind::List:
    case Kind::Tuple: return none_may(v.as_list(), itself);
    case Kind::Map:
    case Kind::AttrMap: return none_may(v.as_map(), second);
    case Kind::Error: return none_may(v.as_error().args, itself);
    case Kind::Result: return none_may(v.as_result().data(), second);
    case Kind::Node: return false;
    default: return true;
  }
}

// Queues the values `v` holds directly; returns the node `v` is, if it is one.
const ReportObjectBase* open_value(const Value& v, std::vector<const Value*>& pending) {
  switch (v.kind()) {
    case Kind::List:
    case Kind::Tuple:
      for (const Value& item : v.as_list())
        if (may_hold_nodes(item)) pending.push_back(&item);
      return nullptr;
    case Kind::Map:
    case Kind::AttrMap:
      for (const auto& entry : v.as_map())
        if (may_hold_nodes(entry.second)) pending.push_back(&entry.second);
      return nullptr;
    case Kind::Error:
      for (const Value& arg : v.as_error().args)
        if (may_hold_nodes(arg)) pending.push_back(&arg);
      return nullptr;
    case Kind::Result:
      for (const auto& entry : v.as_result().data())
        if (may_hold_nodes(entry.second)) pending.push_back(&entry.second);
      return nullptr;
    case Kind::Node: return report_node(v);
    default: return nullptr;
  }
}

}  // namespace

void ReportObjectBase::check_joining(std::string_view list_name, std::span<const Value> children,
                                     bool replacing) const {
  const std::string list = "'" + std::string(list_name) + "'";
  std::vector<const ReportObjectBase*> joining;
  joining.reserve(children.size());
  for (const Value& child : children) {
    const ReportObjectBase* candidate = report_node(child);
    if (candidate == nullptr)
      throw ArgumentError(list + " holds report nodes only, got " + child.kind_name());
    joining.push_back(candidate);
    if (candidate->in_list_ && candidate->parent_ == this) {
      if (replacing) continue;
      throw ArgumentError(list + " of " + repr() + " holds " + candidate->repr() +
                          " already: a node hangs in one child list at most");
    }
    if (candidate->in_list_)
      throw ArgumentError(candidate->repr() + " hangs in the child list of " +
                          candidate->parent_->repr() + " already and cannot join " + list +
                          " of " + repr() + ": a node hangs in one child list at most");
    if (candidate->parent_ != nullptr && candidate->parent_ != this)
      throw ArgumentError(candidate->repr() + " has another parent, " +
                          candidate->parent_->repr() + ", and cannot join " + list + " of " +
                          repr());
    check_no_cycle(list_name, child);
  }
  std::sort(joining.begin(), joining.end());
  const auto twice = std::adjacent_find(joining.begin(), joining.end());
  if (twice != joining.end())
    throw ArgumentError(list + " of " + repr() + " would hold " + (*twice)->repr() +
                        " twice: a node hangs in one child list at most");
}

void ReportObjectBase::join(const Value& child) noexcept {
  auto& node = static_cast<ReportObjectBase&>(*child.as_object());
  node.parent_ = this;
  node.in_list_ = true;
}

void ReportObjectBase::check_no_cycle(std::string_view field, const Value& value) const {
  if (flat(value)) return;
  // The nodes `value` holds, then everything each of them holds, nodes included; a node met
  // twice is walked once.
  std::vector<const Value*> pending{&value};
  std::vector<const ReportObjectBase*> held;
  while (!pending.empty()) {
    const Value* v = pending.back();
    pending.pop_back();
    if (const ReportObjectBase* node = open_value(*v, pending)) held.push_back(node);
  }
  std::unordered_set<const ReportObjectBase*> seen;
  for (const ReportObjectBase* start : held) {
    std::vector<const ReportObjectBase*> nodes{start};
    while (!nodes.empty()) {
      const ReportObjectBase* node = nodes.back();
      nodes.pop_back();
      if (node == this) {
        const std::string what = start == this ? "itself" : start->repr() + ", which holds it";
        throw ArgumentError("'" + std::string(field) + "' of " + repr() + " cannot hold " + what +
                            ": that would make a cycle");
      }
      if (!seen.insert(node).second) continue;
      for (int slot = 0; slot < NodeLayout::kMaxSlots; ++slot) {
        const Value* field = node->fields().find_slot(node->layout(), slot);
        if (field != nullptr && may_hold_nodes(*field)) pending.push_back(field);
      }
      if (node->kind_ == NodeKind::Task) {
        const Value& result = static_cast<const Task*>(node)->explicit_result_;
        if (may_hold_nodes(result)) pending.push_back(&result);
      }
      while (!pending.empty()) {
        const Value* v = pending.back();
        pending.pop_back();
        if (const ReportObjectBase* inner = open_value(*v, pending)) nodes.push_back(inner);
      }
    }
  }
}

Value& ReportObjectBase::slot(FieldId field) {
  const int slot = layout().slot(field);
  if (slot < 0) no_such_field(*this, field_name(field));
  return fields().ref(layout(), slot);
}

void ReportObjectBase::store(FieldId field, Value value) {
  const int slot = layout().slot(field);
  if (slot < 0) no_such_field(*this, field_name(field));
  fields().set(layout(), slot, std::move(value));
}

FieldRef ReportObjectBase::field(std::string_view name) const { return read(field_id(name)); }

FieldRef ReportObjectBase::listed_field(std::size_t position) const {
  return read(layout().arg_ids[position]);
}

FieldRef ReportObjectBase::read(FieldId field) const {
  if (field == F::fullid) return FieldRef::computed(fullid());
  if (field == F::idlist) return FieldRef::computed(Value(idlist()));
  const Value* value = find(field);
  return value ? FieldRef::borrowed(*value) : FieldRef();
}

void ReportObjectBase::set_field(std::string_view name, Value value) {
  const FieldId field = field_id(name);
  if (field == F::unknown) no_such_field(*this, name);
  assign(field, std::move(value));
}

void ReportObjectBase::assign(FieldId field, Value value) {
  if (field == F::fullid || field == F::idlist)
    throw ArgumentError("'" + std::string(field_name(field)) +
                        "' is derived from the node's place in the tree and cannot be assigned");
  const int slot = layout().slot(field);
  if (slot < 0) no_such_field(*this, field_name(field));
  check_assignable(field, value);
  if (slot == layout().children_slot)
    check_joining(field_name(field), value.as_list(), true);
  else if (may_hold_nodes(value))
    check_no_cycle(field_name(field), value);
  // A name that still mirrors the id keeps the id it had.
  if (field == F::id) {
    const int name_slot = layout().slot(F::name);
    if (fields().shared(name_slot)) fields().ref(layout(), name_slot);
  }
  if (slot != layout().children_slot) {
    fields().set(layout(), slot, std::move(value));
    return;
  }
  // A new child list: the children that leave it forget this node as their parent, those that
  // stay keep it. The old list lives until then, so that no child dies while being looked at.
  Value previous = std::move(fields().ref(layout(), slot));
  fields().set(layout(), slot, std::move(value));
  const auto staying = nodes_in(children());
  for (const Value& child : previous.as_list()) {
    auto& node = static_cast<ReportObjectBase&>(*child.as_object());
    if (node.parent_ == this && !std::binary_search(staying.begin(), staying.end(), &node)) {
      node.parent_ = nullptr;
      node.in_list_ = false;
    }
  }
  for (const Value& child : children()) join(child);
}

const Value& ReportObjectBase::id() const noexcept { return *find(F::id); }
const Value& ReportObjectBase::seq_num() const noexcept { return *find(F::seq_num); }
const Value& ReportObjectBase::type() const noexcept { return *find(F::type); }

const Value& ReportObjectBase::starttime() const noexcept {
  const Value* v = find(F::starttime);
  return v ? *v : kNone;
}
const Value& ReportObjectBase::stoptime() const noexcept {
  const Value* v = find(F::stoptime);
  return v ? *v : kNone;
}
const Value& ReportObjectBase::runtime() const noexcept {
  const Value* v = find(F::runtime);
  return v ? *v : kNone;
}
const Value& ReportObjectBase::result_rollup() const noexcept {
  const Value* v = find(F::result_rollup);
  return v ? *v : kNone;
}

const List& ReportObjectBase::details() const { return find(F::details)->as_list(); }
const Map& ReportObjectBase::extra() const { return find(F::extra)->as_map(); }

const List& ReportObjectBase::children() const {
  static const List none;
  const int slot = layout().children_slot;
  return slot < 0 ? none : fields().find_slot(layout(), slot)->as_list();
}

std::span<const std::string_view> ReportObjectBase::arg_order() const noexcept {
  return layout().arg_order;
}

}  // namespace morvi::reporter::trialkit
