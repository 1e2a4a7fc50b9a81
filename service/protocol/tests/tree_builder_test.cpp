// A job recorded to events and rebuilt by the tree builder against the same job built in
// process; events the tree must refuse.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "morvi/results.hpp"
#include "morvi/service/protocol/recording.hpp"
#include "morvi/service/protocol/tree_builder.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "recorded_job.hpp"
#include "morvi/utils/utils.hpp"

namespace morvi::service::protocol {
namespace {

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

TEST(TreeBuilder, RecordedJobEqualsTheJobBuiltInProcess) {
  morvi::testing::ScratchDir scratch;
  std::shared_ptr<TrialKit> direct;
  {
    utils::ScopedClock clock(testing_jobs::ticking_clock());
    direct = TrialKit::create(Value("job"), Value(1));
    testing_jobs::drive(*direct, scratch.path());
  }
  auto sink = std::make_shared<BuilderSink>();
  {
    utils::ScopedClock clock(testing_jobs::ticking_clock());
    auto recorded = RecordingTrialKit::create(sink, Value("job"), Value(1));
    testing_jobs::drive(*recorded, scratch.path());
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
      {Event{EventKind::update, 1, 0, Map{{"data", Value(Map{{"starttime", Value("noon")}})}}},
       "must be a date-time"},
      {Event{EventKind::set_result, 0, 0, Map{{"result", Value(results::Failed)}}},
       "no result of its own"},
      {Event{EventKind::stop, 0, 0, Map{{"options", Value(Map{{"num_tasks", Value("x")}})}}},
       "'num_tasks'"},
      // An event made by hand is held to the arguments a line must carry.
      {Event{EventKind::start, 1, 0, Map{{"time", Value(now)}}}, "missing argument 'options'"},
      {Event{EventKind::update, 1, 0, Map{{"data", Value(3)}}}, "'data' must be a map"},
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

// A runner may leave gaps between its handles: each still names its own node, and a handle
// in a gap, or past the last, names none.
TEST(TreeBuilder, HandlesWithGapsNameTheirOwnNodes) {
  TreeBuilder builder;
  builder.apply(add(EventKind::create_trialkit, 0, 0));
  const std::vector<Handle> tasks = {1, 3, 4, 9, 1000, 1u << 20};
  for (const Handle h : tasks)
    builder.apply(Event{EventKind::add_task, 0, h,
                        Map{{"id", Value("t" + std::to_string(h))}, {"seq_num", Value(1)}}});
  // Handle 3 sits at index 2, where a lookup by index alone would find it for handle 2.
  for (const Handle h : {Handle(2), Handle(5), Handle(999), Handle(1001), Handle(1u << 21)}) {
    EXPECT_EQ(builder.node(h), nullptr) << h;
    EXPECT_THROW(builder.apply(Event{EventKind::roll_up, h, 0, {}}), ProtocolError) << h;
  }
  for (const Handle h : tasks) {
    ASSERT_NE(builder.node(h), nullptr) << h;
    EXPECT_EQ(builder.node(h)->id(), Value("t" + std::to_string(h)));
    builder.apply(
        Event{EventKind::update, h, 0, Map{{"data", Value(Map{{"description", Value("d")}})}}});
    builder.apply(Event{EventKind::add_section, h, (1u << 22) + h,
                        Map{{"id", Value("s" + std::to_string(h))}, {"seq_num", Value(2)}}});
  }
  for (const Handle h : tasks) {
    EXPECT_EQ(builder.node((1u << 22) + h)->parent(), builder.node(h));
    EXPECT_EQ(builder.node((1u << 22) + h)->id(), Value("s" + std::to_string(h)));
    EXPECT_EQ(builder.node(h)->field_or_none("description"), Value("d"));
  }
  // A handle below the last one given is refused even where a gap left it free.
  EXPECT_THROW(builder.apply(add(EventKind::add_task, 0, 6)), ProtocolError);
}

// Applying a held event leaves it as it was (the gtest listener journals it after applying);
// a moved-in event gives the tree the same values.
TEST(TreeBuilder, AnEventAppliedByReferenceIsLeftWhole) {
  TreeBuilder by_ref, by_move;
  const DateTime t0(2026, 1, 1, 10, 0, 0, 0, 0);
  const std::vector<Event> events = {
      add(EventKind::create_trialkit, 0, 0),
      Event{EventKind::start, 0, 0,
            Map{{"options", Value(Map{{"description", Value("a long description of the job")}})},
                {"time", Value(t0)}}},
      Event{EventKind::update, 0, 0,
            Map{{"data", Value(Map{{"submitter", Value("someone with a long name")}})}}},
      Event{EventKind::add_detail, 0, 0,
            Map{{"detail", Value("a detail longer than a short string")}}},
  };
  for (const Event& event : events) {
    const std::string line = encode_event(event);
    by_ref.apply(event);
    EXPECT_EQ(encode_event(event), line);
    Event copy = event;
    by_move.apply(std::move(copy));
  }
  EXPECT_EQ(by_ref.trialkit()->dump_json(), by_move.trialkit()->dump_json());
  EXPECT_NE(by_ref.trialkit()->dump_json().find("someone with a long name"), std::string::npos);
}

TEST(TreeBuilder, NaiveAndAwareTimesOfOneNodeAreRefusedOrReconciled) {
  TreeBuilder builder;
  builder.apply(add(EventKind::create_trialkit, 0, 0));
  builder.apply(add(EventKind::add_task, 0, 1));
  builder.apply(add(EventKind::add_task, 0, 2));
  const Map naive{{"options", Value(Map{})}, {"time", Value(DateTime(2026, 1, 1, 10))}};
  const Map aware{{"options", Value(Map{})}, {"time", Value(DateTime(2026, 1, 1, 11, 0, 0, 0, 0))}};
  builder.apply(Event{EventKind::start, 1, 0, naive});
  builder.apply(Event{EventKind::start, 2, 0, aware});
  const std::string before = builder.trialkit()->dump_json();
  EXPECT_THROW(builder.apply(Event{EventKind::stop, 1, 0, aware}), ProtocolError);
  EXPECT_EQ(builder.trialkit()->dump_json(), before);
  // Closing stops the naive one at its own start, the aware one at the last reading.
  builder.close_running("ended");
  EXPECT_EQ(builder.running(), 0u);
  const auto& tasks = builder.trialkit()->testscripts();
  EXPECT_EQ(reporter::trialkit::node_of(tasks.at(0)).runtime().as_number(), 0.0);
  EXPECT_TRUE(reporter::trialkit::node_of(tasks.at(1)).stoptime().as_datetime().aware());
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
