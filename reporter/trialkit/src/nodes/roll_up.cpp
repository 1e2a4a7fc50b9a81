// Result roll-up: how a stopping node folds its outcome into the nodes above it, and the
// derived results of tasks and the trialkit.
#include <cctype>
#include <optional>
#include <string>
#include <utility>

#include "node_layout.hpp"

namespace morvi::reporter::trialkit {
namespace {

using F = FieldId;
using results::ResultCounter;
using results::TestResult;

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The tally key of a result: the lower-case text form ("passed"; "none" for no result).
std::string tally_key(const Value& result) {
  return result.is_result() ? std::string(result.as_result().value()) : lower(result.to_text());
}

void merge_items(ResultCounter& into, const ResultCounter& from) {
  for (const auto& [key, n] : from.items()) into.add(key, n);
}

// Adds a child's health outcome and counts to those of its task or trialkit.
void add_child_health(Value& health_result, ResultCounter& health_summary,
                      const ReportObjectBase& child) {
  const FieldRef health = child.field("health_result");
  if (health->is_none()) return;
  if (health_result.is_none())
    health_result = *health;
  else
    health_result.as_result() += health->as_result();
  // Only the seven standard keys: the tally derives "total" and "success_rate" from them.
  health_summary.add_standard_from(child.field("health_summary")->as_tally());
}

// Folds the results of `children` that qualify into one value: none when none qualified.
template <class Qualifies>
Value fold_results(const List& children, Qualifies qualifies) {
  std::optional<TestResult> total;
  for (const Value& child : children) {
    const ReportObjectBase& node = node_of(child);
    const FieldRef result = node.field("result");
    if (result->is_none() || !qualifies(node)) continue;
    if (total)
      *total += result->as_result();
    else
      total = result->as_result();
  }
  return total ? Value(std::move(*total)) : Value();
}

}  // namespace

// A section climbs in a loop, one parent per turn, up to the first task or trialkit: nested
// sections can be as deep as the runner makes them.
void ReportObjectBase::roll_up() {
  ReportObjectBase* node = this;
  for (;;) {
    ReportObjectBase* parent = node->parent_;
    if (parent == nullptr || parent->kind_ == NodeKind::TrialKit ||
        parent->kind_ == NodeKind::Task)
      return;
    if (!node->fold_into(*parent)) return;
    if (parent->kind_ != NodeKind::Section && parent->kind_ != NodeKind::Base) {
      parent->roll_up();  // a plugin recounts its summary and stops the climb
      return;
    }
    node = parent;
  }
}

bool ReportObjectBase::fold_into(ReportObjectBase& parent) {
  // Stores `result` in `n`'s result field `field`; as the field's constant, without a copy,
  // when it equals that.
  const auto put_result = [](ReportObjectBase& n, F field, const TestResult& result) {
    const int s = n.layout().slot(field);
    const Value* constant = s < 0 ? nullptr : n.layout().constants[static_cast<std::size_t>(s)];
    if (constant != nullptr && !n.fields().own(s) && constant->as_result() == result)
      n.fields().set_constant(s);
    else
      n.store(field, Value(result));
  };
  // Sets a result field to `add` when it holds none, else combines `add` into it; in place
  // when the field has room. Without room the field holds none or its constant (a plain
  // Passed): it keeps that unless `add` outranks it.
  const auto combine = [&put_result](ReportObjectBase& n, F field, const TestResult& add) {
    const int s = n.layout().slot(field);
    if (Value* own = s < 0 ? nullptr : n.fields().own(s)) {
      Value& v = *own;
      if (v.is_none())
        v = Value(add);
      else
        v.as_result() += add;
      return;
    }
    const Value* current = n.find(field);
    if (current != nullptr && !current->is_none() && add.code() <= current->as_result().code())
      return;
    put_result(n, field, add);
  };

  const Value* result = find(F::result);
  if (result == nullptr || result->is_none()) return false;
  combine(parent, F::result, result->as_result());

  const Value* health = extra().find("health");
  if (health != nullptr) {
    for (const Value& item : health->as_list()) {
      const std::string_view text = item.as_map().at("result").as_text();
      combine(*this, F::health_result, TestResult::from_str(text));
      const std::string key = lower(std::string(text));
      slot(F::health_summary).as_tally().add(key, 1);
      combine(parent, F::health_result, find(F::health_result)->as_result());
      parent.slot(F::health_summary).as_tally().add(key, 1);
    }
    return true;
  }

  const Value& own = *find(F::health_result);
  if (own.is_none())
    put_result(*this, F::health_result, results::Passed);
  else
    combine(parent, F::health_result, own.as_result());
  // The parent's counts are replaced, not added to: the sibling that rolls up last decides.
  // Both still fresh (all zero) is the common case and changes nothing; skipping it keeps the
  // parent's tally shared.
  const auto fresh = [](const ReportObjectBase& n) {
    const int s = n.layout().slot(F::health_summary);
    return s >= 0 && n.fields().shared(s);
  };
  if (fresh(*this) && fresh(parent)) return true;
  const ResultCounter& mine = find(F::health_summary)->as_tally();
  ResultCounter& theirs = parent.slot(F::health_summary).as_tally();
  if (theirs == mine) return true;  // most often both all zero already
  theirs.set_standard_from(mine);
  return true;
}

void Plugin::roll_up() {
  const List& sections = children();
  if (sections.empty()) return;  // the summary keeps what it held
  ResultCounter summary;
  for (const Value& child : sections) {
    const Value result = node_of(child).field_or_none("result");
    if (!result.is_none()) summary.add(tally_key(result), 1);
  }
  store(F::summary, Value(std::move(summary)));
}

void Task::roll_up() {
  store(F::summary, Value(ResultCounter{}));
  store(F::pluginsummary, Value(ResultCounter{}));
  store(F::health_summary, Value(ResultCounter{}));
  // Tallies live on the heap behind their Values, so these stay put while fields are added.
  ResultCounter& summary = slot(F::summary).as_tally();
  ResultCounter& plugins = slot(F::pluginsummary).as_tally();
  ResultCounter& health = slot(F::health_summary).as_tally();
  for (const Value& child : children()) {
    const ReportObjectBase& node = node_of(child);
    if (node.node_kind() == NodeKind::Plugin) {
      const FieldRef counts = node.field("summary");
      if (!counts->is_none())
        merge_items(plugins, counts->as_tally());
      else
        plugins.add(tally_key(*node.field("result")), 1);
      continue;  // plugins add nothing else
    }
    const FieldRef result = node.field("result");
    if (!result->is_none()) summary.add(tally_key(*result), 1);
    add_child_health(slot(F::health_result), health, node);
  }
}

void TrialKit::roll_up() {
  store(F::summary, Value(ResultCounter{}));
  store(F::pluginsummary, Value(ResultCounter{}));
  store(F::health_summary, Value(ResultCounter{}));
  ResultCounter& summary = slot(F::summary).as_tally();
  ResultCounter& plugins = slot(F::pluginsummary).as_tally();
  ResultCounter& health = slot(F::health_summary).as_tally();
  for (const Value& child : children()) {
    const ReportObjectBase& node = node_of(child);
    // A child without a tally (a job-level plugin that never started) adds no counts.
    const FieldRef counts = node.field("summary");
    if (!counts->is_none())
      merge_items(node.node_kind() == NodeKind::Plugin ? plugins : summary, counts->as_tally());
    add_child_health(slot(F::health_result), health, node);
  }
}

Value Task::result() const {
  if (has_explicit_result_) return explicit_result_;
  // A section stopped with result_rollup false stays out of its task's result.
  return fold_results(children(), [](const ReportObjectBase& node) {
    const Value& flag = node.result_rollup();
    return flag.is_none() || flag.truthy();
  });
}

void Task::set_result(Value result) {
  check_no_cycle("result", result);
  explicit_result_ = std::move(result);
  has_explicit_result_ = true;
}

Value TrialKit::result() const {
  return fold_results(children(), [](const ReportObjectBase&) { return true; });
}

}  // namespace morvi::reporter::trialkit
