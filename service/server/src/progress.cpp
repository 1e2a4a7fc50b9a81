#include "progress.hpp"

#include <algorithm>

#include "morvi/results.hpp"

namespace morvi::service::server {
namespace {

using protocol::EventKind;

bool is_testcase(const reporter::trialkit::ReportObjectBase& node) {
  const Value& type = node.type();
  return type.is_text() && type.as_text() == "Testcase";
}

Value count(std::size_t n) { return Value(static_cast<long long>(n)); }

}  // namespace

void Progress::before(const protocol::TreeBuilder& builder, protocol::Handle node) {
  was_started_ = builder.started(node);
  was_stopped_ = builder.stopped(node);
}

void Progress::after(const protocol::TreeBuilder& builder, EventKind kind,
                     protocol::Handle handle) {
  if (protocol::creates_node(kind)) {
    ++nodes_;
    return;
  }
  if (kind != EventKind::start && kind != EventKind::stop) return;
  const auto* node = builder.node(handle);
  const bool testcase = is_testcase(*node);
  if (!was_started_ && builder.started(handle)) {
    ++started_;
    if (testcase) running_.push_back(handle);
  }
  if (!was_stopped_ && builder.stopped(handle)) {
    ++stopped_;
    if (!testcase) return;
    ++testcases_;
    const auto it = std::find(running_.begin(), running_.end(), handle);
    if (it != running_.end()) running_.erase(it);
    const Value result = node->field_or_none("result");
    results_[result.is_result() ? std::string(results::code_name(result.as_result().code()))
                                : std::string("none")]++;
  }
}

Map Progress::record(const protocol::TreeBuilder& builder, bool runner) const {
  Map results;
  for (const char* code : {"passed", "failed", "errored"}) results.set(code, count(0));
  for (const auto& [code, n] : results_) results.set(code, count(n));
  Value current;
  if (!running_.empty()) current = builder.node(running_.back())->fullid();
  const auto trialkit = builder.trialkit();
  Map record;
  record.set("events", count(builder.applied()));
  record.set("refused", count(refused_));
  record.set("nodes", count(nodes_));
  record.set("started", count(started_));
  record.set("stopped", count(stopped_));
  record.set("testcases", count(testcases_));
  record.set("results", Value(std::move(results)));
  record.set("running_testcase", std::move(current));
  record.set("runner", Value(runner));
  record.set("finished", Value(trialkit != nullptr && builder.stopped(protocol::kTrialKitHandle)));
  return record;
}

}  // namespace morvi::service::server
