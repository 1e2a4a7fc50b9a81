#pragma once
// What the server has seen of a job so far, kept up to date event by event for `progress`.
#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "morvi/service/protocol/tree_builder.hpp"
#include "morvi/value.hpp"

namespace morvi::service::server {

class Progress {
 public:
  // Before an event is applied to `node`: notes whether the node had started and stopped.
  void before(const protocol::TreeBuilder& builder, protocol::Handle node);
  // After it was applied: its kind and node.
  void after(const protocol::TreeBuilder& builder, protocol::EventKind kind, protocol::Handle node);
  void refused() { ++refused_; }

  // The counts as the progress request answers them; `runner` says whether a runner is
  // connected.
  Map record(const protocol::TreeBuilder& builder, bool runner) const;

 private:
  std::size_t nodes_ = 0;
  std::size_t started_ = 0;
  std::size_t stopped_ = 0;
  std::size_t refused_ = 0;
  std::size_t testcases_ = 0;
  // Stopped testcases by the code of their result.
  std::map<std::string, std::size_t> results_;
  // Testcases started and not yet stopped, the latest last.
  std::vector<protocol::Handle> running_;
  bool was_started_ = false;
  bool was_stopped_ = false;
};

}  // namespace morvi::service::server
