// A node's field storage against a plain map: random assignments and list extensions, with
// the values the storage keeps without room (none, a result Passed, true, the defaults) mixed
// among ordinary ones, must read back exactly as the map says, on every kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "morvi/errors.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "node_test_support.hpp"

namespace morvi::reporter::trialkit {
namespace {

using results::TestResult;

class Model {
 public:
  // `names`: the kind's listed fields first, `listed` of them, then hidden ones.
  Model(ReportObjectBase& node, std::vector<std::string> names, std::size_t listed)
      : node_(node), names_(std::move(names)), listed_(listed) {
    for (const std::string& name : names_)
      if (node_.has_field(name)) fields_[name] = node_.field_or_none(name);
  }

  const std::vector<std::string>& names() const { return names_; }
  // update stores the listed fields; other keys go into extra.
  bool listed(const std::string& name) const {
    return std::find(names_.begin(), names_.begin() + static_cast<long>(listed_), name) !=
           names_.begin() + static_cast<long>(listed_);
  }

  // Assigns through set_field; a refused value changes neither side.
  void set(const std::string& name, Value value) {
    try {
      node_.set_field(name, value);
    } catch (const std::logic_error&) {
      return;
    }
    fields_[name] = std::move(value);
  }

  // update with one key: a list field is extended, any other one assigned.
  void update(const std::string& name, Value value) {
    const auto it = fields_.find(name);
    const bool extends = it != fields_.end() && it->second.is_list();
    try {
      node_.update(Map{{name, value}});
    } catch (const std::logic_error&) {
      return;
    }
    if (!extends) {
      fields_[name] = std::move(value);
    } else if (value.is_list()) {
      for (const Value& item : value.as_list()) it->second.as_list().push_back(item);
    } else {
      it->second.as_list().push_back(std::move(value));
    }
  }

  void expect_agrees(int step) const {
    for (const std::string& name : names_) {
      const auto it = fields_.find(name);
      ASSERT_EQ(node_.has_field(name), it != fields_.end()) << name << " after step " << step;
      if (it != fields_.end()) {
        ASSERT_EQ(node_.field_or_none(name), it->second) << name << " after step " << step;
      }
    }
  }

 private:
  ReportObjectBase& node_;
  std::vector<std::string> names_;
  std::size_t listed_;
  std::map<std::string, Value> fields_;
};

// The values a field may be given: those the storage keeps without room and ordinary ones.
Value random_value(const std::string& name, std::mt19937& rng) {
  const auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  if (name == "details") {
    List l;
    for (int i = pick(3); i > 0; --i) l.push_back(Value("detail " + std::to_string(pick(100))));
    return Value(std::move(l));
  }
  if (name == "extra") {
    Map m;
    for (int i = pick(3); i > 0; --i) m.set("k" + std::to_string(pick(5)), Value(pick(10)));
    return Value(std::move(m));
  }
  switch (pick(18)) {
    case 0:
    case 12:
    case 13: return Value();
    case 1:
    case 14: return Value(results::Passed);
    case 2: return Value(results::Failed);
    case 3:
    case 15: return Value(true);
    case 4: return Value(false);
    case 5: return Value(pick(1000));
    case 6: return Value("text " + std::to_string(pick(1000)));
    case 7: return Value(List{});
    case 8: return Value(Map{});
    case 9: return Value(List{Value(1), Value("two")});
    case 10: return Value(DateTime(2024, 5, 6, 7, 8, 9, pick(1'000'000), 0));
    // Passed by its code, yet not the shared Passed: the reason or the data must stay.
    case 16: return Value(results::TestResult(results::ResultCode::passed, "rerun"));
    case 17: return Value(results::TestResult(results::ResultCode::passed, {}, Map{{"try", 2}}));
    default: return Value(2.5);
  }
}

// Every field the kind lists that may be assigned freely (not the child lists, not the derived
// ones), then those update does not extend as stored lists: two hidden fields and a task's
// result, which it keeps apart from its slots.
std::pair<std::vector<std::string>, std::size_t> assignable(const ReportObjectBase& node) {
  std::vector<std::string> names;
  for (std::string_view name : node.arg_order()) {
    if (name == "tasks" || name == "sections" || name == "fullid" || name == "idlist") continue;
    if (name == "result" && node.node_kind() != NodeKind::Section) continue;
    names.emplace_back(name);
  }
  const std::size_t listed = names.size();
  names.emplace_back("seq_num");
  names.emplace_back("result_rollup");
  if (node.node_kind() == NodeKind::Task) names.emplace_back("result");
  return {names, listed};
}

void drive(ReportObjectBase& node, unsigned seed) {
  auto [names, listed] = assignable(node);
  Model model(node, std::move(names), listed);
  std::mt19937 rng(seed);
  model.expect_agrees(0);
  for (int step = 1; step <= 40; ++step) {
    const std::string& name = model.names()[rng() % model.names().size()];
    Value value = random_value(name, rng);
    if (rng() % 4 == 0 && model.listed(name))
      model.update(name, std::move(value));
    else
      model.set(name, std::move(value));
    model.expect_agrees(step);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

// Many short runs on fresh nodes: a slot's states without room matter until it first gets a
// value of its own.
TEST(FieldStore, EveryKindReadsBackWhatWasWritten) {
  for (unsigned seed = 1; seed <= 300; ++seed) {
    auto job = TrialKit::create("job", 1);
    auto task = job->add_task("task", 1);
    auto plugin = task->add_plugin("plugin", 1);
    auto section = task->add_section("tc", 1, "Testcase");
    auto step = section->add_section("step", 1, "Step");
    for (ReportObjectBase* node : {static_cast<ReportObjectBase*>(job.get()),
                                   static_cast<ReportObjectBase*>(task.get()),
                                   static_cast<ReportObjectBase*>(plugin.get()),
                                   static_cast<ReportObjectBase*>(section.get()),
                                   static_cast<ReportObjectBase*>(step.get())}) {
      SCOPED_TRACE(node->type_name() + " seed " + std::to_string(seed));
      drive(*node, seed);
      if (HasFatalFailure()) return;
    }
  }
}


// Field names are looked up by a hash of a few of their characters: every name a kind lists
// must find its field, and a key that differs from one in any single place, or is a prefix or
// an extension of one, must not (update files it under extra).
TEST(FieldStore, NamesFindTheirFieldsAndNearMissesGoToExtra) {
  auto job = TrialKit::create("job", 1);
  auto task = job->add_task("task", 1);
  auto section = task->add_section("tc", 1, "Testcase");
  for (ReportObjectBase* node : {static_cast<ReportObjectBase*>(job.get()),
                                 static_cast<ReportObjectBase*>(task.get()),
                                 static_cast<ReportObjectBase*>(section.get())}) {
    const auto order = node->arg_order();
    const auto listed = [&order](const std::string& name) {
      return std::find(order.begin(), order.end(), name) != order.end();
    };
    for (std::string_view field : order) {
      const std::string name(field);
      if (name == "tasks" || name == "sections" || name == "fullid" || name == "idlist" ||
          name == "details" || name == "extra" || (name == "result" && node != section.get()))
        continue;
      node->update(Map{{name, Value("given")}});
      EXPECT_EQ(node->field_or_none(name), Value("given")) << node->type_name() << " " << name;
      EXPECT_FALSE(node->extra().contains(name)) << node->type_name() << " " << name;
      std::vector<std::string> misses{name.substr(0, name.size() - 1), name + "s", name + "_"};
      for (const std::size_t at : {std::size_t{0}, name.size() / 2, name.size() - 1}) {
        std::string changed = name;
        changed[at] = changed[at] == 'x' ? 'y' : 'x';
        misses.push_back(changed);
      }
      for (const std::string& miss : misses) {
        if (listed(miss)) continue;  // another real name, e.g. "task" + "s"
        node->update(Map{{miss, Value(7)}});
        EXPECT_EQ(node->extra().at(miss), Value(7)) << node->type_name() << " " << miss;
      }
    }
    node->update(Map{{"", Value(0)}});
    EXPECT_EQ(node->extra().at(""), Value(0));
  }
}

// A fresh node's details and extra stand for shared empty containers: the first detail or
// extra key one node gets is its own, and its siblings still read empty ones.
TEST(FieldStore, FirstWritesToSharedDefaultsStayWithTheirNode) {
  auto job = TrialKit::create("job", 1);
  auto task = job->add_task("task", 1);
  auto first = task->add_section("first", 2);
  auto second = task->add_section("second", 3);
  first->add_detail(Value("checked"));
  first->update(Map{{"index", Value(1)}, {"details", Value("listed")}});
  first->add_detail(Value("again"));
  first->update(Map{{"more", Value(2)}});
  EXPECT_EQ(first->details(), (List{Value("checked"), Value("listed"), Value("again")}));
  EXPECT_EQ(first->extra(), (Map{{"index", Value(1)}, {"more", Value(2)}}));
  EXPECT_TRUE(second->details().empty());
  EXPECT_TRUE(second->extra().empty());
  EXPECT_TRUE(task->details().empty());
}

// Far more own values than the store keeps in place, given out of slot order: they spill to
// a larger array, and each reads back what it was given.
TEST(FieldStore, OwnValuesSpillAndKeepTheirFields) {
  auto job = TrialKit::create("job", 1);
  std::vector<std::string> names;
  for (std::string_view name : job->arg_order())
    if (name != "tasks" && name != "fullid" && name != "idlist" && name != "result" &&
        name != "details" && name != "extra")
      names.emplace_back(name);
  ASSERT_GT(names.size(), 12u);
  // From the last listed field to the first, so that every value lands before the others.
  for (auto it = names.rbegin(); it != names.rend(); ++it)
    job->set_field(*it, Value("own " + *it));
  for (const std::string& name : names) EXPECT_EQ(job->field_or_none(name), Value("own " + name));
}

}  // namespace
}  // namespace morvi::reporter::trialkit
