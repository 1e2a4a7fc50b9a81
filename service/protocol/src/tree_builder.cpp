#include "morvi/service/protocol/tree_builder.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "morvi/results.hpp"
#include "morvi/utils/utils.hpp"

namespace morvi::service::protocol {
namespace {

using reporter::trialkit::NodeKind;
using reporter::trialkit::ReportObjectBase;
using reporter::trialkit::TrialKit;

[[noreturn]] void refuse(const Operation& event, const std::string& reason) {
  throw ProtocolError("event '" + std::string(event_name(event.kind)) + "' on node " +
                      std::to_string(event.node) + " refused: " + reason);
}

const char* kind_label(NodeKind kind) {
  switch (kind) {
    case NodeKind::TrialKit: return "trialkit";
    case NodeKind::Task: return "task";
    case NodeKind::Plugin: return "plugin";
    case NodeKind::Section: return "section";
    case NodeKind::Base: break;
  }
  return "node";
}

// The fields a runner's data may not set, or may set only with values the node accepts: the
// node API would refuse them part way through an update.
void check_data(const Operation& event, const ReportObjectBase& node, const Map& data) {
  for (const auto& [name, value] : data) {
    // Compared as a view: the length first, most keys are none of these.
    const std::string_view key = name;
    if (key == "tasks" || key == "sections")
      refuse(event, "'" + name + "' cannot be set: children are added by their own events");
    if (key == "fullid") refuse(event, "'fullid' is derived and cannot be set");
    if (key == "result" && node.node_kind() == NodeKind::TrialKit)
      refuse(event, "a trialkit's result is derived from its tasks and cannot be set");
    if (key == "extra" && !value.is_map())
      refuse(event, std::string("'extra' must be a map, got ") + value.kind_name());
    if ((key == "starttime" || key == "stoptime") && !value.is_none() && !value.is_datetime())
      refuse(event, "'" + name + "' must be a date-time or none, got " + value.kind_name());
    if ((key == "result" || key == "health_result") && !value.is_none() && !value.is_result())
      refuse(event, "'" + name + "' must be a result value or none, got " + value.kind_name());
  }
}

bool sets_start(const Map& data, bool current) {
  const Value* start = data.find("starttime");
  return start == nullptr ? current : !start->is_none();
}

}  // namespace

std::size_t TreeBuilder::running() const {
  std::size_t n = 0;
  for (const Entry& entry : nodes_) n += entry.started && !entry.stopped;
  return n;
}

const TreeBuilder::Entry* TreeBuilder::entry(Handle handle) const {
  if (handle < nodes_.size() && nodes_[handle].handle == handle) return &nodes_[handle];
  const auto it = std::lower_bound(nodes_.begin(), nodes_.end(), handle,
                                   [](const Entry& e, Handle h) { return e.handle < h; });
  return it != nodes_.end() && it->handle == handle ? &*it : nullptr;
}

TreeBuilder::Entry* TreeBuilder::entry(Handle handle) {
  return const_cast<Entry*>(std::as_const(*this).entry(handle));
}

ReportObjectBase* TreeBuilder::node(Handle handle) const {
  const Entry* e = entry(handle);
  return e == nullptr ? nullptr : e->node;
}

bool TreeBuilder::started(Handle handle) const {
  const Entry* e = entry(handle);
  return e != nullptr && e->started;
}

bool TreeBuilder::stopped(Handle handle) const {
  const Entry* e = entry(handle);
  return e != nullptr && e->stopped;
}

const TreeBuilder::Entry& TreeBuilder::find(const Operation& event) const {
  const Entry* e = entry(event.node);
  if (e == nullptr) refuse(event, "no node has this handle");
  return *e;
}

void TreeBuilder::check(const Operation& event) const {
  if (event.kind == EventKind::create_trialkit) {
    if (trialkit_) refuse(event, "the trialkit exists already");
    if (event.node != kTrialKitHandle) refuse(event, "the trialkit's handle is 0");
    return;
  }
  const Entry& entry = find(event);
  if (creates_node(event.kind))
    check_add(event, entry);
  else
    check_lifecycle(event, entry);
}

void TreeBuilder::check_add(const Operation& event, const Entry& parent) const {
  // Every handle given so far is at most the last one, so a handle above it is a new one.
  if (event.child <= last_handle_)
    refuse(event, "handle " + std::to_string(event.child) +
                      " is not above every handle given before (" + std::to_string(last_handle_) +
                      ")");
  const NodeKind kind = parent.node->node_kind();
  const bool holds = event.kind == EventKind::add_task      ? kind == NodeKind::TrialKit
                     : event.kind == EventKind::add_plugin ? kind == NodeKind::TrialKit ||
                                                                 kind == NodeKind::Task
                     : event.kind == EventKind::add_section
                         ? kind == NodeKind::Task || kind == NodeKind::Plugin ||
                               kind == NodeKind::Section
                         : false;
  if (!holds)
    refuse(event, std::string("a ") + kind_label(kind) + " cannot hold a " +
                      std::string(event_name(event.kind)).substr(4));
}

void TreeBuilder::check_lifecycle(const Operation& event, const Entry& entry) const {
  const ReportObjectBase& node = *entry.node;
  switch (event.kind) {
    case EventKind::start:
    case EventKind::stop: {
      const bool start = event.kind == EventKind::start;
      const Map& options = event.map;
      check_data(event, node, options);
      const std::optional<DateTime>& time = event.time;
      if ((start || entry.started) && !time)
        refuse(event, "the node reads its clock, but the event carries no time");
      // The run time is the stop time less the start time: one naive and one aware cannot be
      // subtracted.
      if (!start && time && node.starttime().is_datetime() &&
          node.starttime().as_datetime().aware() != time->aware())
        refuse(event, "the stop time and the start time must both carry a UTC offset or neither");
      if (!start && node.node_kind() == NodeKind::TrialKit) {
        const Value* planned = options.find("num_tasks");
        if (planned != nullptr && !planned->is_number())
          refuse(event, std::string("'num_tasks' must be a number, got ") + planned->kind_name());
      }
      return;
    }
    case EventKind::update: check_data(event, node, event.map); return;
    case EventKind::set_result: {
      if (node.node_kind() != NodeKind::Task)
        refuse(event, std::string("a ") + kind_label(node.node_kind()) +
                          " has no result of its own to set");
      const Value& result = event.value;
      if (!result.is_none() && !result.is_result())
        refuse(event, std::string("a result must be a result value or none, got ") +
                          result.kind_name());
      return;
    }
    case EventKind::update_extra:
    case EventKind::add_detail:
    case EventKind::roll_up: return;
    default: break;
  }
  refuse(event, "not a node operation");
}

void TreeBuilder::apply(Operation&& event) {
  check(event);
  apply_checked(std::move(event));
}

void TreeBuilder::apply_checked(Operation&& event) {
  try {
    perform(event);
  } catch (const ProtocolError&) {
    throw;
  } catch (const std::exception& e) {
    refuse(event, e.what());
  }
  ++applied_;
}

void TreeBuilder::perform(Operation& event) {
  if (event.kind == EventKind::create_trialkit) {
    trialkit_ =
        TrialKit::create(std::move(event.id), std::move(event.seq_num), std::move(event.type));
    nodes_.push_back(Entry{kTrialKitHandle, trialkit_.get()});
    return;
  }
  Entry& target = *entry(event.node);
  if (creates_node(event.kind))
    add(event, target);
  else
    lifecycle(event, target);
}

void TreeBuilder::add(Operation& event, Entry& parent) {
  Value& id = event.id;
  Value& seq_num = event.seq_num;
  Value& type = event.type;
  // `parent` lies in nodes_, which the new entry may move: only its node is used.
  ReportObjectBase& p = *parent.node;
  ReportObjectBase* child = nullptr;
  const NodeKind kind = p.node_kind();
  switch (event.kind) {
    case EventKind::add_task:
      child = static_cast<TrialKit&>(p).add_task(std::move(id), std::move(seq_num), std::move(type)).get();
      break;
    case EventKind::add_plugin:
      if (kind == NodeKind::TrialKit)
        child = static_cast<TrialKit&>(p).add_plugin(std::move(id), std::move(seq_num), std::move(type)).get();
      else
        child = static_cast<reporter::trialkit::Task&>(p)
                    .add_plugin(std::move(id), std::move(seq_num), std::move(type)).get();
      break;
    case EventKind::add_section:
      if (kind == NodeKind::Task)
        child = static_cast<reporter::trialkit::Task&>(p)
                    .add_section(std::move(id), std::move(seq_num), std::move(type)).get();
      else if (kind == NodeKind::Plugin)
        child = static_cast<reporter::trialkit::Plugin&>(p)
                    .add_section(std::move(id), std::move(seq_num), std::move(type)).get();
      else
        child = static_cast<reporter::trialkit::Section&>(p)
                    .add_section(std::move(id), std::move(seq_num), std::move(type)).get();
      break;
    default: break;
  }
  nodes_.push_back(Entry{event.child, child});
  last_handle_ = event.child;
}

void TreeBuilder::lifecycle(Operation& event, Entry& entry) {
  ReportObjectBase& node = *entry.node;
  switch (event.kind) {
    case EventKind::start:
    case EventKind::stop: {
      const bool start = event.kind == EventKind::start;
      Map options = std::move(event.map);
      const Map no_sizes;
      const Map& known = event.file_sizes ? *event.file_sizes : no_sizes;
      const std::optional<DateTime> at = event.time;
      utils::ScopedClock clock([&] {
        if (!at) throw ProtocolError("the node read its clock, but the event carries no time");
        return *at;
      });
      utils::ScopedFileSize file_sizes([&](const std::string& path) -> std::optional<std::int64_t> {
        const Value* size = known.find(path);
        if (size == nullptr || !size->is_int()) return std::nullopt;
        return size->as_int();
      });
      const bool started = start ? sets_start(options, true) : entry.started;
      if (start)
        node.start(std::move(options));
      else
        node.stop(std::move(options));
      if (at) last_time_ = at;
      entry.started = started;
      if (!start) entry.stopped = true;
      return;
    }
    case EventKind::update: {
      Map& data = event.map;
      const bool started = sets_start(data, entry.started);
      node.update(std::move(data));
      entry.started = started;
      return;
    }
    case EventKind::update_extra:
      node.update_extra(event.map, event.list_extend);
      return;
    case EventKind::add_detail: node.add_detail(std::move(event.value)); return;
    case EventKind::set_result:
      static_cast<reporter::trialkit::Task&>(node).set_result(std::move(event.value));
      return;
    case EventKind::roll_up: node.roll_up(); return;
    default: return;
  }
}

void TreeBuilder::close_running(std::string_view reason) {
  const DateTime at = last_time_ ? *last_time_ : utils::get_time();
  utils::ScopedClock clock([&] { return at; });
  utils::ScopedFileSize sizes([](const std::string&) { return std::optional<std::int64_t>(); });
  const results::TestResult errored(results::ResultCode::errored, std::string(reason));
  for (auto it = nodes_.rbegin(); it != nodes_.rend(); ++it) {
    Entry& entry = *it;
    if (!entry.started || entry.stopped) continue;
    ReportObjectBase& node = *entry.node;
    // A node whose start time does not compare with the last reading stops at its start.
    const Value& started = node.starttime();
    const DateTime stop_at = started.is_datetime() && started.as_datetime().aware() != at.aware()
                                 ? started.as_datetime()
                                 : at;
    utils::ScopedClock node_clock([&] { return stop_at; });
    node.add_detail(Value(std::string(reason)));
    reporter::trialkit::Options options;
    if (node.node_kind() != NodeKind::TrialKit) options.set("result", Value(errored));
    node.stop(std::move(options));
    entry.stopped = true;
  }
}

}  // namespace morvi::service::protocol
