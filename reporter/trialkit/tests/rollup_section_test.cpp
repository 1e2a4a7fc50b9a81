// How a stopping section folds its result and health into the sections and plugins above it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "morvi/errors.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/results.hpp"
#include "node_test_support.hpp"

namespace morvi::reporter::trialkit {
namespace {

using results::ResultCode;
using results::TestResult;

Value health(std::initializer_list<const char*> outcomes) {
  List items;
  for (const char* outcome : outcomes) items.emplace_back(Map{{"result", Value(outcome)}});
  return Value(std::move(items));
}

std::int64_t count(const ReportObjectBase& node, std::string_view field, std::string_view key) {
  return node.field_or_none(field).as_tally().count(key);
}

struct Chain {
  std::shared_ptr<TrialKit> job = TrialKit::create(Value("job"), Value(0));
  std::shared_ptr<Task> task = job->add_task(Value("t1"), Value(1));
  std::shared_ptr<Section> testcase = task->add_section(Value("tc"), Value(2));
  std::shared_ptr<Section> section = testcase->add_section(Value("s"), Value(3));
};

TEST(SectionRollUp, AResultlessSectionChangesNothingAbove) {
  Chain c;
  c.section->update(Map{{"health", health({"failed"})}});
  c.section->stop();
  EXPECT_TRUE(c.testcase->field_or_none("result").is_none());
  EXPECT_TRUE(c.section->field_or_none("health_result").is_none());
  EXPECT_EQ(count(*c.testcase, "health_summary", "failed"), 0);
}

TEST(SectionRollUp, ASectionUnderATaskLeavesItForTheTasksOwnStop) {
  Chain c;
  c.testcase->stop(Options{{"result", Value(results::Failed)}});
  EXPECT_EQ(count(*c.task, "summary", "failed"), 0);
  EXPECT_TRUE(c.testcase->field_or_none("health_result").is_none());
  EXPECT_EQ(c.task->result(), Value(results::Failed));  // derived on read
}

TEST(SectionRollUp, SiblingsCombineResultsWhileTheLastOneSetsTheHealthCounts) {
  Chain c;
  auto second = c.testcase->add_section(Value("s2"), Value(4));
  c.section->update(Map{{"health", health({"passed", "failed"})}});
  c.section->stop(Options{{"result", Value(TestResult(ResultCode::failed, "why"))}});
  EXPECT_EQ(c.testcase->field_or_none("result"), Value(TestResult(ResultCode::failed, "why")));
  EXPECT_EQ(count(*c.testcase, "health_summary", "failed"), 1);

  second->stop(Options{{"result", Value(results::Passed)}});
  EXPECT_EQ(c.testcase->field_or_none("result").as_result().code(), ResultCode::failed);
  // The second sibling had no health items: its zero counts replace the parent's.
  EXPECT_EQ(count(*c.testcase, "health_summary", "failed"), 0);
  EXPECT_EQ(count(*c.testcase, "health_summary", "passed"), 0);
  EXPECT_EQ(second->field_or_none("health_result"), Value(results::Passed));
  // Its Passed does not reach the parent's health outcome, which came from the first sibling.
  EXPECT_EQ(c.testcase->field_or_none("health_result").as_result().code(), ResultCode::failed);
}

TEST(SectionRollUp, TheParentsResultIsACopy) {
  Chain c;
  c.section->stop(Options{{"result", Value(results::Passed)}});
  auto later = c.testcase->add_section(Value("s2"), Value(4));
  later->stop(Options{{"result", Value(results::Errored)}});
  EXPECT_EQ(c.testcase->field_or_none("result"), Value(results::Errored));
  EXPECT_EQ(c.section->field_or_none("result"), Value(results::Passed));
}

TEST(SectionRollUp, HealthItemsCombineAndCountOnBothSides) {
  Chain c;
  c.section->update(Map{{"health", health({"passed", "Failed", "skipped"})}});
  c.section->stop(Options{{"result", Value(results::Passed)}});
  EXPECT_EQ(c.section->field_or_none("health_result").as_result().code(), ResultCode::failed);
  EXPECT_EQ(count(*c.section, "health_summary", "passed"), 1);
  EXPECT_EQ(count(*c.section, "health_summary", "failed"), 1);  // lower-cased
  EXPECT_EQ(count(*c.testcase, "health_summary", "skipped"), 1);
  EXPECT_EQ(c.testcase->field_or_none("health_result").as_result().code(), ResultCode::failed);
}

TEST(SectionRollUp, AnUnknownHealthResultIsAnError) {
  Chain c;
  c.section->update(Map{{"health", health({"maybe"})}});
  EXPECT_THROW(c.section->stop(Options{{"result", Value(results::Passed)}}), ArgumentError);
  EXPECT_EQ(c.testcase->field_or_none("result"), Value(results::Passed));  // applied before
}

TEST(SectionRollUp, WithRollUpOffNothingClimbs) {
  Chain c;
  c.section->stop(Options{{"result", Value(results::Failed)}, {"result_rollup", Value(false)}});
  EXPECT_TRUE(c.testcase->field_or_none("result").is_none());
  EXPECT_TRUE(c.section->field_or_none("health_result").is_none());
}

TEST(SectionRollUp, TheClimbReachesEveryAncestorBelowTheTask) {
  Chain c;
  auto step = c.section->add_section(Value("step"), Value(4));
  step->stop(Options{{"result", Value(results::Blocked)}});
  EXPECT_EQ(c.section->field_or_none("result"), Value(results::Blocked));
  EXPECT_EQ(c.testcase->field_or_none("result"), Value(results::Blocked));
  EXPECT_TRUE(c.task->field_or_none("summary").as_tally().total() == 0);
}

TEST(SectionRollUp, APluginAboveRecountsItsSummaryAndStopsTheClimb) {
  Chain c;
  auto plugin = c.task->add_plugin(Value("p"), Value(5));
  auto first = plugin->add_section(Value("a"), Value(6));
  auto second = plugin->add_section(Value("b"), Value(7));
  auto inner = second->add_section(Value("b1"), Value(8));
  first->stop(Options{{"result", Value(results::Passed)}});
  inner->stop(Options{{"result", Value(results::Failed)}});
  EXPECT_EQ(second->field_or_none("result"), Value(results::Failed));
  EXPECT_EQ(plugin->field_or_none("result"), Value(results::Failed));
  EXPECT_EQ(count(*plugin, "summary", "passed"), 1);
  EXPECT_EQ(count(*plugin, "summary", "failed"), 1);
  EXPECT_EQ(count(*c.task, "pluginsummary", "failed"), 0);  // tasks count when they stop
}

TEST(PluginRollUp, WithoutSectionsTheSummaryStays) {
  auto job = TrialKit::create(Value("job"), Value(0));
  auto plugin = job->add_plugin(Value("p"), Value(1));
  plugin->start();
  results::ResultCounter kept;
  kept.add("passed", 3);
  plugin->set_field("summary", Value(kept));
  plugin->stop();
  EXPECT_EQ(plugin->field_or_none("summary"), Value(kept));
}

// 100,000 nested sections stop, roll up and go away without deep recursion.
TEST(SectionRollUp, AVeryDeepChainRollsUpAndIsDestroyedIteratively) {
  constexpr int kDepth = 100'000;
  auto job = TrialKit::create(Value("job"), Value(0));
  auto task = job->add_task(Value("t1"), Value(1));
  std::shared_ptr<Section> top = task->add_section(Value("s0"), Value(2));
  Section* deepest = top.get();
  for (int i = 1; i < kDepth; ++i) deepest = deepest->add_section(Value(i), Value(i + 2)).get();
  deepest->stop(Options{{"result", Value(results::Failed)}});
  EXPECT_EQ(top->field_or_none("result"), Value(results::Failed));
  EXPECT_EQ(deepest->idlist().size(), static_cast<std::size_t>(kDepth) + 1);
  EXPECT_EQ(deepest->fullid().as_text().substr(0, 10), "t1.s0.1.2.");
  top->stop();
  task->stop();
  EXPECT_EQ(count(*task, "summary", "failed"), 1);
  top.reset();
  job.reset();
  SUCCEED();
}

}  // namespace
}  // namespace morvi::reporter::trialkit
