// The listener on a program whose texts hold bytes that are not UTF-8 (raw_bytes_program.cpp),
// run under a file name and a user name that hold one too: every test reaches the documents
// with its result, each bad byte (or bad sequence as far as it went) as U+FFFD and every other
// character as it was, and the journal holds every event. The documents are read back by
// Python's json, PyYAML and junitparser (raw_bytes_oracle.py), the XML reports by libxml2.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "morvi/service/journal/journal.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "program_run.hpp"

namespace morvi::service::gtest_listener {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using testing::run_program;
using Json = nlohmann::json;

const Json& find(const Json& list, const std::string& id) {
  for (const Json& node : list) {
    if (node["id"] == id) return node;
  }
  static const Json missing;
  ADD_FAILURE() << "no node '" << id << "'";
  return missing;
}

// The attribute values and texts (but white space alone) of an XML document, each followed by
// a line feed; empty when libxml2 does not read it as well-formed.
std::string xml_texts(const fs::path& file) {
  xmlDocPtr doc = xmlReadFile(file.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_HUGE);
  if (!doc) {
    ADD_FAILURE() << "libxml2 cannot read " << file;
    return {};
  }
  std::string texts;
  std::vector<xmlNodePtr> open{xmlDocGetRootElement(doc)};
  while (!open.empty()) {
    xmlNodePtr node = open.back();
    open.pop_back();
    for (xmlAttrPtr attribute = node->properties; attribute; attribute = attribute->next) {
      xmlChar* value = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(attribute));
      texts += reinterpret_cast<const char*>(value);
      texts += '\n';
      xmlFree(value);
    }
    for (xmlNodePtr child = node->children; child; child = child->next) {
      if (child->type == XML_ELEMENT_NODE) open.push_back(child);
      if (child->type != XML_TEXT_NODE) continue;
      const std::string text = reinterpret_cast<const char*>(child->content);
      if (text.find_first_not_of(" \n") != std::string::npos) texts += text + '\n';
    }
  }
  xmlFreeDoc(doc);
  return texts;
}

class RawBytesRun : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_symlink(RAW_BYTES_EXE, program);
    ran = run_program(program.string(), {},
                      {"MORVI_GTEST_OUTPUT=dir:" + out.string(),
                       "MORVI_GTEST_JOURNAL=" + journal.string(), "USER=me\xff"},
                      scratch.path());
  }

  // Each case [suite, test, outcome, reason].
  Json oracle() { return testing::documents_oracle(RAW_BYTES_ORACLE, out, scratch.path()); }

  morvi::testing::ScratchDir scratch;
  fs::path program = scratch / "raw\xfe_probe";
  fs::path out = scratch / "report";
  fs::path journal = scratch / "events.jsonl";
  testing::ProgramRun ran;
};

TEST_F(RawBytesRun, EveryTestReachesTheDocumentsWithTheBadBytesReplaced) {
  EXPECT_EQ(ran.status, 1) << ran.out;
  EXPECT_EQ(ran.err, "");
  const Json read = oracle();
  const Json expected_cases = Json::parse(R"([
    ["Bytes", "FailsWithBinaryMessage", "failed"],
    ["Bytes", "PassesAfterIt", "passed"],
    ["Bytes", "FailsInABinaryScope", "failed"],
    ["Bytes", "KeepsValidTextAndControls", "failed"],
    ["Bytes", "SkipsInBinary", "skipped"],
    ["Bytes", "RecordsABinaryProperty", "passed"],
    ["Bytes", "FailsAtABinaryFile", "failed"],
    ["Named\uFFFD", "test\uFFFD\uFFFD", "passed"],
    ["Raw/Blobs", "AreNotEmpty/0", "passed"]])");
  for (const char* document : {"json_cases", "yaml_cases", "junit_cases"}) {
    Json outcomes = Json::array();
    for (const Json& c : read[document]) outcomes.push_back({c[0], c[1], c[2]});
    EXPECT_EQ(outcomes, expected_cases) << document;
  }
  const Json& cases = read["json_cases"];
  EXPECT_THAT(cases[0][3].get<std::string>(), HasSubstr("got \uFFFD\uFFFD after"));
  EXPECT_THAT(cases[3][3].get<std::string>(), HasSubstr("caf\xc3\xa9 \xf0\x9f\x98\x80 bell\x07"));
  EXPECT_EQ(cases[4][3], "no \uFFFD\uFFFD here");
  EXPECT_EQ(read["yaml_cases"], cases);
  EXPECT_THAT(read["junit_cases"][0][3].get<std::string>(), HasSubstr("got \uFFFD\uFFFD after"));

  const Json& job = read["report"];
  EXPECT_EQ(job["id"], "raw\uFFFD_probe");
  EXPECT_EQ(job["user"], "me\uFFFD");
  const Json& bytes = find(job["tasks"], "Bytes");
  const Json& scoped = find(bytes["sections"], "FailsInABinaryScope");
  ASSERT_EQ(scoped["sections"].size(), 1u);
  const Json& scope = scoped["sections"][0];
  EXPECT_EQ(scope["id"], "scope \uFFFD end");
  EXPECT_EQ(scope["description"], "SCOPED_TRACE(\"scope \uFFFD end\")");
  EXPECT_EQ(find(scope["sections"], "failure_1")["result"]["value"], "failed");
  EXPECT_EQ(find(bytes["sections"], "RecordsABinaryProperty")["extra"]["properties"],
            Json({{"key\uFFFD", "value\uFFFD"}}));
  const Json& placed = find(bytes["sections"], "FailsAtABinaryFile");
  EXPECT_EQ(find(placed["sections"], "failure_1")["xref"], Json({{"file", "odd\uFFFD.cc"}, {"line", 7}}));
  EXPECT_THAT(placed["details"][0].get<std::string>(), StartsWith("odd\uFFFD.cc:7: "));
  const Json& blob = find(find(job["tasks"], "Raw/Blobs")["sections"], "AreNotEmpty/0");
  EXPECT_EQ(blob["parameters"]["value_param"], "\uFFFD\uFFFD\uFFFD");

  const auto validated = run_program(MORVI_EXE, {"validate", "results", (out / "results.json").string()},
                                     {}, scratch.path());
  EXPECT_EQ(validated.status, 0) << validated.out << validated.err;
}

// The bad bytes were replaced before the XML writers saw them, which escape the control
// character by their own notation, once.
TEST_F(RawBytesRun, TheXmlReportsHoldTheReplacedTextsAndTheirOwnEscapes) {
  const std::string details = xml_texts(out / "ResultsDetails.xml");
  for (const char* text : {"Named\uFFFD", "test\uFFFD\uFFFD", "scope \uFFFD end", "caf\xc3\xa9 \xf0\x9f\x98\x80 bell\\x07",
                           "AreNotEmpty/0"})
    EXPECT_THAT(details, HasSubstr(text));
  EXPECT_THAT(details, Not(HasSubstr("\\xff")));
  EXPECT_THAT(details, Not(HasSubstr("\\\\x07")));
  EXPECT_THAT(xml_texts(out / "ResultsSummary.xml"), HasSubstr("raw\uFFFD_probe"));
}

TEST_F(RawBytesRun, TheJournalHoldsEveryEventAfterTheBadOnes) {
  const journal::Replay replayed = journal::replay(journal.string());
  ASSERT_TRUE(replayed.builder.trialkit());
  EXPECT_TRUE(replayed.warnings.empty());
  EXPECT_EQ(replayed.builder.running(), 0u);
  EXPECT_EQ(replayed.builder.trialkit()->dump_json(), morvi::testing::file_text(out / "results.json"));
}

}  // namespace
}  // namespace morvi::service::gtest_listener
