// The JUnit export read back by independent readers: libxml2 against the junit-4 schema, and
// python3-junitparser, the reader CI tooling uses, whose counts must match the document's.
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xmlschemas.h>
#include <nlohmann/json.hpp>

#include "morvi/errors.hpp"
#include "morvi/service/junit/export.hpp"
#include "morvi/testing/files.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "sample_tree.hpp"

namespace {

using morvi::testing::file_text;
using morvi::service::junit::export_junit;
using morvi::service::junit::ExportOptions;
using json = nlohmann::ordered_json;

void write(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// libxml2's verdict on `file` against docs/schemas/junit-4.xsd: "" when it is valid.
std::string schema_errors(const std::filesystem::path& file) {
  const std::string xsd = (morvi::testing::source_dir() / "docs/schemas/junit-4.xsd").string();
  xmlSchemaParserCtxtPtr parser = xmlSchemaNewParserCtxt(xsd.c_str());
  xmlSchemaPtr schema = xmlSchemaParse(parser);
  xmlSchemaValidCtxtPtr context = xmlSchemaNewValidCtxt(schema);
  std::string errors;
  xmlSchemaSetValidStructuredErrors(
      context,
      [](void* sink, xmlError* error) {
        static_cast<std::string*>(sink)->append(error->message);
      },
      &errors);
  const int status = xmlSchemaValidateFile(context, file.c_str(), 0);
  if (status != 0 && errors.empty()) errors = "not valid (" + std::to_string(status) + ")";
  xmlSchemaFreeValidCtxt(context);
  xmlSchemaFree(schema);
  xmlSchemaFreeParserCtxt(parser);
  return errors;
}

// A results document in the package's own form, written by the package itself.
class JunitExport : public ::testing::Test {
 protected:
  morvi::testing::ScratchDir scratch;
  std::filesystem::path results = scratch.path() / "results.json";
  std::filesystem::path junit = scratch.path() / "junit.xml";

  void SetUp() override { write(results, morvi::examples::build_sample_job(scratch.path() / "logs")->dump_json()); }
};

TEST_F(JunitExport, ValidAgainstTheSchemaAndReadByJunitparserWithTheDocumentsCounts) {
  const auto counts = export_junit(results.string(), junit.string());
  EXPECT_EQ(schema_errors(junit), "");

  // Per task: the task's summary; per plugin one testcase. junitparser prints what it read.
  const json document = json::parse(file_text(results));
  std::string expected;
  for (const json& child : document["report"]["tasks"]) {
    if (child["type"] == "Plugin") {
      expected += child["fullid"].get<std::string>() + " 1\n";
      continue;
    }
    for (const json& section : child["sections"]) {
      if (section["type"] == "Plugin") expected += section["fullid"].get<std::string>() + " 1\n";
    }
    const json& summary = child["summary"];
    expected += child["fullid"].get<std::string>() + " " + std::to_string(summary["total"].get<int>()) +
                " failures=" + std::to_string(summary["failed"].get<int>()) + "\n";
  }
  const std::filesystem::path script = scratch.path() / "read.py";
  write(script,
        "import sys\n"
        "from junitparser import JUnitXml, Failure\n"
        "for suite in JUnitXml.fromfile(sys.argv[1]):\n"
        "    cases = list(suite)\n"
        "    assert len(cases) == suite.tests, (suite.name, len(cases), suite.tests)\n"
        "    failed = sum(1 for c in cases for r in c.result if isinstance(r, Failure))\n"
        "    assert failed == suite.failures\n"
        "    if suite.name.endswith('health_check') or suite.name == 'archiver':\n"
        "        print(suite.name, suite.tests)\n"
        "    else:\n"
        "        print(suite.name, suite.tests, 'failures=%d' % suite.failures)\n");
  const std::filesystem::path printed = scratch.path() / "printed.txt";
  const std::string command = "/usr/bin/python3 '" + script.string() + "' '" + junit.string() + "' > '" +
                              printed.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(file_text(printed), expected);
  EXPECT_EQ(counts.failures, 1u);
}

TEST_F(JunitExport, StepsFoldIntoTheTestcaseOutputAndTheFailureCarriesTheReason) {
  export_junit(results.string(), junit.string());
  xmlDocPtr doc = xmlReadFile(junit.c_str(), nullptr, XML_PARSE_NONET);
  ASSERT_NE(doc, nullptr);
  std::string failure_message;
  std::string log_of_ping;
  // Walk testsuites > testsuite > testcase.
  for (xmlNodePtr suite = xmlDocGetRootElement(doc)->children; suite; suite = suite->next) {
    for (xmlNodePtr tc = suite->children; tc; tc = tc->next) {
      if (tc->type != XML_ELEMENT_NODE || std::string(reinterpret_cast<const char*>(tc->name)) != "testcase") continue;
      xmlChar* name = xmlGetProp(tc, BAD_CAST "name");
      const std::string case_name = reinterpret_cast<const char*>(name);
      xmlFree(name);
      for (xmlNodePtr part = tc->children; part; part = part->next) {
        if (part->type != XML_ELEMENT_NODE) continue;
        const std::string element = reinterpret_cast<const char*>(part->name);
        xmlChar* content = xmlNodeGetContent(part);
        if (element == "failure") {
          xmlChar* message = xmlGetProp(part, BAD_CAST "message");
          failure_message = case_name + ": " + reinterpret_cast<const char*>(message);
          xmlFree(message);
        }
        if (element == "system-out" && case_name == "ping_neighbors") log_of_ping = reinterpret_cast<const char*>(content);
        xmlFree(content);
      }
    }
  }
  xmlFreeDoc(doc);
  EXPECT_EQ(failure_message, "interface_counters: CRC errors on Ethernet1/3");
  // Nested steps are indented under their section, each with its result.
  EXPECT_NE(log_of_ping.find("- ping: passed"), std::string::npos) << log_of_ping;
  EXPECT_NE(log_of_ping.find("  - ping_r1: passed"), std::string::npos) << log_of_ping;
  EXPECT_NE(log_of_ping.find("    - resolve_r1: passed"), std::string::npos) << log_of_ping;
}

// A hand-made job with one testcase whose texts hold what XML cannot carry.
std::string job_with_testcase(const json& testcase) {
  json task = {{"type", "Task"}, {"id", "t"}, {"fullid", "t"}, {"idlist", {"t"}}, {"name", "t"},
               {"sections", json::array({testcase})}};
  json report = {{"type", "TrialKit"}, {"id", "job"}, {"tasks", json::array({task})}};
  return json{{"version", "3.4"}, {"report", report}}.dump();
}

TEST_F(JunitExport, UnsafeTextIsEscapedVisiblyAndLongOutputIsCutOnACharacter) {
  json steps = json::array();
  for (int i = 0; i < 50; ++i) {
    steps.push_back({{"type", "Step"}, {"id", "s"}, {"name", "step \u00e9\u00e9\u00e9 " + std::to_string(i)},
                     {"result", {{"value", "passed"}}}});
  }
  const json testcase = {{"type", "Testcase"}, {"id", "tc"}, {"idlist", {"t", "tc"}}, {"name", "tc"},
                         {"result", {{"value", "errored"}, {"reason", "bell\a and \x7f"}}},
                         {"details", {"line\x01one"}}, {"sections", steps}};
  std::string text = job_with_testcase(testcase);
  write(results, text);
  ExportOptions options;
  options.max_output_bytes = 200;
  export_junit(results.string(), junit.string(), options);
  const std::string xml = file_text(junit);
  EXPECT_EQ(schema_errors(junit), "");
  EXPECT_NE(xml.find("message=\"bell\\x07 and \\x7f\""), std::string::npos) << xml;
  EXPECT_NE(xml.find("line\\x01one"), std::string::npos) << xml;
  const auto out_begin = xml.find("<system-out>") + 12;
  const std::string log = xml.substr(out_begin, xml.find("</system-out>") - out_begin);
  EXPECT_NE(log.find(" more bytes cut]"), std::string::npos);
  EXPECT_LT(log.size(), 260u);
}

// What /usr/bin/python3 prints running `script` with `args`; the test fails when it fails.
std::string python_output(const std::filesystem::path& folder, const std::string& script,
                          const std::string& args) {
  const std::filesystem::path file = folder / "script.py";
  const std::filesystem::path printed = folder / "printed.txt";
  write(file, script);
  const std::string command =
      "/usr/bin/python3 '" + file.string() + "' " + args + " > '" + printed.string() + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << script;
  return file_text(printed);
}

std::string attribute_of(xmlNodePtr node, const char* name) {
  xmlChar* value = xmlGetProp(node, BAD_CAST name);
  std::string text = value ? reinterpret_cast<const char*>(value) : "";
  xmlFree(value);
  return text;
}

// The first element named `name` at or below `node`, in document order.
xmlNodePtr find_element(xmlNodePtr node, const std::string& name) {
  for (; node; node = node->next) {
    if (node->type == XML_ELEMENT_NODE && name == reinterpret_cast<const char*>(node->name)) return node;
    if (xmlNodePtr found = find_element(node->children, name)) return found;
  }
  return nullptr;
}

// Runtimes far past any real job's (a broken clock) stay times a schema processor accepts:
// at most 18 digits, the longest a double holds below 1e15 seconds.
TEST_F(JunitExport, HugeRuntimesStayValidTimes) {
  const std::vector<double> runtimes = {1e14, 1e22, 1e70, 1.7976931348623157e308};
  json sections = json::array();
  for (std::size_t i = 0; i < runtimes.size(); ++i) {
    sections.push_back({{"type", "Testcase"}, {"id", "tc" + std::to_string(i)},
                        {"idlist", {"t", "tc"}}, {"runtime", runtimes[i]},
                        {"result", {{"value", "passed"}}}});
  }
  json task = {{"type", "Task"}, {"id", "t"}, {"fullid", "t"}, {"idlist", {"t"}}, {"name", "t"},
               {"runtime", runtimes.back()}, {"sections", sections}};
  json report = {{"type", "TrialKit"}, {"id", "job"}, {"tasks", json::array({task})}};
  write(results, json{{"version", "3.4"}, {"report", report}}.dump());
  export_junit(results.string(), junit.string());
  EXPECT_EQ(schema_errors(junit), "");
  const std::string printed = python_output(
      scratch.path(),
      "import sys, xml.etree.ElementTree as ET\n"
      "for e in ET.parse(sys.argv[1]).getroot().iter():\n"
      "    if 'time' in e.attrib: print(e.tag, e.attrib['time'])\n",
      "'" + junit.string() + "'");
  EXPECT_EQ(printed,
            "testsuite 999999999999999.875\n"
            "testcase 100000000000000.000\n"
            "testcase 999999999999999.875\n"
            "testcase 999999999999999.875\n"
            "testcase 999999999999999.875\n");
}

TEST_F(JunitExport, MultiLineReasonsAndDetailsReachReadersAsWritten) {
  const std::string reason = "expected 3 routes\n  got 2\r\n\tmissing 10.0.0.0/8 ";
  const std::string detail = "trace:\r\n  at step 2\rend";
  const json step = {{"type", "Step"}, {"id", "s"}, {"name", "check"},
                     {"result", {{"value", "failed"}, {"reason", "first\nsecond"}}}};
  const json testcase = {{"type", "Testcase"}, {"id", "tc"}, {"idlist", {"t", "tc"}}, {"name", "tc"},
                         {"result", {{"value", "failed"}, {"reason", reason}}},
                         {"details", {detail}}, {"sections", {step}}};
  write(results, job_with_testcase(testcase));
  export_junit(results.string(), junit.string());
  EXPECT_EQ(schema_errors(junit), "");

  xmlDocPtr doc = xmlReadFile(junit.c_str(), nullptr, XML_PARSE_NONET);
  ASSERT_NE(doc, nullptr);
  xmlNodePtr failure = find_element(xmlDocGetRootElement(doc), "failure");
  ASSERT_NE(failure, nullptr);
  EXPECT_EQ(attribute_of(failure, "message"), reason);
  xmlChar* content = xmlNodeGetContent(failure);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(content)), detail);
  xmlFree(content);
  content = xmlNodeGetContent(find_element(xmlDocGetRootElement(doc), "system-out"));
  // The reason's second line stays indented under its step.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(content)),
            "- check: failed (first\n    second) [0.000 s]\n");
  xmlFree(content);
  xmlFreeDoc(doc);

  const std::string read_back = python_output(
      scratch.path(),
      "import json, sys\n"
      "from junitparser import JUnitXml\n"
      "for suite in JUnitXml.fromfile(sys.argv[1]):\n"
      "    for case in suite:\n"
      "        print(json.dumps([[r.message, r.text] for r in case.result]))\n",
      "'" + junit.string() + "'");
  EXPECT_EQ(json::parse(read_back), json::array({json::array({reason, detail})}));
}

// junitparser over a whole export and over split ones of the same job: every split file is
// valid, holds at most N testcases (exactly N but the last), each suite part's counts are its
// own, a suite that spans files carries its testcases' time there, and joined by suite name the
// parts read as the whole file does.
TEST_F(JunitExport, SplitFilesAreEachWholeAndTogetherReadAsTheSingleFile) {
  const auto whole = export_junit(results.string(), junit.string());
  ASSERT_EQ(whole.files, std::vector<std::string>{junit.string()});
  const std::string script =
      "import json, sys\n"
      "from junitparser import JUnitXml, Failure, Error, Skipped\n"
      "def read(paths, limit):\n"
      "    joined = {}\n"
      "    per_file = []\n"
      "    names = [s.name for p in paths for s in JUnitXml.fromfile(p)]\n"
      "    for path in paths:\n"
      "        n = 0\n"
      "        for suite in JUnitXml.fromfile(path):\n"
      "            cases = list(suite)\n"
      "            kinds = [type(r) for c in cases for r in c.result]\n"
      "            assert suite.tests == len(cases), (path, suite.name)\n"
      "            assert suite.failures == kinds.count(Failure), (path, suite.name)\n"
      "            assert suite.errors == kinds.count(Error), (path, suite.name)\n"
      "            assert suite.skipped == kinds.count(Skipped), (path, suite.name)\n"
      "            if names.count(suite.name) > 1:\n"
      "                assert abs(suite.time - sum(c.time for c in cases)) < 0.001 * (len(cases) + 1)\n"
      "            j = joined.setdefault(suite.name, {'cases': [], 'tests': 0, 'failures': 0, 'errors': 0, 'skipped': 0})\n"
      "            j['cases'] += [c.classname + '/' + c.name for c in cases]\n"
      "            for key in ('tests', 'failures', 'errors', 'skipped'):\n"
      "                j[key] += getattr(suite, key)\n"
      "            n += len(cases)\n"
      "        per_file.append(n)\n"
      "    if limit:\n"
      "        assert all(n == limit for n in per_file[:-1]) and 0 < per_file[-1] <= limit, per_file\n"
      "    return joined\n"
      "limit = int(sys.argv[1])\n"
      "print(json.dumps(read(sys.argv[2:3], 0) == read(sys.argv[3:], limit)))\n";
  for (const std::size_t n : {1u, 2u, 3u, 7u, 100000u}) {
    SCOPED_TRACE("split " + std::to_string(n));
    ExportOptions options;
    options.split = n;
    std::filesystem::create_directories(scratch.path() / "parts");
    const auto split = export_junit(results.string(), (scratch.path() / "parts" / "junit.xml").string(), options);
    EXPECT_EQ(split.tests, whole.tests);
    EXPECT_EQ(split.failures, whole.failures);
    EXPECT_EQ(split.suites, whole.suites);
    ASSERT_EQ(split.files.size(), n >= whole.tests ? 1u : (whole.tests + n - 1) / n);
    std::string args = std::to_string(n) + " '" + junit.string() + "'";
    for (std::size_t i = 0; i < split.files.size(); ++i) {
      EXPECT_EQ(split.files[i], (scratch.path() / "parts" / ("junit-" + std::to_string(i + 1) + ".xml")).string());
      EXPECT_EQ(schema_errors(split.files[i]), "") << split.files[i];
      args += " '" + split.files[i] + "'";
    }
    EXPECT_EQ(python_output(scratch.path(), script, args), "true\n");
    std::filesystem::remove_all(scratch.path() / "parts");
  }
}

// Parts are named before the extension, or at the end of a name without one; the parts an
// earlier, longer export left past the last are removed up to the first gap; a failure late in
// the input leaves no file of the set and no temporary file.
TEST_F(JunitExport, SplitNamingLeftoversAndFailures) {
  const std::filesystem::path dir = scratch.path() / "out";
  std::filesystem::create_directories(dir);
  for (const char* old : {"junit-1", "junit-2", "junit-3", "junit-4", "junit-9", "other-5"}) {
    write(dir / old, "old");
  }
  ExportOptions options;
  options.split = 1000;
  const auto counts = export_junit(results.string(), (dir / "junit").string(), options);
  EXPECT_EQ(counts.files, std::vector<std::string>{(dir / "junit-1").string()});
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.insert(entry.path().filename());
  EXPECT_EQ(names, (std::set<std::string>{"junit-1", "junit-9", "other-5"}));
  EXPECT_NE(file_text(dir / "junit-1").find("<testsuites"), std::string::npos);

  json document = json::parse(file_text(results));
  json* last_case = nullptr;
  for (json& task : document["report"]["tasks"]) {
    if (task.contains("sections") && !task["sections"].empty()) last_case = &task["sections"].back();
  }
  ASSERT_NE(last_case, nullptr);
  (*last_case)["result"] = {{"value", "great"}};
  write(results, document.dump());
  options.split = 1;
  EXPECT_THROW(export_junit(results.string(), (dir / "junit.xml").string(), options), morvi::ParseError);
  names.clear();
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.insert(entry.path().filename());
  EXPECT_EQ(names, (std::set<std::string>{"junit-1", "junit-9", "other-5"}));
}

TEST_F(JunitExport, InputThatIsNoResultsDocumentNamesTheFileAndWritesNothing) {
  write(junit, "kept");
  struct Case {
    std::string text;
    std::string expected;
  };
  const json bad_result = {{"type", "Testcase"}, {"id", "tc"}, {"fullid", "t.tc"}, {"result", {{"value", "great"}}}};
  for (const Case& c : {Case{"{\"version\": \"3.4\", \"report\": {\"tasks\": [", "at byte"},
                        Case{"[1, 2]", "no \"report\" node"},
                        Case{json{{"version", "2.0"}, {"report", json::object()}}.dump(), "format version \"2.0\""},
                        Case{job_with_testcase(bad_result), "node 't.tc' (node 3 of the document): unknown result \"great\""}}) {
    write(results, c.text);
    try {
      export_junit(results.string(), junit.string());
      ADD_FAILURE() << "accepted " << c.text;
    } catch (const morvi::ParseError& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind(results.string() + ": ", 0), 0u) << message;
      EXPECT_NE(message.find(c.expected), std::string::npos) << message;
    }
    EXPECT_EQ(file_text(junit), "kept");
    EXPECT_FALSE(std::filesystem::exists(junit.string() + ".part"));
  }
}

}  // namespace
