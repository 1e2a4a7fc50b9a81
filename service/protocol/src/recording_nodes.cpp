#include <string>
#include <utility>

#include "morvi/errors.hpp"
#include "morvi/service/protocol/recording.hpp"
#include "morvi/utils/utils.hpp"

namespace morvi::service::protocol {
namespace {

Map node_args(Value id, Value seq_num, Value type) {
  Map args;
  args.set("id", std::move(id));
  args.set("seq_num", std::move(seq_num));
  if (!type.is_none()) args.set("type", std::move(type));
  return args;
}

void add_size(Map& sizes, const Value* path) {
  if (path == nullptr || !path->is_text() || path->as_text().empty()) return;
  const std::optional<std::int64_t> size = utils::file_size(path->as_text());
  sizes.set(path->as_text(), size ? Value(*size) : Value());
}

}  // namespace

void RecordingNode::send(EventKind kind, Map args, Handle child) const {
  channel_->sink->send(Event{kind, handle_, child, std::move(args)});
}

template <class Child>
std::shared_ptr<Child> RecordingNode::add(EventKind kind, Value id, Value seq_num, Value type) {
  const Handle child = ++channel_->last_handle;
  send(kind, node_args(std::move(id), std::move(seq_num), std::move(type)), child);
  return std::make_shared<Child>(channel_, child);
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
  Map args;
  args.set("time", Value(utils::get_time()));
  Map sizes = file_sizes(options);
  if (!sizes.empty()) args.set("file_sizes", Value(std::move(sizes)));
  args.set("options", Value(std::move(options)));
  send(EventKind::start, std::move(args));
}

void RecordingNode::stop(Options options) {
  Map args;
  if (started_) args.set("time", Value(utils::get_time()));
  Map sizes = file_sizes(options);
  if (!sizes.empty()) args.set("file_sizes", Value(std::move(sizes)));
  note_data(options);
  args.set("options", Value(std::move(options)));
  send(EventKind::stop, std::move(args));
}

void RecordingNode::update(const Map& data) {
  note_data(data);
  send(EventKind::update, Map{{"data", Value(data)}});
}

void RecordingNode::update(const Value& data) {
  if (!data.is_map())
    throw TypeError(std::string("update takes a map, got ") + data.kind_name());
  update(data.as_map());
}

void RecordingNode::update_extra(const Map& data, bool list_extend) {
  send(EventKind::update_extra, Map{{"data", Value(data)}, {"list_extend", Value(list_extend)}});
}

void RecordingNode::add_detail(Value detail) {
  send(EventKind::add_detail, Map{{"detail", std::move(detail)}});
}

void RecordingNode::roll_up() { send(EventKind::roll_up, Map{}); }

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
  send(EventKind::set_result, Map{{"result", std::move(result)}});
}

std::shared_ptr<RecordingTrialKit> RecordingTrialKit::create(std::shared_ptr<EventSink> sink,
                                                             Value id, Value seq_num,
                                                             Value type) {
  auto channel = std::make_shared<RecordingChannel>(RecordingChannel{std::move(sink), 0});
  auto root = std::make_shared<RecordingTrialKit>(channel, kTrialKitHandle);
  root->send(EventKind::create_trialkit,
             node_args(std::move(id), std::move(seq_num), std::move(type)));
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
