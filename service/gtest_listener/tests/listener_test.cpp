// The listener on a program of its own: the tree it writes (read back with nlohmann's parser),
// the journal it keeps (replayed), and how it takes bad settings and crashes.
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "../src/failure_text.hpp"
#include "morvi/service/gtest_listener/listener.hpp"
#include "morvi/service/journal/journal.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "program_run.hpp"

namespace morvi::service::gtest_listener {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing::run_program;
using Json = nlohmann::json;

// --- failure messages --------------------------------------------------------------------

struct SplitCase {
  const char* name;
  std::string summary;
  std::string message;
  std::vector<TraceScope> scopes;

  friend void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }
};

class SplitFailure : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitFailure, FindsTheMessageAndTheScopesOutermostFirst) {
  const FailureText text = split_failure(GetParam().summary);
  EXPECT_EQ(text.message, GetParam().message);
  EXPECT_EQ(text.scopes, GetParam().scopes);
}

INSTANTIATE_TEST_SUITE_P(
    Summaries, SplitFailure,
    ::testing::Values(
        SplitCase{"NoTrace", "Value of: x\n  Actual: false", "Value of: x\n  Actual: false", {}},
        SplitCase{"TwoScopes",
                  "boom\nGoogle Test trace:\na.cc:7: inner\nb.cc:3: outer",
                  "boom",
                  {{"b.cc", 3, "outer"}, {"a.cc", 7, "inner"}}},
        SplitCase{"ScopeOverLines", "boom\nGoogle Test trace:\na.cc:7: two\nlines",
                  "boom", {{"a.cc", 7, "two\nlines"}}},
        SplitCase{"ColonInFileName", "boom\nGoogle Test trace:\nC:/src/a.cc:12: n = 3",
                  "boom", {{"C:/src/a.cc", 12, "n = 3"}}},
        SplitCase{"EmptyScopeMessage", "boom\nGoogle Test trace:\na.cc:1: ", "boom",
                  {{"a.cc", 1, ""}}},
        SplitCase{"LastMarkerCounts",
                  "says \nGoogle Test trace: itself\nGoogle Test trace:\na.cc:2: s",
                  "says \nGoogle Test trace: itself", {{"a.cc", 2, "s"}}},
        SplitCase{"NoPlaceAfterMarker", "boom\nGoogle Test trace:\nnot a place", "boom\nnot a place",
                  {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParseOutput, TakesADirAndRefusesEverythingElseNamingTheSource) {
  EXPECT_EQ(parse_output("dir:/tmp/x y", "V"), fs::path("/tmp/x y"));
  EXPECT_EQ(parse_output("dir:rel:ative", "V"), fs::path("rel:ative"));
  for (const char* bad : {"xml:/a", "dir:", "/a", "DIR:/a", ""}) {
    try {
      parse_output(bad, "MORVI_GTEST_OUTPUT");
      ADD_FAILURE() << "accepted " << bad;
    } catch (const ArgumentError& e) {
      EXPECT_THAT(e.what(), StartsWith("MORVI_GTEST_OUTPUT: expected \"dir:PATH\""));
    }
  }
}

// --- a whole run ----------------------------------------------------------------------------

const Json& child(const Json& node, const std::string& id) {
  const Json& list = node.contains("tasks") ? node["tasks"] : node["sections"];
  for (const Json& c : list) {
    if (c["id"] == id) return c;
  }
  static const Json missing;
  ADD_FAILURE() << "no child '" << id << "' under '" << node["id"] << "'";
  return missing;
}

std::vector<std::string> child_ids(const Json& node) {
  std::vector<std::string> ids;
  const Json& list = node.contains("tasks") ? node["tasks"] : node["sections"];
  for (const Json& c : list) ids.push_back(c["id"].get<std::string>());
  return ids;
}

std::string result_of(const Json& node) {
  return node.contains("result") && node["result"].is_object()
             ? node["result"]["value"].get<std::string>()
             : "none";
}

std::string reason_of(const Json& node) {
  return node["result"].value("reason", std::string());
}

class ProbeRun : public ::testing::Test {
 protected:
  testing::ProgramRun run(std::vector<std::string> arguments, std::vector<std::string> env) {
    return run_program(PROBE_EXE, arguments, env, scratch.path());
  }
  testing::ProgramRun run_reported(std::vector<std::string> arguments = {}) {
    return run(std::move(arguments), {"MORVI_GTEST_OUTPUT=dir:" + out.string(),
                                      "MORVI_GTEST_JOURNAL=" + journal.string()});
  }
  Json results() const { return Json::parse(morvi::testing::file_text(out / "results.json"))["report"]; }

  morvi::testing::ScratchDir scratch;
  fs::path out = scratch / "report";
  fs::path journal = scratch / "events.jsonl";
};

TEST_F(ProbeRun, EachSuiteIsATaskAndEachTestATestcaseWithItsOutcome) {
  const auto reported = run_reported();
  EXPECT_EQ(reported.status, 1) << reported.err;
  EXPECT_EQ(reported.err, "");
  const Json job = results();
  EXPECT_EQ(job["id"], "listener_probe");
  EXPECT_EQ(job["job_type"], "gtest");
  EXPECT_EQ(result_of(job), "failed");
  // GoogleTest registers parameterised suites last.
  EXPECT_EQ(child_ids(job), (std::vector<std::string>{"Arithmetic", "Skipping", "SetUpFails",
                                                      "Crash", "Small/Doubling"}));
  EXPECT_EQ(job["totaltasks"], 5);

  const Json& arithmetic = child(job, "Arithmetic");
  EXPECT_THAT(arithmetic["testscript"].get<std::string>(), HasSubstr("probe_program.cpp"));
  EXPECT_EQ(child_ids(arithmetic), (std::vector<std::string>{"Adds", "FailsInScopes",
                                                             "StopsAtFatal", "DISABLED_NeverRuns"}));
  EXPECT_EQ(arithmetic["summary"]["passed"], 1);
  EXPECT_EQ(arithmetic["summary"]["failed"], 2);
  EXPECT_EQ(arithmetic["summary"]["skipped"], 1);
  EXPECT_EQ(result_of(child(arithmetic, "Adds")), "passed");
  EXPECT_EQ(child(arithmetic, "Adds")["type"], "Testcase");
  const Json& disabled = child(arithmetic, "DISABLED_NeverRuns");
  EXPECT_EQ(result_of(disabled), "skipped");
  EXPECT_EQ(reason_of(disabled), "disabled");

  // The failures nest in the scopes that were open when they happened.
  const Json& scoped = child(arithmetic, "FailsInScopes");
  EXPECT_EQ(result_of(scoped), "failed");
  EXPECT_THAT(reason_of(scoped), HasSubstr("inner note"));
  EXPECT_EQ(child_ids(scoped), std::vector<std::string>{"outer scope"});
  const Json& outer = child(scoped, "outer scope");
  EXPECT_EQ(outer["type"], "Step");
  EXPECT_EQ(result_of(outer), "failed");
  EXPECT_EQ(child_ids(outer), (std::vector<std::string>{"inner scope", "failure_2"}));
  const Json& first = child(child(outer, "inner scope"), "failure_1");
  EXPECT_EQ(result_of(first), "failed");
  EXPECT_THAT(reason_of(first), HasSubstr("inner note"));
  EXPECT_THAT(reason_of(first), ::testing::Not(HasSubstr("Google Test trace")));
  EXPECT_THAT(first["xref"]["file"].get<std::string>(), HasSubstr("probe_program.cpp"));
  EXPECT_GT(first["xref"]["line"].get<int>(), 0);
  EXPECT_EQ(first["extra"]["fatal"], false);
  EXPECT_THAT(reason_of(child(outer, "failure_2")), HasSubstr("after the inner scope"));
  ASSERT_EQ(scoped["details"].size(), 2u);
  EXPECT_THAT(scoped["details"][0].get<std::string>(),
              ::testing::MatchesRegex(".*probe_program\\.cpp:[0-9]+: .*inner note.*"));

  const Json& fatal = child(arithmetic, "StopsAtFatal");
  EXPECT_EQ(child_ids(fatal), std::vector<std::string>{"failure_1"});
  EXPECT_EQ(child(fatal, "failure_1")["extra"]["fatal"], true);

  const Json& skipping = child(job, "Skipping");
  EXPECT_EQ(result_of(child(skipping, "SkipsWithReason")), "skipped");
  EXPECT_EQ(reason_of(child(skipping, "SkipsWithReason")), "not on this machine");
  EXPECT_EQ(child(skipping, "RecordsProperty")["extra"]["properties"]["build"], "nightly");

  // A suite's failing set-up is its common setup; GoogleTest then skips its tests.
  const Json& set_up = child(job, "SetUpFails");
  const Json& common = child(set_up, "common_setup");
  EXPECT_EQ(common["type"], "CommonSetup");
  EXPECT_EQ(result_of(common), "failed");
  EXPECT_THAT(reason_of(child(common, "failure_1")), HasSubstr("no fixture today"));
  EXPECT_EQ(result_of(child(set_up, "NeedsFixture")), "skipped");

  const Json& param = child(child(job, "Small/Doubling"), "IsEven/1");
  EXPECT_EQ(param["parameters"]["value_param"], "2");

  for (const char* name : {"results.yaml", "ResultsDetails.xml", "ResultsSummary.xml", "junit.xml"})
    EXPECT_TRUE(fs::is_regular_file(out / name)) << name;
  const auto validated = run_program(MORVI_EXE, {"validate", "results", (out / "results.json").string()},
                                     {}, scratch.path());
  EXPECT_EQ(validated.status, 0) << validated.out << validated.err;
}

TEST_F(ProbeRun, TheJournalReplaysToTheSameResultsDocument) {
  run_reported();
  const journal::Replay replayed = journal::replay(journal.string());
  ASSERT_TRUE(replayed.builder.trialkit());
  EXPECT_TRUE(replayed.warnings.empty());
  EXPECT_EQ(replayed.builder.running(), 0u);
  EXPECT_EQ(replayed.builder.trialkit()->dump_json(), morvi::testing::file_text(out / "results.json"));
}

TEST_F(ProbeRun, TheProgramsExitStatusIsItsOwn) {
  EXPECT_EQ(run_reported({"--gtest_filter=Arithmetic.Adds"}).status, 0);
  EXPECT_EQ(result_of(results()), "passed");
  EXPECT_EQ(run_reported({"--gtest_filter=Arithmetic.StopsAtFatal"}).status, 1);
  EXPECT_EQ(result_of(results()), "failed");
}

TEST_F(ProbeRun, AFolderThatCannotBeMadeIsSaidOnceAndTheTestsRunOn) {
  std::ofstream(scratch / "a file") << "x";
  const auto reported = run({"--gtest_filter=Arithmetic.Adds"},
                            {"MORVI_GTEST_OUTPUT=dir:" + (scratch / "a file" / "report").string()});
  EXPECT_EQ(reported.status, 0);
  EXPECT_THAT(reported.err, StartsWith("morvi gtest listener: cannot make the folder "));
  EXPECT_THAT(reported.err, HasSubstr("a file/report"));
  EXPECT_EQ(std::count(reported.err.begin(), reported.err.end(), '\n'), 1);
  EXPECT_THAT(reported.out, HasSubstr("[  PASSED  ] 1 test"));
}

TEST_F(ProbeRun, AMalformedSettingIsSaidAndNothingIsWritten) {
  const auto reported = run({"--gtest_filter=Arithmetic.Adds"},
                            {"MORVI_GTEST_OUTPUT=xml:" + out.string()});
  EXPECT_EQ(reported.status, 0);
  EXPECT_THAT(reported.err, HasSubstr("MORVI_GTEST_OUTPUT: expected \"dir:PATH\", got \"xml:"));
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(ProbeRun, TheFlagsWinOverTheEnvironmentAndAreNotSeenByTheTests) {
  const fs::path flagged = scratch / "flagged";
  const auto reported = run({"--gtest_filter=Arithmetic.Adds", "--morvi_output=dir:" + flagged.string()},
                            {"MORVI_GTEST_OUTPUT=dir:" + out.string()});
  EXPECT_EQ(reported.status, 0) << reported.err;
  EXPECT_TRUE(fs::is_regular_file(flagged / "results.json"));
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(ProbeRun, AJournalThatIsNoFileIsRefusedAndTheDocumentsStillWritten) {
  fs::create_directories(journal);
  const auto reported = run_reported({"--gtest_filter=Arithmetic.Adds"});
  EXPECT_EQ(reported.status, 0);
  EXPECT_THAT(reported.err, HasSubstr("is not a regular file; no journal is written"));
  EXPECT_TRUE(fs::is_directory(journal));
  EXPECT_TRUE(fs::is_regular_file(out / "results.json"));
}

TEST_F(ProbeRun, ACrashLeavesAJournalNamingTheTestThatWasRunning) {
  std::ofstream(journal) << "left from an earlier run\n";
  const auto crashed = run({"--gtest_filter=Arithmetic.Adds:Crash.*"},
                           {"MORVI_GTEST_OUTPUT=dir:" + out.string(),
                            "MORVI_GTEST_JOURNAL=" + journal.string(), "MORVI_PROBE_CRASH=1"});
  EXPECT_EQ(crashed.status, 128 + SIGABRT);
  EXPECT_FALSE(fs::exists(out / "results.json"));
  journal::Replay replayed = journal::replay(journal.string());
  ASSERT_TRUE(replayed.builder.trialkit());
  EXPECT_EQ(replayed.builder.running(), 3u);  // the job, the suite and the test
  replayed.builder.close_running("crashed");
  const Json job = Json::parse(replayed.builder.trialkit()->dump_json())["report"];
  EXPECT_EQ(result_of(child(child(job, "Arithmetic"), "Adds")), "passed");
  const Json& crash = child(child(job, "Crash"), "AbortsWhenAsked");
  EXPECT_EQ(result_of(crash), "errored");
  EXPECT_EQ(reason_of(crash), "crashed");
}

}  // namespace
}  // namespace morvi::service::gtest_listener
