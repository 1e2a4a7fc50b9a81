// Encoded events against the published schema of one event line, checked by Python's
// jsonschema: every line the encoder writes is accepted, and lines of a wrong shape are not.
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "morvi/results.hpp"
#include "morvi/service/protocol/recording.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "recorded_job.hpp"

namespace morvi::service::protocol {
namespace {

class LineSink : public EventSink {
 public:
  void send(const Event& event) override { lines.push_back(encode_event(event)); }
  std::vector<std::string> lines;
};

std::vector<std::string> schema_verdicts(const std::vector<std::string>& lines,
                                         const std::filesystem::path& dir) {
  const auto input = dir / "events.jsonl", output = dir / "verdicts.txt";
  {
    std::ofstream out(input);
    for (const std::string& line : lines) out << line << '\n';
  }
  const auto source = morvi::testing::source_dir();
  const std::string command =
      "python3 '" + (source / "service/protocol/tests/validate_events.py").string() + "' '" +
      (source / "docs/schemas/event.schema.json").string() + "' '" + input.string() + "' > '" +
      output.string() + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream in(output);
  std::vector<std::string> verdicts;
  for (std::string line; std::getline(in, line);) verdicts.push_back(line);
  return verdicts;
}

TEST(EventSchema, AcceptsEveryEncodedEventAndRefusesWrongShapes) {
  morvi::testing::ScratchDir scratch;
  auto sink = std::make_shared<LineSink>();
  {
    utils::ScopedClock clock(testing_jobs::ticking_clock());
    auto job = RecordingTrialKit::create(sink, Value("job"), Value(1), Value("Job"));
    testing_jobs::drive(*job, scratch.path());
    results::ResultCounter tally;
    tally.set_count("failed", 2);
    job->update(Map{{"every_kind",
                     Value::list({Value(), Value(std::numeric_limits<double>::infinity()),
                                  Value::tuple({Value(1)}), Value::attr_map(Map{{"$", Value(1)}}),
                                  Value(DateTime(2024, 1, 2)), Value(tally),
                                  Value::error("KeyError", {Value("k")}),
                                  Value(results::TestResult(results::ResultCode::errored, "r"))})}});
  }
  const std::size_t good = sink->lines.size();
  std::vector<std::string> lines = sink->lines;
  lines.push_back(R"({"event":"explode","node":0,"args":{}})");
  lines.push_back(R"({"event":"add_task","node":0,"args":{"id":"t","seq_num":1}})");
  lines.push_back(R"({"event":"update","node":-1,"args":{"data":{}}})");
  lines.push_back(R"({"event":"update","node":1,"args":{"data":{"x":{"$":"float","v":"big"}}}})");
  lines.push_back(R"({"event":"roll_up","node":1,"args":{"x":1}})");
  const std::vector<std::string> verdicts = schema_verdicts(lines, scratch.path());
  ASSERT_EQ(verdicts.size(), lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i < good)
      EXPECT_EQ(verdicts[i], "ok") << lines[i];
    else
      EXPECT_NE(verdicts[i], "ok") << lines[i];
  }
  // The decoder refuses the same wrong shapes.
  for (std::size_t i = good; i < lines.size(); ++i)
    EXPECT_THROW(decode_event(lines[i]), ProtocolError) << lines[i];
}

}  // namespace
}  // namespace morvi::service::protocol
