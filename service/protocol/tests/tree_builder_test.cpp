// A job recorded to events and rebuilt by the tree builder against the same job built in
// process; events the tree must refuse.
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "morvi/results.hpp"
#include "morvi/service/protocol/recording.hpp"
#include "morvi/service/protocol/tree_builder.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "morvi/utils/utils.hpp"

namespace morvi::service::protocol {
namespace {

namespace fs = std::filesystem;
using reporter::trialkit::TrialKit;

// Encodes every event to its line and applies the decoded line, as a journal replay does.
class BuilderSink : public EventSink {
 public:
  void send(const Event& event) override {
    lines.push_back(encode_event(event));
    builder.apply(decode_event(lines.back()));
  }
  TreeBuilder builder;
  std::vector<std::string> lines;
};

// A clock that advances one millisecond, with an offset, per reading.
utils::ClockSource ticking_clock() {
  auto ticks = std::make_shared<std::int64_t>(DateTime(2026, 3, 1, 8).ticks());
  return [ticks] { return DateTime::from_ticks(*ticks += 1000, 60); };
}

void grow(const fs::path& file, const std::string& text) { std::ofstream(file, std::ios::app) << text; }

// One job, driven alike through either kind of root: logs that grow while nodes run, siblings
// that share an id, nested steps, results given and rolled up, details, extra data, a plugin
// that ends in another log and a task whose result is set outright.
template <class Root>
void drive(Root& job, const fs::path& dir) {
  const fs::path task_log = dir / "TaskLog.t1", plugin_log = dir / "plugin.log";
  std::ofstream(task_log, std::ios::trunc).flush();
  std::ofstream(plugin_log, std::ios::trunc).flush();
  job.start(Options{{"suite_name", Value("suite")}, {"host", Value("h")}});
  auto task = job.add_task(Value("t1"), Value(2));
  task->start(Options{{"logfile", Value(task_log.string())}, {"description", Value("d")}});
  auto plugin = task->add_plugin(Value("checks"), Value(3));
  plugin->start(Options{{"logfile", Value(plugin_log.string())}});
  auto testcase = task->add_section(Value("tc"), Value(4), Value("Testcase"));
  testcase->start(Options{{"logfile", Value(task_log.string())}});
  for (int i = 0; i < 3; ++i) {
    auto step = testcase->add_section(Value("step"), Value(5 + i), Value("Step"));
    step->start(Options{{"description", Value("loop " + std::to_string(i))}});
    grow(task_log, "line " + std::to_string(i) + "\n");
    step->update_extra(Map{{"tags", Value::list({Value(i)})}});
    step->update_extra(Map{{"tags", Value::list({Value(i + 1)})}}, i % 2 == 0);
    step->add_detail(Value("detail " + std::to_string(i)));
    step->update(Map{{"custom", Value(Map{{"k", Value(i)}})}});
    const results::TestResult result =
        i == 1 ? results::TestResult(results::ResultCode::failed, "why", Map{{"n", Value(i)}})
               : results::Passed;
    step->stop(Options{{"result", Value(result)}});
  }
  auto never = testcase->add_section(Value("never_started"), Value(9), Value("Step"));
  never->stop();
  grow(plugin_log, "checked\n");
  testcase->stop();
  plugin->stop(Options{{"logfile", Value((dir / "other.log").string())}});
  task->set_result(Value(results::Blocked));
  task->stop();
  auto job_plugin = job.add_plugin(Value("archiver"), Value(10));
  job_plugin->start();
  job_plugin->stop();
  job.stop(Options{{"num_tasks", Value(2)}});
}

TEST(TreeBuilder, RecordedJobEqualsTheJobBuiltInProcess) {
  morvi::testing::ScratchDir scratch;
  std::shared_ptr<TrialKit> direct;
  {
    utils::ScopedClock clock(ticking_clock());
    direct = TrialKit::create(Value("job"), Value(1));
    drive(*direct, scratch.path());
  }
  auto sink = std::make_shared<BuilderSink>();
  {
    utils::ScopedClock clock(ticking_clock());
    auto recorded = RecordingTrialKit::create(sink, Value("job"), Value(1));
    drive(*recorded, scratch.path());
  }
  ASSERT_TRUE(sink->builder.trialkit());
  EXPECT_EQ(sink->builder.applied(), sink->lines.size());
  EXPECT_EQ(sink->builder.running(), 0u);
  EXPECT_EQ(sink->builder.trialkit()->dump_json(), direct->dump_json());
  EXPECT_EQ(sink->builder.trialkit()->dump_yaml(), direct->dump_yaml());
  // The testcase's share of its log was measured by the runner, not left unknown.
  EXPECT_NE(direct->dump_json().find("\"size\": 21"), std::string::npos);
}

Event add(EventKind kind, Handle parent, Handle child) {
  return Event{kind, parent, child, Map{{"id", Value("x")}, {"seq_num", Value(1)}}};
}

TEST(TreeBuilder, RefusedEventsLeaveTheTreeAsItWas) {
  TreeBuilder builder;
  EXPECT_THROW(builder.apply(add(EventKind::add_task, 0, 1)), ProtocolError);  // no trialkit
  builder.apply(add(EventKind::create_trialkit, 0, 0));
  builder.apply(add(EventKind::add_task, 0, 1));
  const std::string before = builder.trialkit()->dump_json();
  const DateTime now(2026, 1, 1);
  const std::vector<std::pair<Event, std::string>> refused = {
      {add(EventKind::create_trialkit, 0, 0), "exists already"},
      {add(EventKind::add_task, 7, 8), "no node has this handle"},
      {add(EventKind::add_section, 0, 2), "cannot hold a section"},
      {add(EventKind::add_task, 1, 2), "cannot hold a task"},
      {add(EventKind::add_section, 1, 1), "not above"},
      {Event{EventKind::start, 1, 0, Map{{"options", Value(Map{})}}}, "no time"},
      {Event{EventKind::start, 1, 0,
             Map{{"options", Value(Map{{"result", Value("passed")}})}, {"time", Value(now)}}},
       "result value"},
      {Event{EventKind::update, 1, 0, Map{{"data", Value(Map{{"sections", Value::list({})}})}}},
       "children are added"},
      {Event{EventKind::update, 1, 0, Map{{"data", Value(Map{{"extra", Value(3)}})}}},
       "'extra' must be a map"},
      {Event{EventKind::update, 0, 0, Map{{"data", Value(Map{{"result", Value()}})}}},
       "derived"},
      {Event{EventKind::set_result, 0, 0, Map{{"result", Value(results::Failed)}}},
       "no result of its own"},
      {Event{EventKind::stop, 0, 0, Map{{"options", Value(Map{{"num_tasks", Value("x")}})}}},
       "'num_tasks'"},
  };
  for (const auto& [event, reason] : refused) {
    try {
      builder.apply(event);
      ADD_FAILURE() << "applied " << encode_event(event);
    } catch (const ProtocolError& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find(std::string(event_name(event.kind))), std::string::npos) << what;
      EXPECT_NE(what.find(reason), std::string::npos) << what;
    }
    EXPECT_EQ(builder.trialkit()->dump_json(), before) << encode_event(event);
  }
  EXPECT_EQ(builder.applied(), 2u);
}

TEST(TreeBuilder, CloseStopsRunningNodesAsErrored) {
  TreeBuilder builder;
  const DateTime t0(2026, 1, 1, 10, 0, 0, 0, 0), t1(2026, 1, 1, 10, 0, 5, 0, 0);
  builder.apply(add(EventKind::create_trialkit, 0, 0));
  builder.apply(Event{EventKind::start, 0, 0, Map{{"options", Value(Map{})}, {"time", Value(t0)}}});
  builder.apply(add(EventKind::add_task, 0, 1));
  builder.apply(Event{EventKind::start, 1, 0, Map{{"options", Value(Map{})}, {"time", Value(t1)}}});
  builder.apply(add(EventKind::add_section, 1, 2));
  EXPECT_EQ(builder.running(), 2u);
  builder.close_running("the job ended early");
  EXPECT_EQ(builder.running(), 0u);
  const auto& task = reporter::trialkit::node_of(builder.trialkit()->testscripts().at(0));
  EXPECT_EQ(task.field_or_none("result").as_result().code(), results::ResultCode::errored);
  EXPECT_EQ(task.stoptime().as_datetime(), t1);
  EXPECT_EQ(task.details().at(0).as_text(), "the job ended early");
  EXPECT_TRUE(builder.trialkit()->stoptime().is_datetime());
  // The section never started: it is written as it stood.
  EXPECT_TRUE(reporter::trialkit::node_of(task.children().at(0)).stoptime().is_none());
}

}  // namespace
}  // namespace morvi::service::protocol
