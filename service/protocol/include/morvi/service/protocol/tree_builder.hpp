#pragma once
// Builds a report tree from events, as the runner built it in its own process.
//
// Every event is checked against the tree before it is applied (a handle that does not exist
// or is reused, a second trialkit, a child the parent kind cannot hold, a field the node
// cannot take), so a refused event leaves the tree as it was. The clock readings and log-file
// sizes the runner took travel with start and stop and are applied in place of this process's
// own, so the documents written from the tree equal the runner's byte for byte.
#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "morvi/reporter/trialkit.hpp"
#include "morvi/service/protocol/event.hpp"
#include "morvi/service/protocol/operation.hpp"

#pragma GCC visibility push(default)
namespace morvi::service::protocol {

class TreeBuilder {
 public:
  // ProtocolError naming the event and the reason for an event the tree refuses; the tree is
  // not touched. A server checks an event, journals it, then applies it.
  void check(const Operation& operation) const;
  // Checks the event, then applies it. ProtocolError as check, and for a node operation that
  // fails on a value no check foresaw. The operation's values move into the tree.
  void apply(Operation&& operation);
  // The same for an event, its arguments checked first as operation_of checks them.
  void apply(Event&& event) { apply(operation_of(std::move(event))); }
  void apply(const Event& event) { apply(Event(event)); }
  // Applies an event that check() passed, the tree unchanged since: a server checks, journals,
  // then applies without checking twice. ProtocolError as apply for a failing node operation.
  void apply_checked(Operation&& operation);

  // The root; null before create_trialkit.
  std::shared_ptr<reporter::trialkit::TrialKit> trialkit() const { return trialkit_; }
  // Events applied so far.
  std::size_t applied() const noexcept { return applied_; }
  // Started nodes not yet stopped.
  std::size_t running() const;
  // The node `handle` names, or null.
  reporter::trialkit::ReportObjectBase* node(Handle handle) const;
  // Whether the node `handle` names has been started, and stopped, by the events.
  bool started(Handle handle) const;
  bool stopped(Handle handle) const;

  // Stops every node that is still running, the deepest first, at the last clock reading the
  // events carried: each gets the detail `reason` and, where the node holds its own result,
  // the result errored with that reason. Their logs' sizes are unknown (-1).
  void close_running(std::string_view reason);

 private:
  struct Entry {
    Handle handle;
    reporter::trialkit::ReportObjectBase* node;
    bool started = false;
    bool stopped = false;
  };
  // The entry of `handle`, or null.
  const Entry* entry(Handle handle) const;
  Entry* entry(Handle handle);
  const Entry& find(const Operation& operation) const;
  void check_add(const Operation& operation, const Entry& parent) const;
  void check_lifecycle(const Operation& operation, const Entry& entry) const;
  void perform(Operation& operation);
  void add(Operation& operation, Entry& parent);
  void lifecycle(Operation& operation, Entry& entry);

  std::shared_ptr<reporter::trialkit::TrialKit> trialkit_;
  // In creation order, which is also the order of the handles, as each is above the ones
  // before; a runner that numbers its nodes 0, 1, 2... has each at the index of its handle.
  std::vector<Entry> nodes_;
  Handle last_handle_ = 0;
  std::size_t applied_ = 0;
  std::optional<DateTime> last_time_;
};

}  // namespace morvi::service::protocol
#pragma GCC visibility pop
