// Tallies of tasks and the trialkit, rebuilt when they stop, and their derived results.
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
using results::ResultCounter;

std::int64_t count(const ReportObjectBase& node, std::string_view field, std::string_view key) {
  return node.field_or_none(field).as_tally().count(key);
}

Value health(const char* outcome) { return Value::list({Value(Map{{"result", Value(outcome)}})}); }

struct Job {
  std::shared_ptr<TrialKit> job = TrialKit::create(Value("job"), Value(0));
  std::shared_ptr<Task> task = job->add_task(Value("t1"), Value(1));
};

TEST(TaskRollUp, CountsSectionsAndPluginsApart) {
  Job j;
  j.task->add_section(Value("a"), Value(2))->stop(Options{{"result", Value(results::Passed)}});
  j.task->add_section(Value("b"), Value(3))->stop(Options{{"result", Value(results::Failed)}});
  j.task->add_section(Value("c"), Value(4));  // never stopped: no result, not counted
  auto counted = j.task->add_plugin(Value("p"), Value(5));
  auto plugin_section = counted->add_section(Value("ps"), Value(6));
  plugin_section->stop(Options{{"result", Value(results::Failed)}});
  counted->stop();
  j.task->add_plugin(Value("resultless"), Value(7));
  auto passing = j.task->add_plugin(Value("q"), Value(8));
  passing->stop();

  j.task->stop();
  EXPECT_EQ(count(*j.task, "summary", "passed"), 1);
  EXPECT_EQ(count(*j.task, "summary", "failed"), 1);
  EXPECT_EQ(j.task->field_or_none("summary").as_tally().total(), 2);
  // A plugin with a tally adds it; one without adds its result, "none" when it has none.
  EXPECT_EQ(count(*j.task, "pluginsummary", "failed"), 1);
  EXPECT_EQ(count(*j.task, "pluginsummary", "none"), 1);
  EXPECT_EQ(count(*j.task, "pluginsummary", "passed"), 1);
  EXPECT_EQ(j.task->field_or_none("pluginsummary").as_tally().total(), 3);
}

TEST(TaskRollUp, AddsChildHealthAndKeepsItsOwnHealthOutcome) {
  Job j;
  auto tc = j.task->add_section(Value("tc"), Value(2));
  auto s = tc->add_section(Value("s"), Value(3));
  s->update(Map{{"health", health("failed")}});
  s->stop(Options{{"result", Value(results::Passed)}});
  tc->stop();
  auto plugin = j.task->add_plugin(Value("p"), Value(4));
  plugin->set_field("health_result", Value(results::Errored));  // plugins add no health
  j.task->stop();
  EXPECT_EQ(j.task->field_or_none("health_result").as_result().code(), ResultCode::failed);
  EXPECT_EQ(count(*j.task, "health_summary", "failed"), 1);

  // A second roll-up rebuilds the counts from scratch, but the outcome keeps accumulating.
  j.task->set_field("health_result", Value(results::Aborted));
  j.task->roll_up();
  EXPECT_EQ(count(*j.task, "health_summary", "failed"), 1);
  EXPECT_EQ(j.task->field_or_none("health_result").as_result().code(), ResultCode::aborted);
}

TEST(TaskResult, FoldsTheChildrenThatRollUp) {
  Job j;
  EXPECT_TRUE(j.task->result().is_none());
  j.task->add_section(Value("a"), Value(2))->stop(Options{{"result", Value(results::Passed)}});
  j.task->add_section(Value("b"), Value(3))
      ->stop(Options{{"result", Value(results::Failed)}, {"result_rollup", Value(false)}});
  EXPECT_EQ(j.task->result(), Value(results::Passed));
  j.task->stop();
  EXPECT_EQ(count(*j.task, "summary", "failed"), 1);  // still counted in the tally

  auto plugin = j.task->add_plugin(Value("p"), Value(4));
  plugin->stop(Options{{"result", Value(results::Errored)}});
  EXPECT_EQ(j.task->field_or_none("result"), Value(results::Errored));
}

TEST(TaskResult, AnAssignedResultWinsEvenWhenNone) {
  Job j;
  j.task->add_section(Value("a"), Value(2))->stop(Options{{"result", Value(results::Failed)}});
  j.task->stop(Options{{"result", Value(results::Passx)}});
  EXPECT_EQ(j.task->result(), Value(results::Passx));
  j.task->set_result(Value());
  EXPECT_TRUE(j.task->result().is_none());
  EXPECT_TRUE(j.task->has_field("result"));
}

TEST(TrialKitRollUp, MergesTaskAndPluginTalliesAndSkipsUnstartedPlugins) {
  Job j;
  j.task->add_section(Value("a"), Value(2))->stop(Options{{"result", Value(results::Passed)}});
  j.task->add_section(Value("b"), Value(3))->stop(Options{{"result", Value(results::Skipped)}});
  j.task->stop();
  auto t2 = j.job->add_task(Value("t2"), Value(4));
  auto t2_section = t2->add_section(Value("a"), Value(5));
  auto step = t2_section->add_section(Value("step"), Value(6));
  // Health items count from below a task's sections: a top section has no section to fold into.
  step->update(Map{{"health", health("passed")}});
  step->stop(Options{{"result", Value(results::Failed)}});
  t2_section->stop();
  t2->stop();
  auto monitor = j.job->add_plugin(Value("monitor"), Value(7));
  monitor->start();
  monitor->add_section(Value("m"), Value(8))->stop(Options{{"result", Value(results::Passed)}});
  monitor->stop();
  j.job->add_plugin(Value("interrupted"), Value(9));  // never started: no tally

  j.job->stop();
  EXPECT_EQ(count(*j.job, "summary", "passed"), 1);
  EXPECT_EQ(count(*j.job, "summary", "skipped"), 1);
  EXPECT_EQ(count(*j.job, "summary", "failed"), 1);
  EXPECT_EQ(count(*j.job, "pluginsummary", "passed"), 1);
  EXPECT_EQ(j.job->field_or_none("pluginsummary").as_tally().total(), 1);
  EXPECT_EQ(j.job->field_or_none("health_result"), Value(results::Passed));
  EXPECT_EQ(count(*j.job, "health_summary", "passed"), 1);

  EXPECT_EQ(j.job->result(), Value(results::Failed));
  EXPECT_EQ(j.job->field_or_none("result"), Value(results::Failed));
}

TEST(TrialKitResult, IsNoneWithoutResultsAndIgnoresTheRollUpFlag) {
  Job j;
  EXPECT_TRUE(j.job->result().is_none());
  j.task->add_section(Value("a"), Value(2))->stop(Options{{"result", Value(results::Blocked)}});
  j.task->stop(Options{{"result_rollup", Value(false)}});
  EXPECT_EQ(j.job->result(), Value(results::Blocked));
}

}  // namespace
}  // namespace morvi::reporter::trialkit
