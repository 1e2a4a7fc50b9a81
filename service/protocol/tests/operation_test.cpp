// Lines read straight into operations against the operations of the same lines read through a
// JSON tree: every event a runner sends, arguments of every shape, and lines in the encoder's
// shape that must still be refused.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "morvi/service/protocol/operation.hpp"
#include "morvi/service/protocol/recording.hpp"
#include "morvi/service/protocol/value_codec.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "recorded_job.hpp"

namespace morvi::service::protocol {
namespace {

// Every field in the typed encoding, so that two operations compare kind for kind (an int is
// not a float, a tuple not a list).
std::string text_of(const Operation& op) {
  std::string out = std::string(event_name(op.kind)) + " " + std::to_string(op.node) + " " +
                    std::to_string(op.child);
  for (const Value* value : {&op.id, &op.seq_num, &op.type, &op.value}) {
    out += ' ';
    write_value(out, *value);
  }
  out += ' ';
  write_map(out, op.map);
  out += ' ';
  if (op.time) write_value(out, Value(*op.time));
  out += ' ';
  if (op.file_sizes) write_map(out, *op.file_sizes);
  out += op.list_extend ? " extend" : " replace";
  return out;
}

// The operation of the line through the JSON tree, or the reason it is refused.
std::string through_tree(const std::string& line) {
  try {
    return text_of(operation_of(decode_event(line)));
  } catch (const ProtocolError& e) {
    return std::string("refused: ") + e.what();
  }
}

std::string straight(const std::string& line) {
  try {
    return text_of(decode_operation(line));
  } catch (const ProtocolError& e) {
    return std::string("refused: ") + e.what();
  }
}

class LineSink : public EventSink {
 public:
  void send(const Event& event) override { lines.push_back(encode_event(event)); }
  std::vector<std::string> lines;
};

TEST(Operation, EveryEventOfARecordedJobReadsAsThroughATree) {
  morvi::testing::ScratchDir scratch;
  auto sink = std::make_shared<LineSink>();
  {
    utils::ScopedClock clock(testing_jobs::ticking_clock());
    auto job = RecordingTrialKit::create(sink, Value("job"), Value(1), Value("Nightly"));
    testing_jobs::drive(*job, scratch.path());
    auto task = job->add_task(Value("t2"), Value(11));
    task->start(Options{{"pargs", Value::attr_map(Map{{"a", Value(1.5)}})}});
    task->update(Value(Map{{"$", Value("a key that needs the tagged map")}}));
    task->update_extra(Map{{"when", Value(DateTime(2026, 3, 1, 9, 30, 0, 12, 60))}}, false);
    task->add_detail(Value::tuple({Value(1.5), Value(), Value(true), Value(-0.0)}));
    task->add_detail(Value::error("ValueError", {Value("bad"), Value(3)}));
    task->set_result(Value());
    task->roll_up();
    task->stop(Options{{"result", Value(results::TestResult(results::ResultCode::failed, "why",
                                                             Map{{"n", Value(1)}}))}});
  }
  ASSERT_GT(sink->lines.size(), 40u);
  for (const std::string& line : sink->lines) {
    const std::string expected = through_tree(line);
    ASSERT_EQ(expected.rfind("refused", 0), std::string::npos) << line;
    EXPECT_EQ(straight(line), expected) << line;
  }
}

TEST(Operation, ArgumentsOfEveryShapeReadAsThroughATree) {
  const std::string t = R"({"$":"datetime","v":[2024,1,2,3,4,5,6]})";
  const std::string aware = R"({"$":"datetime","v":[2024,1,2,3,4,5,6],"offset":-90})";
  const std::vector<std::string> lines = {
      R"({"event":"create_trialkit","node":0,"child":0,"args":{"id":"job","seq_num":1}})",
      R"({"event":"add_task","node":0,"child":7,"args":{"id":["a",1],"seq_num":2.5,"type":null}})",
      R"({"event":"add_section","node":3,"child":9,"args":{"type":"Step","seq_num":-4,"id":"s"}})",
      R"({"event":"start","node":2,"args":{"options":{},"time":)" + t + "}}",
      R"({"event":"stop","node":2,"args":{"time":)" + aware +
          R"(,"options":{"result":{"$":"result","code":"passed"}},"file_sizes":{"a.log":12,"b.log":null}}})",
      R"({"event":"stop","node":2,"args":{"options":{"$":"attrmap","v":{"k":{"$":"float","v":"nan"}}}}})",
      R"({"event":"stop","node":2,"args":{"options":{"$":"map","v":[["$",1],["x",{"$":"tuple","v":[]}]]}}})",
      R"({"event":"update","node":5,"args":{"data":{"extra":{"deep":[[{"a":"\u00e9\n"}]]}}}})",
      R"({"event":"update_extra","node":5,"args":{"list_extend":false,"data":{"tags":[1,2]}}})",
      R"({"event":"update_extra","node":5,"args":{"data":{},"list_extend":true}})",
      R"({"event":"add_detail","node":5,"args":{"detail":{"$":"opaque","type":"T","repr":"<T>"}}})",
      R"({"event":"add_detail","node":5,"args":{"detail":"caf\u00e9 \"quoted\" \\ back"}})",
      R"({"event":"add_detail","node":5,"args":{"detail":{"$":"tally","counts":[["passed",2]],"weight":1.0}}})",
      R"({"event":"set_result","node":5,"args":{"result":{"$":"result","code":"errored","reason":"r","data":{"n":1}}}})",
      R"({"event":"set_result","node":5,"args":{"result":null}})",
      R"({"event":"roll_up","node":18446744073709551615,"args":{}})",
      // Other layouts than the encoder's, which the JSON path reads.
      R"({ "event" : "roll_up", "node" : 1, "args" : { } })",
      R"({"args":{},"node":1,"event":"roll_up"})",
      R"({"event":"roll_\u0075p","node":1,"args":{}})",
      R"({"event":"start","node":-0,"args":{"options":{"a":1,"a":2},"time":)" + t + "}}",
      R"({"event":"stop","node":1,"args":{"options":{"a":1},"options":{"b":2}}})",
  };
  for (const std::string& line : lines) {
    const std::string expected = through_tree(line);
    EXPECT_EQ(expected.rfind("refused", 0), std::string::npos) << expected;
    EXPECT_EQ(straight(line), expected) << line;
  }
}

TEST(Operation, LinesInTheEncodersShapeAreStillRefusedWithTheirReason) {
  const std::string t = R"({"$":"datetime","v":[2024,1,2,3,4,5,6]})";
  std::string deep = "1";
  for (int i = 0; i <= kMaxDepth; ++i) deep = "[" + deep + "]";
  const std::vector<std::string> lines = {
      R"({"event":"start","node":1,"args":{"options":[],"time":)" + t + "}}",
      R"({"event":"start","node":1,"args":{"options":{},"time":"noon"}})",
      R"({"event":"start","node":1,"args":{"options":{},"time":{"$":"datetime","v":[2024,13,2,3,4,5,6]}}})",
      R"({"event":"stop","node":1,"args":{"options":{},"file_sizes":{"a.log":"big"}}})",
      R"({"event":"stop","node":1,"args":{"time":)" + t + "}}",
      R"({"event":"update","node":1,"args":{"data":{},"detail":1}})",
      R"({"event":"update_extra","node":1,"args":{"data":{},"list_extend":1}})",
      R"({"event":"add_detail","node":1,"args":{}})",
      R"({"event":"add_detail","node":1,"args":{"detail":)" + deep + "}}",
      R"({"event":"add_task","node":0,"args":{"id":"t","seq_num":1}})",
      R"({"event":"roll_up","node":1,"child":2,"args":{}})",
      R"({"event":"roll_down","node":1,"args":{}})",
      R"({"event":"roll_up","node":1,"args":{}}{})",
      "{\"event\":\"add_detail\",\"node\":1,\"args\":{\"detail\":\"\xc3\"}}",
      "{\"event\":\"add_detail\",\"node\":1,\"args\":{\"detail\":\"a raw\x01" "control byte\"}}",
      "{\"event\":\"add_detail\",\"node\":1,\"args\":{\"detail\":\"a raw\ttab in the text\"}}",
  };
  for (const std::string& line : lines) {
    const std::string expected = through_tree(line);
    EXPECT_EQ(expected.rfind("refused: ", 0), 0u) << line << " -> " << expected;
    EXPECT_EQ(straight(line), expected) << line;
  }
}

// The clock reading's parts are read as digits between commas where they are laid out so; any
// other layout or value reads, or is refused, as through the tree.
TEST(Operation, DateTimePartsAtTheirEdgesReadAsThroughATree) {
  for (const std::string parts :
       {"2024,1,2,3,4,5,999999", "1,1,1,0,0,0,0", "2024,12,31,23,59,59,0", "9999,1,1,0,0,0,1",
        "2024, 1,2,3,4,5,6", "2024,1,2,3,4,5,6 ", "-1,1,1,0,0,0,0", "2024,1,2,3,4,5,1000000",
        "2024,1,2,3,4,5,0999999", "2024,01,2,3,4,5,6", "2024,1,2,3,4,5", "2024,1,2,3,4,5,6,7",
        "2024,2,30,0,0,0,0", "2024,1,2,3,4,5,6.0", "2024,1,2,3,4,5,", "20240,1,2,3,4,5,6",
        "2024,1,2,3,4,5,4294967296"}) {
    for (const std::string offset : {"", R"(,"offset":0)", R"(,"offset":-1439)", R"(,"offset":1440)"}) {
      const std::string line = R"({"event":"start","node":1,"args":{"time":{"$":"datetime","v":[)" +
                               parts + "]" + offset + R"(},"options":{}}})";
      EXPECT_EQ(straight(line), through_tree(line)) << line;
    }
  }
}

}  // namespace
}  // namespace morvi::service::protocol
