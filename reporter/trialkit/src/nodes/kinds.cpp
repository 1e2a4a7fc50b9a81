// The four node kinds: construction, adding children, the trialkit's stop and the report
// header.
#include <utility>

#include "node_layout.hpp"
#include "node_pool.hpp"

namespace morvi::reporter::trialkit {

using F = FieldId;

template <class Child>
std::shared_ptr<Child> ReportObjectBase::adopt(Value id, Value seq_num, Value type) {
  if (may_hold_nodes(id)) check_no_cycle("id", id);
  if (may_hold_nodes(seq_num)) check_no_cycle("seq_num", seq_num);
  if (may_hold_nodes(type)) check_no_cycle("type", type);
  auto child = std::allocate_shared<Child>(NodeAllocator<Child>(), std::move(id),
                                          std::move(seq_num), this, std::move(type));
  List& children = fields().ref(layout(), layout().children_slot).as_list();
  children.push_back(Value::node(child));
  child->in_list_ = true;
  return child;
}

TrialKit::TrialKit(Value id, Value seq_num, Value type)
    : ReportObjectBase(NodeKind::TrialKit, std::move(id), std::move(seq_num), nullptr,
                       std::move(type)) {
  store(F::totaltasks, Value(0));
}

std::shared_ptr<TrialKit> TrialKit::create(Value id, Value seq_num, Value type) {
  return std::allocate_shared<TrialKit>(NodeAllocator<TrialKit>(), std::move(id),
                                        std::move(seq_num), std::move(type));
}

Task::Task(Value id, Value seq_num, ReportObjectBase* parent, Value type)
    : ReportObjectBase(NodeKind::Task, std::move(id), std::move(seq_num), parent,
                       std::move(type)) {}

Plugin::Plugin(Value id, Value seq_num, ReportObjectBase* parent, Value type)
    : ReportObjectBase(NodeKind::Plugin, std::move(id), std::move(seq_num), parent,
                       std::move(type)) {}

Section::Section(Value id, Value seq_num, ReportObjectBase* parent, Value type)
    : ReportObjectBase(NodeKind::Section, std::move(id), std::move(seq_num), parent,
                       std::move(type)) {}

std::shared_ptr<Task> TrialKit::add_task(Value id, Value seq_num, Value type) {
  return adopt<Task>(std::move(id), std::move(seq_num), std::move(type));
}

std::shared_ptr<Plugin> TrialKit::add_plugin(Value id, Value seq_num, Value type) {
  return adopt<Plugin>(std::move(id), std::move(seq_num), std::move(type));
}

std::shared_ptr<Plugin> Task::add_plugin(Value id, Value seq_num, Value type) {
  return adopt<Plugin>(std::move(id), std::move(seq_num), std::move(type));
}

std::shared_ptr<Section> Task::add_section(Value id, Value seq_num, Value type) {
  return adopt<Section>(std::move(id), std::move(seq_num), std::move(type));
}

std::shared_ptr<Section> Plugin::add_section(Value id, Value seq_num, Value type) {
  return adopt<Section>(std::move(id), std::move(seq_num), std::move(type));
}

std::shared_ptr<Section> Section::add_section(Value id, Value seq_num, Value type) {
  return adopt<Section>(std::move(id), std::move(seq_num), std::move(type));
}

FieldRef TrialKit::read(FieldId field) const {
  return field == F::result ? FieldRef::computed(result()) : ReportObjectBase::read(field);
}

void TrialKit::assign(FieldId field, Value value) {
  if (field == F::result)
    throw ArgumentError("a trialkit's result is derived from its tasks and cannot be assigned");
  ReportObjectBase::assign(field, std::move(value));
}

FieldRef Task::read(FieldId field) const {
  return field == F::result ? FieldRef::computed(result()) : ReportObjectBase::read(field);
}

void Task::assign(FieldId field, Value value) {
  if (field == F::result) {
    set_result(std::move(value));
    return;
  }
  ReportObjectBase::assign(field, std::move(value));
}

// The weight tells how much of the planned job ran: started tasks over `num_tasks`.
void TrialKit::stop(Options options) {
  Value num_tasks = options.take("num_tasks").value_or(Value(0));
  check_no_cycle("num_tasks", num_tasks);
  base_stop(options);
  store(F::totaltasks, num_tasks);
  const double planned = num_tasks.as_number();
  if (planned > 0) {
    int started = 0;
    for (const Value& child : children()) {
      const ReportObjectBase& node = node_of(child);
      if (node.node_kind() != NodeKind::Plugin && node.starttime().truthy()) ++started;
    }
    slot(F::summary).as_tally().set_weight(started / planned);
  }
}

ReportHeader::ReportHeader(Value report) {
  data_.set("version", Value(VERSION));
  data_.set("report", std::move(report));
}

}  // namespace morvi::reporter::trialkit
