// The listener on GoogleTest's own samples as Debian ships them (built from /usr/src by this
// folder's CMakeLists), with a failing case added: the results document validates, holds the
// same suites, tests and outcomes as GoogleTest's own XML report of the same run (read with
// libxml2), and its JUnit file reads the same in junitparser.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "morvi/testing/scratch_dir.hpp"
#include "program_run.hpp"

namespace morvi::service::gtest_listener {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing::run_program;
using Json = nlohmann::json;

// Suite name -> test name -> "passed", "failed" or "skipped".
using Outcomes = std::map<std::string, std::map<std::string, std::string>>;

std::string attribute(xmlNodePtr node, const char* name) {
  xmlChar* value = xmlGetProp(node, BAD_CAST name);
  std::string text = value ? reinterpret_cast<const char*>(value) : "";
  xmlFree(value);
  return text;
}

bool named(xmlNodePtr node, const char* name) {
  return node->type == XML_ELEMENT_NODE && std::string(reinterpret_cast<const char*>(node->name)) == name;
}

// GoogleTest's own report: a test with a failure failed, one skipped or not run skipped.
Outcomes gtest_outcomes(const fs::path& xml) {
  Outcomes outcomes;
  xmlDocPtr doc = xmlReadFile(xml.c_str(), nullptr, XML_PARSE_NONET);
  if (!doc) {
    ADD_FAILURE() << "GoogleTest's XML cannot be read: " << xml;
    return outcomes;
  }
  for (xmlNodePtr suite = xmlDocGetRootElement(doc)->children; suite; suite = suite->next) {
    if (!named(suite, "testsuite")) continue;
    auto& tests = outcomes[attribute(suite, "name")];
    for (xmlNodePtr test = suite->children; test; test = test->next) {
      if (!named(test, "testcase")) continue;
      std::string outcome = attribute(test, "status") == "notrun" ? "skipped" : "passed";
      for (xmlNodePtr part = test->children; part; part = part->next) {
        if (named(part, "failure")) outcome = "failed";
        if (named(part, "skipped") && outcome != "failed") outcome = "skipped";
      }
      tests[attribute(test, "name")] = outcome;
    }
  }
  xmlFreeDoc(doc);
  return outcomes;
}

Outcomes report_outcomes(const Json& job) {
  Outcomes outcomes;
  for (const Json& task : job["tasks"]) {
    auto& tests = outcomes[task["id"].get<std::string>()];
    for (const Json& section : task["sections"]) {
      if (section["type"] != "Testcase") continue;
      tests[section["id"].get<std::string>()] = section["result"]["value"].get<std::string>();
    }
  }
  return outcomes;
}

// junitparser's reading of the JUnit file, as one line per testcase.
std::string junitparser_outcomes(const fs::path& junit, const fs::path& scratch) {
  const fs::path script = scratch / "read_junit.py";
  std::ofstream(script) << "import sys\n"
                           "from junitparser import JUnitXml, Failure, Error, Skipped\n"
                           "for suite in JUnitXml.fromfile(sys.argv[1]):\n"
                           "    cases = list(suite)\n"
                           "    assert len(cases) == suite.tests, (suite.name, suite.tests)\n"
                           "    for case in cases:\n"
                           "        kinds = {type(r) for r in case.result}\n"
                           "        outcome = ('failed' if Failure in kinds else 'errored' if Error in kinds\n"
                           "                   else 'skipped' if Skipped in kinds else 'passed')\n"
                           "        print(suite.name, case.name, outcome)\n";
  const fs::path printed = scratch / "junit_outcomes.txt";
  const std::string command = "/usr/bin/python3 '" + script.string() + "' '" + junit.string() +
                              "' > '" + printed.string() + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return morvi::testing::file_text(printed);
}

std::string as_lines(const Outcomes& outcomes) {
  std::ostringstream lines;
  for (const auto& [suite, tests] : outcomes) {
    for (const auto& [test, outcome] : tests) lines << suite << ' ' << test << ' ' << outcome << '\n';
  }
  return lines.str();
}

std::string sorted_lines(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  std::string joined;
  for (const std::string& line : lines) joined += line + '\n';
  return joined;
}

class Samples : public ::testing::Test {
 protected:
  // Runs `program` with both GoogleTest's XML report and the listener on.
  testing::ProgramRun run(const char* program) {
    return run_program(program, {"--gtest_output=xml:" + gtest_xml.string()},
                       {"MORVI_GTEST_OUTPUT=dir:" + out.string()}, scratch.path());
  }
  void expect_same_run() {
    const Json job = Json::parse(morvi::testing::file_text(out / "results.json"))["report"];
    const Outcomes expected = gtest_outcomes(gtest_xml);
    EXPECT_GE(expected.size(), 10u);  // the samples hold more than a dozen suites
    EXPECT_EQ(as_lines(report_outcomes(job)), as_lines(expected));
    EXPECT_EQ(sorted_lines(junitparser_outcomes(out / "junit.xml", scratch.path())),
              sorted_lines(as_lines(expected)));
    const auto validated = run_program(MORVI_EXE, {"validate", "results", (out / "results.json").string()},
                                       {}, scratch.path());
    EXPECT_EQ(validated.status, 0) << validated.out << validated.err;
  }

  morvi::testing::ScratchDir scratch;
  fs::path out = scratch / "report";
  fs::path gtest_xml = scratch / "gtest.xml";
};

TEST_F(Samples, AsShippedEveryTestPassesAndTheReportAgreesWithGoogleTest) {
  const auto ran = run(SAMPLES_EXE);
  EXPECT_EQ(ran.status, 0) << ran.out;
  EXPECT_EQ(ran.err, "");
  expect_same_run();
  const Json job = Json::parse(morvi::testing::file_text(out / "results.json"))["report"];
  EXPECT_EQ(job["result"]["value"], "passed");
}

TEST_F(Samples, WithTheFailingCaseTheReportAgreesWithGoogleTestAndNamesTheFailure) {
  const auto ran = run(FAILING_SAMPLES_EXE);
  EXPECT_EQ(ran.status, 1) << ran.out;
  EXPECT_EQ(ran.err, "");
  expect_same_run();
  const Json job = Json::parse(morvi::testing::file_text(out / "results.json"))["report"];
  EXPECT_EQ(job["result"]["value"], "failed");

  const Json* table = nullptr;
  for (const Json& task : job["tasks"]) {
    if (task["id"] == "FactorialTable") table = &task;
  }
  ASSERT_NE(table, nullptr);
  EXPECT_EQ((*table)["summary"]["failed"], 1);
  EXPECT_EQ((*table)["summary"]["skipped"], 1);
  const Json& failing = (*table)["sections"][0];
  EXPECT_EQ(failing["id"], "MatchesKnownValues");
  EXPECT_EQ(failing["result"]["value"], "failed");
  EXPECT_THAT(failing["result"]["reason"].get<std::string>(), HasSubstr("Which is: 24"));
  ASSERT_EQ(failing["details"].size(), 1u);
  EXPECT_THAT(failing["details"][0].get<std::string>(),
              ::testing::MatchesRegex(".*injected_cases\\.cpp:[0-9]+: (.|\n)*25(.|\n)*n = 4.*"));
  // The failure sits in the step of the scope it happened in.
  ASSERT_EQ(failing["sections"].size(), 1u);
  const Json& scope = failing["sections"][0];
  EXPECT_EQ(scope["id"], "n = 4");
  EXPECT_EQ(scope["result"]["value"], "failed");
  EXPECT_EQ(scope["sections"][0]["result"]["value"], "failed");
  EXPECT_EQ((*table)["sections"][1]["result"]["reason"], "left out on purpose");

  const std::string junit = morvi::testing::file_text(out / "junit.xml");
  EXPECT_THAT(junit, HasSubstr("<failure message=\"Expected equality"));
}

}  // namespace
}  // namespace morvi::service::gtest_listener
