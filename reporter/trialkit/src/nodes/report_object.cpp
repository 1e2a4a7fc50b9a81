// The base node: construction, teardown, and its identity and place in the tree.
#include <string>
#include <utility>
#include <vector>

#include "id_chain.hpp"
#include "node_layout.hpp"

namespace morvi::reporter::trialkit {
namespace {

using F = FieldId;

// The node and its ancestors up to the one that starts the full id, nearest first. Walked in a
// loop: a chain of nested sections can be as deep as the runner makes it.
std::vector<const ReportObjectBase*> id_chain(const ReportObjectBase& node) {
  std::vector<const ReportObjectBase*> chain{&node};
  while (!starts_fullid(*chain.back())) chain.push_back(chain.back()->parent());
  return chain;
}

}  // namespace

ReportObjectBase& node_of(const Value& v) {
  Object* object = v.is_node() ? v.as_object().get() : nullptr;
  if (object == nullptr || !object->is_report_node())
    throw TypeError(std::string("expected a report node, got ") + v.kind_name());
  return static_cast<ReportObjectBase&>(*object);
}

ReportObjectBase::ReportObjectBase(NodeKind kind, Value id, Value seq_num,
                                   ReportObjectBase* parent, Value type)
    : FieldStore(kNodeLayouts[static_cast<std::size_t>(kind)].constructed),
      kind_(kind),
      parent_(parent) {
  const NodeLayout& l = layout();
  if (type.truthy()) fields().set(l, l.slot(F::type), std::move(type));
  fields().set(l, l.slot(F::id), std::move(id));
  fields().set(l, l.slot(F::seq_num), std::move(seq_num));
}

std::shared_ptr<ReportObjectBase> ReportObjectBase::create(Value id, Value seq_num,
                                                           ReportObjectBase* parent, Value type) {
  return std::shared_ptr<ReportObjectBase>(new ReportObjectBase(
      NodeKind::Base, std::move(id), std::move(seq_num), parent, std::move(type)));
}

// Children are taken apart one at a time from an explicit list: letting each node's child list
// destroy its children would recurse once per level of the tree. They go in the reverse of the
// order the runner made them (the last child first, each after its own children), so that the
// pool hands a tree built next the blocks in the order this one took them and its memory stays
// as compact as the first tree's.
ReportObjectBase::~ReportObjectBase() {
  struct Pending {
    Value node;
    bool opened;
  };
  std::vector<Pending> pending;
  List children;
  release_children(children);
  for (Value& child : children) pending.push_back({std::move(child), false});
  while (!pending.empty()) {
    Pending& top = pending.back();
    if (top.opened) {
      pending.pop_back();
      continue;
    }
    top.opened = true;
    const std::shared_ptr<Object>& object = top.node.as_object();
    if (object.use_count() != 1) continue;
    children.clear();
    static_cast<ReportObjectBase&>(*object).release_children(children);
    for (Value& child : children) pending.push_back({std::move(child), false});
  }
}

void ReportObjectBase::release_children(List& out) noexcept {
  const int slot = layout().children_slot;
  Value* list = slot < 0 ? nullptr : fields().own(slot);
  if (list == nullptr) return;
  List& children = list->as_list();
  for (Value& child : children) {
    // A child that someone else still holds outlives this node: it becomes a root.
    auto& node = static_cast<ReportObjectBase&>(*child.as_object());
    if (node.parent_ == this) {
      node.parent_ = nullptr;
      node.in_list_ = false;
    }
    out.push_back(std::move(child));
  }
  children.clear();
}

std::string ReportObjectBase::type_name() const { return std::string(class_name(kind_).as_text()); }

std::string ReportObjectBase::repr() const {
  return "<" + type_name() + " " + fullid().to_text() + ">";
}

Value ReportObjectBase::fullid() const {
  if (starts_fullid(*this)) return id();
  const auto chain = id_chain(*this);
  std::string out;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (it != chain.rbegin()) out += '.';
    (*it)->id().append_text(out);
  }
  return Value(std::move(out));
}

List ReportObjectBase::idlist() const {
  const auto chain = id_chain(*this);
  List out;
  out.reserve(chain.size());
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) out.push_back((*it)->id());
  return out;
}

}  // namespace morvi::reporter::trialkit
