// The four node kinds: their fields at construction, adding children, the trialkit's stop,
// the report header and the flat record.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "morvi/errors.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/results.hpp"
#include "node_test_support.hpp"

namespace morvi::reporter::trialkit {
namespace {

using results::ResultCounter;

struct Tree {
  std::shared_ptr<TrialKit> job = TrialKit::create(Value("job"), Value(0));
  std::shared_ptr<Task> task = job->add_task(Value("t1"), Value(1));
  std::shared_ptr<Plugin> plugin = task->add_plugin(Value("p"), Value(2));
  std::shared_ptr<Section> section = task->add_section(Value("tc"), Value(3), Value("Testcase"));
};

// What each kind holds right after construction: none, 0, a fresh tally, an empty list or map.
TEST(NodeKinds, FieldsAtConstruction) {
  Tree t;
  const Value none, zero(0), tally(ResultCounter{}), list(List{}), map(Map{});
  const struct {
    const ReportObjectBase* node;
    std::vector<std::pair<const char*, Value>> fields;
    std::vector<const char*> absent;
  } cases[] = {
      {t.job.get(),
       {{"summary", tally}, {"pluginsummary", tally}, {"health_result", none},
        {"health_summary", tally}, {"totaltasks", zero}, {"result", none}},
       {"logfile", "description"}},
      {t.task.get(),
       {{"logfile", none}, {"summary", tally}, {"pluginsummary", tally}, {"health_result", none},
        {"health_summary", tally}, {"result", none}},
       {"description", "logs"}},
      {t.plugin.get(),
       {{"result", none}, {"summary", none}, {"health_result", none}, {"health_summary", tally},
        {"logs", map}},
       {"logfile", "pluginsummary"}},
      {t.section.get(),
       {{"result", none}, {"health_result", none}, {"health_summary", tally}, {"logfile", none},
        {"logs", map}},
       {"summary", "description"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.node->type_name());
    for (const auto& [name, value] : c.fields) {
      ASSERT_TRUE(c.node->has_field(name)) << name;
      EXPECT_EQ(c.node->field_or_none(name), value) << name;
    }
    for (const char* name : c.absent) EXPECT_FALSE(c.node->has_field(name)) << name;
  }
  EXPECT_EQ(t.plugin->children(), List{});
  EXPECT_EQ(t.section->field_or_none("sections"), Value(List{}));
  EXPECT_EQ(t.section->type(), Value("Testcase"));
  EXPECT_EQ(t.plugin->type(), Value("Plugin"));
}

TEST(NodeKinds, ListsHaveTheirLengthsAndOrder) {
  Tree t;
  EXPECT_EQ(t.job->arg_order().size(), 30u);
  EXPECT_EQ(t.task->arg_order().size(), 25u);
  EXPECT_EQ(t.plugin->arg_order().size(), 17u);
  EXPECT_EQ(t.section->arg_order().size(), 22u);
  EXPECT_EQ(t.job->arg_order().front(), "job_type");
  EXPECT_EQ(t.job->arg_order().back(), "source_id");
  EXPECT_EQ(t.section->arg_order()[4], "lumo_uid");
  EXPECT_EQ(ReportObjectBase::create(Value(1), Value(1))->arg_order().back(), "extra");
}

TEST(NodeKinds, AddingAppendsInOrderWithTheParentSet) {
  Tree t;
  auto job_plugin = t.job->add_plugin(Value("monitor"), Value(4));
  auto t2 = t.job->add_task(Value("t2"), Value(5), Value("Script"));
  ASSERT_EQ(t.job->testscripts().size(), 3u);
  EXPECT_EQ(&t.job->testscripts(), &t.job->children());
  EXPECT_EQ(&node_of(t.job->testscripts()[0]), t.task.get());
  EXPECT_EQ(&node_of(t.job->testscripts()[1]), job_plugin.get());
  EXPECT_EQ(&node_of(t.job->testscripts()[2]), t2.get());
  EXPECT_EQ(t2->parent(), t.job.get());
  EXPECT_EQ(t2->type(), Value("Script"));
  EXPECT_EQ(t.task->fullid(), Value("t1"));
  EXPECT_EQ(node_of(t.task->children()[0]).node_kind(), NodeKind::Plugin);
  EXPECT_EQ(node_of(t.task->children()[1]).node_kind(), NodeKind::Section);
  auto inner = t.plugin->add_section(Value("ps"), Value(6));
  EXPECT_EQ(inner->fullid(), Value("t1.p.ps"));
  EXPECT_TRUE(t.section->starttime().is_none());  // added, not started
}

TEST(TrialKitStop, WeightCountsStartedTasksOverThePlannedNumber) {
  TickingClock clock;
  auto job = TrialKit::create(Value("job"), Value(0));
  job->start();
  job->add_task(Value("a"), Value(1))->start();
  job->add_task(Value("b"), Value(2))->start();
  job->add_task(Value("never"), Value(3));
  job->add_plugin(Value("p"), Value(4))->start();
  job->stop(Options{{"num_tasks", Value(4)}});
  EXPECT_EQ(job->field_or_none("totaltasks"), Value(4));
  EXPECT_DOUBLE_EQ(job->field_or_none("summary").as_tally().weight(), 0.5);
  EXPECT_FALSE(job->extra().contains("num_tasks"));
}

TEST(TrialKitStop, WithoutPlannedTasksTheWeightIsUntouched) {
  auto job = TrialKit::create(Value("job"), Value(0));
  job->add_task(Value("a"), Value(1))->start();
  job->stop();
  EXPECT_EQ(job->field_or_none("totaltasks"), Value(0));
  EXPECT_DOUBLE_EQ(job->field_or_none("summary").as_tally().weight(), 1.0);
}

TEST(TrialKitStop, AFailingRollUpLeavesTheTaskCountAlone) {
  auto job = TrialKit::create(Value("job"), Value(0));
  job->add_task(Value("a"), Value(1))->set_field("summary", Value("not a tally"));
  EXPECT_THROW(job->stop(Options{{"num_tasks", Value(3)}}), TypeError);
  EXPECT_EQ(job->field_or_none("totaltasks"), Value(0));
  EXPECT_THROW(job->stop(Options{{"result", Value(results::Passed)}}), ArgumentError);
}

TEST(ReportHeaderTest, WrapsTheReportWithTheVersion) {
  auto job = TrialKit::create(Value("job"), Value(0));
  const ReportHeader header(Value::node(job));
  const Map& data = header.as_dict();
  EXPECT_EQ(&data, &header.as_dict());
  ASSERT_EQ(data.size(), 2u);
  EXPECT_EQ(data.begin()->first, "version");
  EXPECT_EQ(data.at("version"), Value("3.4"));
  EXPECT_EQ(&node_of(data.at("report")), job.get());
}

TEST(FlatRecord, ChildrenByIdThenSeqNumAndLogfile) {
  Tree t;
  t.task->add_section(Value("s2"), Value(7));
  t.section->start(Options{{"logfile", Value("/no/such/dir/TaskLog")}});
  const Map task = t.task->to_dict();
  EXPECT_EQ(task.at("sections"), Value::list({Value("p"), Value("tc"), Value("s2")}));
  EXPECT_EQ(t.task->children().size(), 3u);  // the node's own list is untouched
  EXPECT_TRUE(task.at("result").is_none());   // derived, none: present in the record
  EXPECT_EQ(task.at("fullid"), Value("t1"));
  EXPECT_EQ(task.at("seq_num"), Value(1));
  EXPECT_FALSE(task.contains("description"));  // never given
  std::vector<std::string> keys;
  for (const auto& entry : task) keys.push_back(entry.first);
  EXPECT_EQ(keys.front(), "type");
  EXPECT_EQ(keys.back(), "seq_num");  // logfile is a listed field of a task: it keeps its place

  const Map section = t.section->to_dict();
  EXPECT_EQ(section.at("logfile"), Value("/no/such/dir/TaskLog"));
  EXPECT_EQ(std::prev(section.end())->first, "logfile");
  EXPECT_EQ(t.job->to_dict().at("tasks"), Value::list({Value("t1")}));
}

TEST(IgnoredValues, NoneEmptyListAndEmptyMapOnly) {
  EXPECT_EQ(VALUE_IGNORE().size(), 3u);
  for (const Value& v : VALUE_IGNORE()) EXPECT_TRUE(is_ignored(v));
  EXPECT_TRUE(is_ignored(Value::attr_map(Map{})));
  for (const Value& v : {Value(0), Value(false), Value(""), Value::tuple({}), Value::list({Value()})})
    EXPECT_FALSE(is_ignored(v)) << v.to_repr();
}

}  // namespace
}  // namespace morvi::reporter::trialkit
