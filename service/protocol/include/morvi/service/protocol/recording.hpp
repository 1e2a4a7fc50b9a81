#pragma once
// The runner's side of the protocol: nodes with the operations of the in-process report nodes
// (same names, same argument shapes) that turn each operation into an event for a sink
// instead of changing a tree. A runner switches by making its root with
// RecordingTrialKit::create(sink, ...) instead of TrialKit::create(...).
//
// One class per node kind: RecordingTrialKit, RecordingTask, RecordingPlugin and
// RecordingSection, each adding the children its in-process kind adds. The nodes read the
// runner's clock at start and at stop (stop only once the node started, as the in-process
// node does) and the sizes of the log files the node names, and send the readings with the
// event. Handles are assigned in creation order, the trialkit's being 0.
#include <memory>

#include "morvi/service/protocol/event.hpp"
#include "morvi/value.hpp"

#pragma GCC visibility push(default)
namespace morvi::service::protocol {

using Options = Map;

// Where recorded events go: a socket, a journal, a tree builder in the same process.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void send(const Event& event) = 0;
  // What the recording nodes call. A sink that keeps lines writes them straight from the draft;
  // by default the draft is made into an Event and sent.
  virtual void send_draft(const EventDraft& draft) { send(draft.event()); }
  // Delivers what the sink holds back; called when the trialkit stops.
  virtual void flush() {}
};

class RecordingTask;
class RecordingPlugin;
class RecordingSection;

// What the nodes of one tree share: the sink and the last handle given.
struct RecordingChannel {
  std::shared_ptr<EventSink> sink;
  Handle last_handle = 0;
};

class RecordingNode {
 public:
  RecordingNode(std::shared_ptr<RecordingChannel> channel, Handle handle)
      : channel_(std::move(channel)), handle_(handle) {}
  virtual ~RecordingNode() = default;

  Handle handle() const noexcept { return handle_; }

  void start(Options options = {});
  virtual void stop(Options options = {});
  void update(const Map& data);
  // TypeError when `data` is not a map.
  void update(const Value& data);
  void update_extra(const Map& data, bool list_extend = true);
  void add_detail(Value detail);
  void roll_up();

 protected:
  template <class Child>
  std::shared_ptr<Child> add(EventKind kind, Value id, Value seq_num, Value type);
  void send(const EventDraft& draft) const { channel_->sink->send_draft(draft); }
  EventDraft draft(EventKind kind) const { return EventDraft{kind, handle_}; }
  // The log files named by this node and by `options`, with their sizes now.
  Map file_sizes(const Options& options) const;
  void flush_sink() const { channel_->sink->flush(); }

 private:
  void note_data(const Map& data);

  std::shared_ptr<RecordingChannel> channel_;
  Handle handle_;
  bool started_ = false;
  Value logfile_;
};

class RecordingSection : public RecordingNode {
 public:
  using RecordingNode::RecordingNode;
  std::shared_ptr<RecordingSection> add_section(Value id, Value seq_num, Value type = {});
};

class RecordingPlugin : public RecordingNode {
 public:
  using RecordingNode::RecordingNode;
  std::shared_ptr<RecordingSection> add_section(Value id, Value seq_num, Value type = {});
};

class RecordingTask : public RecordingNode {
 public:
  using RecordingNode::RecordingNode;
  std::shared_ptr<RecordingPlugin> add_plugin(Value id, Value seq_num, Value type = {});
  std::shared_ptr<RecordingSection> add_section(Value id, Value seq_num, Value type = {});
  void set_result(Value result);
};

class RecordingTrialKit : public RecordingNode {
 public:
  // Sends create_trialkit and returns the root.
  static std::shared_ptr<RecordingTrialKit> create(std::shared_ptr<EventSink> sink, Value id,
                                                   Value seq_num, Value type = {});
  using RecordingNode::RecordingNode;
  std::shared_ptr<RecordingTask> add_task(Value id, Value seq_num, Value type = {});
  std::shared_ptr<RecordingPlugin> add_plugin(Value id, Value seq_num, Value type = {});
  // Sends stop, then flushes the sink.
  void stop(Options options = {}) override;
};

}  // namespace morvi::service::protocol
#pragma GCC visibility pop
