#include <string>
#include <utility>

#include "morvi/errors.hpp"
#include "morvi/service/protocol/recording.hpp"
#include "morvi/utils/utils.hpp"

namespace morvi::service::protocol {
namespace {

// The arguments of an event that adds a node; `type` travels only when it is given.
void add_node_args(EventDraft& draft, const Value& id, const Value& seq_num, const Value& type) {
  draft.add("id", id);
  draft.add("seq_num", seq_num);
  if (!type.is_none()) draft.add("type", type);
}

void add_size(Map& sizes, const Value* path) {
  if (path == nullptr || !path->is_text() || path->as_text().empty()) return;
  const std::optional<std::int64_t> size = utils::file_size(std::string(path->as_text()));
  sizes.set(path->as_text(), size ? Value(*size) : Value());
}

}  // namespace

template <class Child>
std::shared_ptr<Child> RecordingNode::add(EventKind kind, Value id, Value seq_num, Value type) {
  EventDraft event = draft(kind);
  event.child = ++channel_->last_handle;
  add_node_args(event, id, seq_num, type);
  send(event);
  return std::make_shared<Child>(channel_, event.child);
}

void RecordingNode::note_data(const Map& data) {
  if (const Value* start = data.find("starttime")) started_ = !start->is_none();
  if (const Value* logfile = data.find("logfile")) logfile_ = *logfile;
}

Map RecordingNode::file_sizes(const Options& options) const {
  Map sizes;
  add_size(sizes, &logfile_);
  add_size(sizes, options.find("logfile"));
  return sizes;
}

void RecordingNode::start(Options options) {
  started_ = true;
  note_data(options);
  const Value time(utils::get_time());
  const Map sizes = file_sizes(options);
  EventDraft event = draft(EventKind::start);
  event.add("time", time);
  if (!sizes.empty()) event.add("file_sizes", sizes);
  event.add("options", options);
  send(event);
}

void RecordingNode::stop(Options options) {
  EventDraft event = draft(EventKind::stop);
  Value time;
  if (started_) {
    time = Value(utils::get_time());
    event.add("time", time);
  }
  const Map sizes = file_sizes(options);
  if (!sizes.empty()) event.add("file_sizes", sizes);
  note_data(options);
  event.add("options", options);
  send(event);
}

void RecordingNode::update(const Map& data) {
  note_data(data);
  EventDraft event = draft(EventKind::update);
  event.add("data", data);
  send(event);
}

void RecordingNode::update(const Value& data) {
  if (!data.is_map())
    throw TypeError(std::string("update takes a map, got ") + data.kind_name());
  update(data.as_map());
}

void RecordingNode::update_extra(const Map& data, bool list_extend) {
  const Value extend(list_extend);
  EventDraft event = draft(EventKind::update_extra);
  event.add("data", data);
  event.add("list_extend", extend);
  send(event);
}

void RecordingNode::add_detail(Value detail) {
  EventDraft event = draft(EventKind::add_detail);
  event.add("detail", detail);
  send(event);
}

void RecordingNode::roll_up() { send(draft(EventKind::roll_up)); }

std::shared_ptr<RecordingSection> RecordingSection::add_section(Value id, Value seq_num,
                                                                Value type) {
  return add<RecordingSection>(EventKind::add_section, std::move(id), std::move(seq_num),
                               std::move(type));
}

std::shared_ptr<RecordingSection> RecordingPlugin::add_section(Value id, Value seq_num,
                                                               Value type) {
  return add<RecordingSection>(EventKind::add_section, std::move(id), std::move(seq_num),
                               std::move(type));
}

std::shared_ptr<RecordingPlugin> RecordingTask::add_plugin(Value id, Value seq_num, Value type) {
  return add<RecordingPlugin>(EventKind::add_plugin, std::move(id), std::move(seq_num),
                              std::move(type));
}

std::shared_ptr<RecordingSection> RecordingTask::add_section(Value id, Value seq_num,
                                                             Value type) {
  return add<RecordingSection>(EventKind::add_section, std::move(id), std::move(seq_num),
                               std::move(type));
}

void RecordingTask::set_result(Value result) {
  EventDraft event = draft(EventKind::set_result);
  event.add("result", result);
  send(event);
}

std::shared_ptr<RecordingTrialKit> RecordingTrialKit::create(std::shared_ptr<EventSink> sink,
                                                             Value id, Value seq_num,
                                                             Value type) {
  auto channel = std::make_shared<RecordingChannel>(RecordingChannel{std::move(sink), 0});
  auto root = std::make_shared<RecordingTrialKit>(channel, kTrialKitHandle);
  EventDraft event = root->draft(EventKind::create_trialkit);
  add_node_args(event, id, seq_num, type);
  root->send(event);
  return root;
}

std::shared_ptr<RecordingTask> RecordingTrialKit::add_task(Value id, Value seq_num, Value type) {
  return add<RecordingTask>(EventKind::add_task, std::move(id), std::move(seq_num),
                            std::move(type));
}

std::shared_ptr<RecordingPlugin> RecordingTrialKit::add_plugin(Value id, Value seq_num,
                                                               Value type) {
  return add<RecordingPlugin>(EventKind::add_plugin, std::move(id), std::move(seq_num),
                              std::move(type));
}

void RecordingTrialKit::stop(Options options) {
  RecordingNode::stop(std::move(options));
  flush_sink();
}

}  // namespace morvi::service::protocol
