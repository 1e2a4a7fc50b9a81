// Event lines read straight from their text against the same lines read through a JSON tree,
// for generated values and for the same lines as other writers may lay them out; lines refused
// with their reasons.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "morvi/service/protocol/event.hpp"
#include "morvi/service/protocol/operation.hpp"
#include "morvi/service/protocol/recording.hpp"
#include "morvi/service/protocol/value_codec.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "recorded_job.hpp"
#include "value_generator.hpp"

namespace morvi::service::protocol {
namespace {

using json = Json;

std::string text_of(const Map& map) {
  std::string out;
  write_map(out, map);
  return out;
}

// The args of `line` as the tree reader sees them, written back as text.
std::string through_tree(const std::string& line) {
  return text_of(decode_map(json::parse(line).at("args")));
}

TEST(EventCodec, LinesReadTheSameStraightAndThroughATree) {
  int lines = 0;
  for (std::uint64_t seed = 1; seed <= 300; ++seed) {
    testing::ValueGenerator generator(seed);
    const Event event{EventKind::update, seed, 0, Map{{"data", Value(generator.map(4))}}};
    std::string line;
    try {
      line = encode_event(event);
    } catch (const SerializationError&) {
      continue;  // a generated text with invalid UTF-8
    }
    ++lines;
    const std::string expected = through_tree(line);
    const json tree = json::parse(line);
    json reordered = json::object();
    reordered["args"] = tree["args"];
    reordered["node"] = tree["node"];
    reordered["event"] = tree["event"];
    const std::vector<std::string> layouts = {
        line,
        tree.dump(2),                            // white space and line breaks between tokens
        tree.dump(-1, ' ', true),                // every non-ASCII character as \u escapes
        reordered.dump(),                        // members in another order
    };
    for (const std::string& layout : layouts) {
      const Event back = decode_event(layout);
      ASSERT_EQ(back.kind, EventKind::update) << layout;
      ASSERT_EQ(back.node, seed);
      ASSERT_EQ(text_of(back.args), expected) << "seed " << seed << ": " << layout;
      const Operation operation = decode_operation(layout);
      ASSERT_EQ(operation.node, seed);
      ASSERT_EQ("{\"data\":" + text_of(operation.map) + "}", expected)
          << "seed " << seed << ": " << layout;
    }
    ASSERT_EQ(encode_event(decode_event(line)), line);
  }
  EXPECT_GT(lines, 80);
}

TEST(EventCodec, NumbersAndEscapesAtTheirEdges) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"n":-9223372036854775808,"m":9223372036854775807})",
       R"({"n":-9223372036854775808,"m":9223372036854775807})"},
      {R"({"big":18446744073709551616,"neg":-9223372036854775809})",
       R"({"big":1.8446744073709552e+19,"neg":-9.223372036854776e+18})"},
      {R"({"z":-0,"f":-0.0,"e":1E2,"t":5e-324})", R"({"z":0,"f":-0.0,"e":100.0,"t":5e-324})"},
      {R"({"s":"\ud83d\ude00\u00e9\/\b\f\n\r\t\u0000"})", "{\"s\":\"\xf0\x9f\x98\x80\xc3\xa9/\\b\\f\\n\\r\\t\\u0000\"}"},
      {R"({"k\u00e9y":{"$":"tuple","v":[],"extra":1}})", "{\"k\xc3\xa9y\":{\"$\":\"tuple\",\"v\":[]}}"},
      {R"({"d":{"offset":60,"v":[2024,1,2,3,4,5,6],"$":"datetime"}})",
       R"({"d":{"$":"datetime","v":[2024,1,2,3,4,5,6],"offset":60}})"},
      {R"({"dup":1,"dup":2})", R"({"dup":2})"},
  };
  for (const auto& [data, expected] : cases) {
    const std::string line = R"({"event":"update","node":0,"args":{"data":)" + data + "}}";
    EXPECT_EQ(text_of(decode_event(line).args.at("data").as_map()), expected) << data;
  }
}

// Each line is refused with a message holding its reason.
void expect_refused(const std::vector<std::pair<std::string, std::string>>& bad) {
  for (const auto& [line, reason] : bad) {
    try {
      decode_event(line);
      ADD_FAILURE() << "took " << line;
    } catch (const ProtocolError& e) {
      EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << line << ": " << e.what();
    }
  }
}

TEST(EventCodec, MalformedLinesAreRefusedWithTheirReason) {
  const std::vector<std::pair<std::string, std::string>> bad = {
      {R"({"event":"update","node":0,"args":{"data":{"x":1}})", "not JSON"},
      {R"({"event":"update","node":0,"args":{"data":{"x":"\ud800"}}})", "not JSON"},
      {"{\"event\":\"update\",\"node\":0,\"args\":{\"data\":{\"x\":\"\xc0\xaf\"}}}", "UTF-8"},
      {"{\"event\":\"update\",\"node\":0,\"args\":{\"data\":{\"x\":\"a\x01\"}}}", "not JSON"},
      {R"({"event":"update","node":0,"args":{"data":{"x":01}}})", "not JSON"},
      {R"({"event":"update","node":-1,"args":{"data":{}}})", "'node' must be a whole number"},
      {R"({"event":"update","node":0,"child":1,"args":{"data":{}}})", "unknown member 'child'"},
      {R"({"event":"add_task","node":0,"args":{"id":"t","seq_num":1}})", "missing 'child'"},
      {R"({"event":"update","node":0,"args":{"data":{"$":"tuple"}}})", "missing 'v'"},
      {R"({"event":"update","node":0,"args":{"data":{"x":9223372036854775808}}})", "64-bit"},
      {R"({"event":"update","node":0,"args":{"data":[]}})", "'data'"},
      {R"({"event":"update","node":0,"args":{"data":{}}} x)", "not JSON"},
      {R"({"event":"update","node":0,"args":{"data":{"h":1e400}}})", "out of range"},
  };
  expect_refused(bad);
}

TEST(EventCodec, ArgumentsOfTheWrongNameOrKindAreRefusedByTheFirstFault) {
  const std::string time = R"({"$":"datetime","v":[2024,1,2,3,4,5,6]})";
  const std::vector<std::pair<std::string, std::string>> bad = {
      // An unknown argument is named before a missing one.
      {R"({"event":"update","node":0,"args":{"extra":1}})", "unknown argument 'extra'"},
      {R"({"event":"update","node":0,"args":{"data":{},"extra":1,"more":2}})",
       "unknown argument 'extra'"},
      {R"({"event":"update","node":0,"args":{}})", "missing argument 'data'"},
      {R"({"event":"add_task","node":0,"child":1,"args":{"seq_num":1}})", "missing argument 'id'"},
      {R"({"event":"add_task","node":0,"child":1,"args":{"id":"t"}})",
       "missing argument 'seq_num'"},
      {R"({"event":"start","node":0,"args":{"time":)" + time + "}}", "missing argument 'options'"},
      {R"({"event":"start","node":0,"args":{"options":[]}})",
       "argument 'options' must be a map, got list"},
      {R"({"event":"update_extra","node":0,"args":{"data":{},"list_extend":1}})",
       "argument 'list_extend' must be a bool, got int"},
      {R"({"event":"update_extra","node":0,"args":{"list_extend":true}})",
       "missing argument 'data'"},
      {R"({"event":"stop","node":0,"args":{"options":{},"time":"noon"}})",
       "argument 'time' must be a date-time, got text"},
      {R"({"event":"stop","node":0,"args":{"file_sizes":{"a.log":"big"},"options":{}}})",
       "the size of 'a.log' must be an integer or none"},
      {R"({"event":"stop","node":0,"args":{"file_sizes":[],"options":{}}})",
       "argument 'file_sizes' must be a map, got list"},
      {R"({"event":"roll_up","node":0,"args":{"data":{}}})", "unknown argument 'data'"},
      {R"({"event":"add_detail","node":0,"args":{"time":)" + time + "}}",
       "unknown argument 'time'"},
  };
  expect_refused(bad);
  const Event stop = decode_event(
      R"({"event":"stop","node":3,"args":{"file_sizes":{"a":null,"b":7},"options":{},"time":)" +
      time + "}}");
  EXPECT_EQ(stop.args.at("file_sizes").as_map().at("b"), Value(7));
  EXPECT_TRUE(stop.args.at("time").is_datetime());
}

// Handles and date-time parts are read digit by digit; what that reader gives up on, the JSON
// path reads or refuses.
TEST(EventCodec, WholeNumbersAtTheirEdges) {
  const auto node_of = [](const std::string& n) {
    return decode_event(R"({"event":"roll_up","node":)" + n + R"(,"args":{}})").node;
  };
  EXPECT_EQ(node_of("0"), 0u);
  EXPECT_EQ(node_of("7"), 7u);
  EXPECT_EQ(node_of("999999999999999999"), 999999999999999999u);
  EXPECT_EQ(node_of("1000000000000000000"), 1000000000000000000u);
  EXPECT_EQ(node_of("9223372036854775807"), 9223372036854775807u);
  EXPECT_EQ(node_of("-0"), 0u);
  for (const std::string n : {"01", "1.0", "1e2", "-1", "", "x"})
    EXPECT_THROW(node_of(n), ProtocolError) << n;
  const auto time_of = [](const std::string& parts) {
    const std::string line =
        R"({"event":"update","node":0,"args":{"data":{"t":{"$":"datetime","v":[)" + parts +
        "]}}}}";
    return decode_event(line).args.at("data").as_map().at("t").as_datetime();
  };
  EXPECT_EQ(time_of("2024,1,2,3,4,5,999999"), DateTime(2024, 1, 2, 3, 4, 5, 999999));
  EXPECT_EQ(time_of("2024, 12 ,31,23,59,59,0"), DateTime(2024, 12, 31, 23, 59, 59, 0));
  for (const std::string parts : {"2024,01,2,3,4,5,6", "2024,1,2,3,4,5,6.5", "2024,1,2,3,4,5"})
    EXPECT_THROW(time_of(parts), ProtocolError) << parts;
}

// Keeps each event's line twice: written straight from the recording node's draft, and
// encoded from the event the draft makes.
class TwoWaySink : public EventSink {
 public:
  void send(const Event& event) override { from_events.push_back(encode_event(event)); }
  void send_draft(const EventDraft& draft) override {
    append_event(drafted, draft);
    drafted.push_back('\n');
    append_event(buffered, draft);
    buffered.push_back('\n');
    EventSink::send_draft(draft);
  }
  std::string drafted;
  LineBuffer buffered;
  std::vector<std::string> from_events;
};

TEST(EventCodec, DraftsWriteTheLinesOfTheirEvents) {
  morvi::testing::ScratchDir scratch;
  auto sink = std::make_shared<TwoWaySink>();
  {
    utils::ScopedClock clock(testing_jobs::ticking_clock());
    auto job = RecordingTrialKit::create(sink, Value("job"), Value(1), Value("Nightly"));
    testing_jobs::drive(*job, scratch.path());
    auto task = job->add_task(Value("t2"), Value(11));
    task->update(Value(Map{{"$", Value("a key that needs the tagged map")}}));
    task->update_extra(Map{{"when", Value(DateTime(2026, 3, 1, 9, 30, 0, 12, 60))}}, false);
    task->add_detail(Value::tuple({Value(1.5), Value(), Value(true)}));
    task->roll_up();
  }
  std::string expected;
  for (const std::string& line : sink->from_events) expected += line + '\n';
  EXPECT_EQ(sink->drafted, expected);
  EXPECT_EQ(sink->buffered.view(), expected);
  EXPECT_GT(sink->from_events.size(), 40u);

  // A value that cannot travel leaves the text as it was.
  const Value bad(std::string("\xff"));
  EventDraft draft{EventKind::add_detail, 3};
  draft.add("detail", bad);
  std::string text = "kept";
  EXPECT_THROW(append_event(text, draft), SerializationError);
  EXPECT_EQ(text, "kept");
  const std::size_t buffered = sink->buffered.size();
  EXPECT_THROW(append_event(sink->buffered, draft), SerializationError);
  EXPECT_EQ(sink->buffered.view(), expected.substr(0, buffered));

  // A line longer than the room a writer makes at first, after many lines: the line is whole
  // and what was there stays.
  const std::string before(300000, 'l');
  const Value detail(std::string(70000, 'd'));
  EventDraft long_one{EventKind::add_detail, 3};
  long_one.add("detail", detail);
  text = before;
  append_event(text, long_one);
  EXPECT_EQ(text, before + encode_event(long_one.event()));
  // The same into a buffer whose room is kept: emptied, it takes the lines again in place.
  LineBuffer lines;
  for (int round = 0; round < 2; ++round) {
    lines.clear();
    for (const std::string& line : sink->from_events) {
      append_event(lines, decode_event(line));
      lines.push_back('\n');
    }
    append_event(lines, long_one);
    EXPECT_EQ(lines.view(), expected + encode_event(long_one.event()));
  }
}

}  // namespace
}  // namespace morvi::service::protocol
