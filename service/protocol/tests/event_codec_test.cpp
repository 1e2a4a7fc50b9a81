// Event lines read straight from their text against the same lines read through a JSON tree,
// for generated values and for the same lines as other writers may lay them out.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "morvi/service/protocol/event.hpp"
#include "morvi/service/protocol/value_codec.hpp"
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
  for (const auto& [line, reason] : bad) {
    try {
      decode_event(line);
      ADD_FAILURE() << "took " << line;
    } catch (const ProtocolError& e) {
      EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << line << ": " << e.what();
    }
  }
}

}  // namespace
}  // namespace morvi::service::protocol
