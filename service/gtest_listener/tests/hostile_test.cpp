// The listener on a program whose texts and names are hostile (hostile_program.cpp): every test
// reaches the documents with its result, as Python's json, PyYAML and junitparser read them
// (raw_bytes_oracle.py) and libxml2 reads the XML reports. An event the journal cannot hold
// is left out of it alone, and an event the tree refuses costs that one step, not the run.
#include <libxml/parser.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "morvi/service/journal/journal.hpp"
#include "morvi/testing/files.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "program_run.hpp"

namespace morvi::service::gtest_listener {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using morvi::testing::file_text;
using testing::run_program;
using Json = nlohmann::json;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t begin = 0; begin < text.size();) {
    const std::size_t end = text.find('\n', begin);
    lines.push_back(text.substr(begin, end - begin));
    begin = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

class HostileRun : public ::testing::Test {
 protected:
  testing::ProgramRun run(std::vector<std::string> env = {}) {
    env.push_back("MORVI_GTEST_OUTPUT=dir:" + out.string());
    env.push_back("MORVI_GTEST_JOURNAL=" + journal.string());
    return run_program(HOSTILE_EXE, {}, env, scratch.path());
  }

  // Each case [suite, test, outcome, reason].
  Json oracle() { return testing::documents_oracle(RAW_BYTES_ORACLE, out, scratch.path()); }


  void expect_xml_reports_read() {
    for (const char* name : {"ResultsDetails.xml", "ResultsSummary.xml"}) {
      xmlDocPtr doc = xmlReadFile((out / name).c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_HUGE);
      EXPECT_NE(doc, nullptr) << name;
      xmlFreeDoc(doc);
    }
  }

  void expect_valid() {
    const auto validated = run_program(
        MORVI_EXE, {"validate", "results", (out / "results.json").string()}, {}, scratch.path());
    EXPECT_EQ(validated.status, 0) << validated.out << validated.err;
  }

  morvi::testing::ScratchDir scratch;
  fs::path out = scratch / "report";
  fs::path journal = scratch / "events.jsonl";
};

// The outcome of each case, [suite, test, outcome], from the oracle's [..., reason].
Json outcomes(const Json& cases) {
  Json found = Json::array();
  for (const Json& c : cases) found.push_back({c[0], c[1], c[2]});
  return found;
}

// [suite, test, outcome] of each testcase of a results document; "none" for one still running.
Json testcase_outcomes(const Json& job) {
  Json cases = Json::array();
  // A node still running has no result, and a task may have no sections: looked up with
  // value(), as a missing key read through operator[] is undefined.
  for (const Json& task : job["tasks"]) {
    for (const Json& s : task.value("sections", Json::array())) {
      if (s["type"] != "Testcase") continue;
      const Json result = s.value("result", Json());
      cases.push_back({task["id"], s["id"], result.is_object() ? result["value"] : Json("none")});
    }
  }
  return cases;
}

// Every test of the program in the order it runs, with the outcome GoogleTest gave it.
const Json kOutcomes = Json::parse(R"([
  ["Hostile", "PassesFirst", "passed"],
  ["Hostile", "FailsWithControlBytes", "failed"],
  ["Hostile", "RecordsControlProperties", "passed"],
  ["Hostile", "FailsWithALargeMessage", "failed"],
  ["Hostile", "RecordsAHugeProperty", "passed"],
  ["Hostile", "PassesBetween", "passed"],
  ["Hostile", "RepeatsAScope", "failed"],
  ["Hostile", "failure_1", "failed"],
  ["Clock", "LeavesANaiveClock", "passed"],
  ["Clock", "FailsOnIt", "failed"],
  ["Clock", "PutsItBack", "passed"],
  ["SetUpFailsToo", "common_setup", "skipped"],
  ["Twice", "same", "passed"],
  ["Twice", "same", "passed"],
  ["Ctl\u0001Suite", "\u0002\u0003", "passed"],
  ["Last", "PassesLast", "passed"]])");

TEST_F(HostileRun, ControlBytesRepeatedNamesAndLargeTextsReachEveryDocument) {
  const auto ran = run();
  EXPECT_EQ(ran.status, 1) << ran.out;
  EXPECT_EQ(ran.err, "");
  const Json read = oracle();
  const Json& cases = read["json_cases"];
  EXPECT_EQ(outcomes(cases), kOutcomes);
  EXPECT_EQ(read["yaml_cases"], cases);
  EXPECT_THAT(cases[1][3].get<std::string>(),
              HasSubstr("ctl \u0001\u0002\u001b[31m red \u007f del\rcr\ttab\n end"));
  EXPECT_EQ(cases[3][3], "Failed\n" + std::string(1 << 18, 'm'));
  // XML carries no control characters: the JUnit report writes them in its own notation, and
  // takes the suite's common setup for one more case.
  Json junit = kOutcomes;
  junit[14] = Json::parse(R"(["Ctl\\x01Suite", "\\x02\\x03", "passed"])");
  junit.insert(junit.begin() + 11, Json::parse(R"(["SetUpFailsToo", "common_setup", "failed"])"));
  EXPECT_EQ(outcomes(read["junit_cases"]), junit);

  const Json& tasks = read["report"]["tasks"];
  const auto task = [&](const std::string& id) {
    const auto it =
        std::find_if(tasks.begin(), tasks.end(), [&](const Json& t) { return t["id"] == id; });
    return it == tasks.end() ? Json() : *it;
  };
  const Json hostile = task("Hostile");
  const auto section = [&](const std::string& id) {
    for (const Json& s : hostile["sections"]) {
      if (s["id"] == id) return s;
    }
    return Json();
  };
  EXPECT_EQ(section("RecordsControlProperties")["extra"]["properties"],
            Json({{"k\u0001ey", "v\u001f\u007f"}}));
  // Two scopes of one message are two steps; a scope named like a step holds the step.
  std::vector<std::string> scopes;
  const Json repeated = section("RepeatsAScope");
  for (const Json& s : repeated["sections"]) scopes.push_back(s["id"]);
  EXPECT_EQ(scopes, (std::vector<std::string>{"same scope", "same scope"}));
  const Json named = section("failure_1")["sections"];
  ASSERT_EQ(named.size(), 1u);
  EXPECT_EQ(named[0]["sections"][0]["id"], "failure_1");
  EXPECT_EQ(named[0]["sections"][0]["result"]["value"], "failed");
  std::vector<std::string> set_up;
  const Json set_up_task = task("SetUpFailsToo");
  for (const Json& s : set_up_task["sections"]) set_up.push_back(s["type"]);
  EXPECT_EQ(set_up, (std::vector<std::string>{"CommonSetup", "Testcase"}));

  expect_xml_reports_read();
  expect_valid();
  const journal::Replay replayed = journal::replay(journal.string());
  ASSERT_TRUE(replayed.builder.trialkit());
  EXPECT_EQ(replayed.builder.trialkit()->dump_json(), file_text(out / "results.json"));
}

// A stop longer than a journal line may be is left out of the journal with one line; the file
// is fine, so every later test is still journalled and the journal reads back.
TEST_F(HostileRun, AnEventTooLongForTheJournalLeavesOutThatEventOnly) {
  const auto ran = run({"MORVI_HOSTILE_HUGE=1"});
  EXPECT_EQ(ran.status, 1) << ran.out;
  const std::vector<std::string> said = lines_of(ran.err);
  ASSERT_EQ(said.size(), 1u) << ran.err;
  EXPECT_THAT(said[0], MatchesRegex("morvi gtest listener: the journal leaves out the event "
                                    "'stop' on node [0-9]+: an event line of [0-9]+ bytes, .*"));
  // Read by nlohmann's parser: Python's are slow on a property this long.
  const Json job = Json::parse(file_text(out / "results.json"))["report"];
  EXPECT_EQ(testcase_outcomes(job), kOutcomes);
  EXPECT_EQ(job["tasks"][0]["sections"][4]["extra"]["properties"]["blob"].get<std::string>().size(),
            std::size_t{65} << 20);

  const journal::Replay replayed = journal::replay(journal.string());
  ASSERT_TRUE(replayed.builder.trialkit());
  EXPECT_TRUE(replayed.warnings.empty());
  // The huge test's stop is the one event missing: it alone is still running.
  EXPECT_EQ(replayed.builder.running(), 1u);
  Json journalled = kOutcomes;
  journalled[4][2] = "none";
  EXPECT_EQ(testcase_outcomes(Json::parse(replayed.builder.trialkit()->dump_json())["report"]),
            journalled);
}

// A test leaves the clock the listener reads swapped: the tree refuses that test's stop, and
// the next test's. Each refusal is one line; the other tests keep their results, and the two
// whose ends were lost are closed as errored in the documents.
TEST_F(HostileRun, AStepTheTreeRefusesCostsThatTestOnly) {
  const auto ran = run({"MORVI_HOSTILE_CLOCK=1"});
  EXPECT_EQ(ran.status, 1) << ran.out;
  const std::vector<std::string> said = lines_of(ran.err);
  ASSERT_EQ(said.size(), 2u) << ran.err;
  const char* tests[] = {"LeavesANaiveClock", "PutsItBack"};
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_THAT(said[i],
                MatchesRegex(std::string("morvi gtest listener: ending a test \\(Clock\\.") +
                             tests[i] + "\\): event 'stop' on node [0-9]+ refused: .*UTC offset.*"
                             "; the report goes on without it"));
  }
  Json expected = kOutcomes;
  expected[8][2] = "errored";
  expected[10][2] = "errored";
  const Json read = oracle();
  EXPECT_EQ(outcomes(read["json_cases"]), expected);
  EXPECT_EQ(read["yaml_cases"], read["json_cases"]);
  EXPECT_EQ(read["json_cases"][8][3], "the listener could not record its end");
  expect_xml_reports_read();
  expect_valid();

  // The journal holds what the tree took: both tests are open in it, nothing else.
  const journal::Replay replayed = journal::replay(journal.string());
  ASSERT_TRUE(replayed.builder.trialkit());
  EXPECT_EQ(replayed.builder.running(), 2u);
}

}  // namespace
}  // namespace morvi::service::gtest_listener
