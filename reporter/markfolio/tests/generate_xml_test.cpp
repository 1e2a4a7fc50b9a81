// The driver: both files, their schemas, the summary layout, the fallback file and the
// nesting limit.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>
#include <string>
#include <system_error>

#include "morvi/errors.hpp"
#include "morvi/reporter/markfolio.hpp"
#include "morvi/zorbel/xml.hpp"
#include "support.hpp"

namespace morvi::reporter::markfolio {
namespace {

namespace fs = std::filesystem;

// A small job: one task with a common setup, a testcase with a section and nested steps.
std::shared_ptr<trialkit::TrialKit> sample_job(bool with_host = true) {
  auto job = trialkit::TrialKit::create("job1", 1);
  trialkit::Options start{{"name", "nightly"}, {"archivefile", "/arch/job1.zip"},
                {"morvipath", "/opt/morvi"}, {"image", "img-1"}, {"testbed", "tb1"},
                {"lumo", Map{{"dnsname", "dev1"}, {"attributes", List{1, "a"}}}}};
  if (with_host) start.set("host", "host-1");
  job->start(std::move(start));
  auto task = job->add_task("t1", 1);
  task->start({{"testscript", "/ws/basic.py"}, {"logfile", "/logs/t1.log"}});
  auto setup = task->add_section("common_setup", 1, "CommonSetup");
  setup->start({{"description", "prepare"}});
  auto sub = setup->add_section("connect", 1, "SubSection");
  sub->start();
  sub->add_detail("connected <ok> & \"fine\"");
  sub->stop({{"result", results::Passed}});
  setup->stop();
  auto tc = task->add_section("tc1", 2, "TestCase");
  tc->start({{"description", "first\vcase"}, {"xref", Map{{"file", "basic.py"}, {"line", 10}}}});
  auto section = tc->add_section("test", 1, "TestSection");
  section->start();
  auto step = section->add_section("s1", 1, "Step");
  step->start({{"nested", Map{{"deep", List{1, Map{{"k", Value::tuple({2.5, Value()})}}}}}}});
  step->update_extra(Map{{"index", 1}});
  step->add_section("s1a", 1, "Step")->stop();
  step->stop({{"result", results::Failed}});
  section->stop();
  tc->stop();
  task->stop();
  job->stop({{"num_tasks", 1}});
  return job;
}

class GenerateXmlTest : public ::testing::Test {
 protected:
  test::TickingClock clock;
  test::TempDir dir;
};

TEST_F(GenerateXmlTest, WritesBothFilesValidAgainstTheirSchemas) {
  auto job = sample_job();
  MarkFolio folio(dir.str(), *job);
  folio.generate_xml(Value(), Value(Map{}));
  EXPECT_EQ(test::schema_errors(dir / "ResultsDetails.xml", "ResultsDetails.xsd").substr(0, 500), "");
  EXPECT_EQ(test::schema_errors(dir / "ResultsSummary.xml", "ResultsSummary.xsd"), "");
  EXPECT_FALSE(fs::exists(dir / "xml_rough_string"));
  // Nothing but the two files is left in the folder: no temporary files.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.str()), fs::directory_iterator()), 2);

  const std::string details = morvi::testing::file_text(dir / "ResultsDetails.xml");
  EXPECT_EQ(details.rfind("<?xml version=\"1.0\"?>\n<trialKit formatVersion=\"1.0\">\n  <initInfo>\n", 0), 0u);
  // Escaped on the way in, written as character data on the way out.
  EXPECT_NE(details.find("<description>first\\x0bcase</description>"), std::string::npos);
  EXPECT_NE(details.find("<diag>connected &lt;ok&gt; &amp; \"fine\"</diag>"),
            std::string::npos);
  EXPECT_NE(details.find("\n            <testStep id=\"s1a\" name=\"s1a\">\n"), std::string::npos);
}

TEST_F(GenerateXmlTest, SummaryChildrenComeInTheirFixedOrder) {
  auto job = sample_job();
  MarkFolio(dir.str() + "/", *job).generate_xml(Value(), Value());
  const std::string summary = morvi::testing::file_text(dir / "ResultsSummary.xml");
  const std::string expected_head =
      "<?xml version=\"1.0\"?>\n"
      "<jobSummary archiveFilename=\"/arch/job1.zip\" oxaTreePath=\"/opt/morvi\">\n"
      "  <jobName>nightly</jobName>\n"
      "  <image>img-1</image>\n"
      "  <summary total=\"2\" successRate=\"50.0\">\n";
  EXPECT_EQ(summary.substr(0, expected_head.size()), expected_head);
  const std::string expected_tail =
      "  <runTime>13</runTime>\n"
      "  <testbed>tb1</testbed>\n"
      "  <release/>\n"
      "  <submitter/>\n"
      "  <user/>\n"
      "  <debugProfile>0</debugProfile>\n"
      "  <host>host-1</host>\n"
      "</jobSummary>\n";
  ASSERT_GE(summary.size(), expected_tail.size());
  EXPECT_EQ(summary.substr(summary.size() - expected_tail.size()), expected_tail);
}

TEST_F(GenerateXmlTest, JobWithoutHostsOrArchiveGetsEmptyHostAndAttributes) {
  auto job = trialkit::TrialKit::create("job2", 1);
  job->start();
  job->stop();
  MarkFolio(dir.str(), *job).generate_xml(Value(), Value());
  const std::string summary = morvi::testing::file_text(dir / "ResultsSummary.xml");
  EXPECT_NE(summary.find("<jobSummary archiveFilename=\"\" oxaTreePath=\"\">"), std::string::npos);
  EXPECT_NE(summary.find("  <debugProfile>0</debugProfile>\n  <host/>\n</jobSummary>\n"),
            std::string::npos);
  EXPECT_EQ(test::schema_errors(dir / "ResultsSummary.xml", "ResultsSummary.xsd"), "");
  EXPECT_EQ(test::schema_errors(dir / "ResultsDetails.xml", "ResultsDetails.xsd").substr(0, 500), "");
}

// Every character data and attribute value of a parsed document, in document order.
std::string all_texts(const fs::path& file) {
  std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(
      xmlReadFile(file.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR), xmlFreeDoc);
  if (!doc) return "(unparseable)";
  std::string texts;
  std::vector<const xmlNode*> pending{xmlDocGetRootElement(doc.get())};
  while (!pending.empty()) {
    const xmlNode* node = pending.back();
    pending.pop_back();
    if (node->type == XML_TEXT_NODE) texts += reinterpret_cast<const char*>(node->content);
    for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
      xmlChar* value = xmlNodeGetContent(reinterpret_cast<const xmlNode*>(a));
      texts += reinterpret_cast<const char*>(value);
      texts += '|';
      xmlFree(value);
    }
    for (const xmlNode* c = node->last; c != nullptr; c = c->prev) pending.push_back(c);
  }
  return texts;
}

// A text XML cannot carry, put into fields the mapping copies without escaping.
struct BadTextCase {
  const char* where;
  std::function<std::shared_ptr<trialkit::TrialKit>(const std::string& bad)> job;
};
void PrintTo(const BadTextCase& c, std::ostream* os) { *os << c.where; }

class BadTextTest : public ::testing::TestWithParam<BadTextCase> {
 protected:
  test::TickingClock clock;
  test::TempDir dir;
};

// A job whose one step starts with `step_fields`.
std::shared_ptr<trialkit::TrialKit> job_with_step(const Map& step_fields,
                                                  const std::string& step_id = "s1") {
  auto job = trialkit::TrialKit::create("job1", 1);
  job->start();
  auto task = job->add_task("t1", 1);
  task->start();
  auto section = task->add_section("tc1", 1, "TestCase")->add_section("test", 1, "TestSection");
  section->add_section(step_id, 1, "Step")->start(step_fields);
  return job;
}

// No value loses the details report: whatever a field holds, both documents parse and carry
// the character in its visible notation, and nothing goes to the fallback file.
TEST_P(BadTextTest, DetailsParseAndShowTheCharacterInItsNotation) {
  using namespace std::string_literals;
  const std::pair<std::string, std::string> bad_texts[] = {
      {"a\vb", "a\\x0bb"}, {"a\0b"s, "a\\x00b"}, {"a\xff" "b", "a\\xffb"},
      {"a\xed\xa0\x80" "b", "a\\ud800b"}, {"a\xef\xbf\xbe" "b", "a\\ufffeb"}};
  for (const auto& [bad, shown] : bad_texts) {
    SCOPED_TRACE(shown);
    for (const char* name : {"ResultsDetails.xml", "ResultsSummary.xml"}) fs::remove(dir / name);
    auto job = GetParam().job(bad);
    MarkFolio(dir.str(), *job).generate_xml(Value(), Value());
    EXPECT_FALSE(fs::exists(dir / "xml_rough_string"));
    EXPECT_NE(all_texts(dir / "ResultsDetails.xml").find(shown), std::string::npos)
        << morvi::testing::file_text(dir / "ResultsDetails.xml");
    EXPECT_NE(all_texts(dir / "ResultsSummary.xml"), "(unparseable)");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, BadTextTest,
    ::testing::Values(
        BadTextCase{"step_description",
                    [](const std::string& bad) { return job_with_step(Map{{"description", bad}}); }},
        BadTextCase{"step_id", [](const std::string& bad) { return job_with_step(Map{}, bad); }},
        BadTextCase{"section_names",
                    [](const std::string& bad) {
                      auto job = trialkit::TrialKit::create("job1", 1);
                      job->start();
                      auto task = job->add_task("t1", 1);
                      task->start();
                      task->add_section("tc1", 1, "TestCase")->start({{"name", bad}});
                      auto setup = task->add_section("setup", 2, "CommonSetup");
                      setup->add_section("sub", 1, "SubSection")->start({{"name", bad}});
                      return job;
                    }},
        BadTextCase{"step_log_path",
                    [](const std::string& bad) {
                      return job_with_step(Map{{"logs", Map{{"file", bad}, {"begin", 0}}}});
                    }},
        BadTextCase{"step_xref_file",
                    [](const std::string& bad) {
                      return job_with_step(Map{{"xref", Map{{"file", bad}, {"line", 1}}}});
                    }},
        BadTextCase{"result_text",
                    [](const std::string& bad) { return job_with_step(Map{{"result", bad}}); }},
        BadTextCase{"task_log_path",
                    [](const std::string& bad) {
                      auto job = trialkit::TrialKit::create("job1", 1);
                      job->start();
                      job->add_task("t1", 1)->start({{"logfile", "/logs/" + bad}});
                      return job;
                    }},
        BadTextCase{"job_fields",
                    [](const std::string& bad) {
                      auto job = trialkit::TrialKit::create(bad, 1);
                      job->start({{"name", bad}, {"submitter", bad}, {"host", bad},
                                  {"archivefile", bad}, {"testbed", bad}});
                      return job;
                    }},
        BadTextCase{"lumo_values",
                    [](const std::string& bad) {
                      auto job = trialkit::TrialKit::create("job1", 1);
                      job->start({{"lumo", Map{{"dnsname", bad},
                                               {"attributes", List{bad}},
                                               {"error", bad}}}});
                      return job;
                    }}),
    [](const auto& info) { return std::string(info.param.where); });

TEST_F(GenerateXmlTest, UnwritableDetailsPathKeepsTheRoughBytesAndRaises) {
  auto job = sample_job();
  fs::create_directory(dir / "ResultsDetails.xml");
  MarkFolio folio(dir.str(), *job);
  EXPECT_THROW(folio.generate_xml(Value(), Value()), std::system_error);
  EXPECT_EQ(morvi::testing::file_text(dir / "xml_rough_string"),
            zorbel::xml::to_bytes(folio.zorbel.generate_dom()).view());
  EXPECT_FALSE(fs::exists(dir / "ResultsSummary.xml"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.str()), fs::directory_iterator()), 2);
}

TEST_F(GenerateXmlTest, MissingFolderReportsTheFallbackFailure) {
  auto job = sample_job();
  MarkFolio folio(dir.str() + "/missing", *job);
  try {
    folio.generate_xml(Value(), Value());
    FAIL() << "writing into a missing folder must fail";
  } catch (const std::system_error& e) {
    EXPECT_NE(std::string(e.what()).find("xml_rough_string"), std::string::npos) << e.what();
  }
}

// Past 256 levels, or with a text over 10 MB, a report needs libxml2's huge option to be read:
// refused without it, read with the options the documentation gives.
TEST_F(GenerateXmlTest, DeepOrLargeReportsAreReadWithTheHugeOption) {
  auto read = [](const fs::path& file, int options) {
    xmlDoc* doc = xmlReadFile(file.c_str(), nullptr, options | XML_PARSE_NOERROR);
    const bool read = doc != nullptr;
    xmlFreeDoc(doc);
    return read;
  };
  auto deep = trialkit::TrialKit::create("deep", 1);
  auto step = deep->add_task("t", 1)->add_section("tc", 1, "TestCase")->add_section("s", 1)->add_section(
      "step", 1, "Step");
  for (int level = 1; level < 260; ++level) step = step->add_section("step", 1, "Step");
  MarkFolio(dir.str(), *deep).generate_xml(Value(), Value());
  EXPECT_FALSE(read(dir / "ResultsDetails.xml", XML_PARSE_NONET));
  EXPECT_TRUE(read(dir / "ResultsDetails.xml", XML_PARSE_NONET | XML_PARSE_HUGE));

  auto large = trialkit::TrialKit::create("large", 1);
  large->add_task("t", 1)->start({{"description", std::string(10'000'001, 'x')}});
  MarkFolio(dir.str(), *large).generate_xml(Value(), Value());
  EXPECT_FALSE(read(dir / "ResultsDetails.xml", XML_PARSE_NONET));
  EXPECT_TRUE(read(dir / "ResultsDetails.xml", XML_PARSE_NONET | XML_PARSE_HUGE));
}

// Steps nest as deep as the element tree allows; one level more is refused before any file
// is written.
TEST_F(GenerateXmlTest, StepNestingLimit) {
  // The first step of a testcase section sits at level 6 and its extra items two levels down.
  constexpr int kDeepestSteps = zorbel::xml::kMaxDepth - 7;
  auto job = trialkit::TrialKit::create("deep", 1);
  auto section = job->add_task("t", 1)->add_section("tc", 1, "TestCase")->add_section("s", 1);
  std::shared_ptr<trialkit::Section> step = section->add_section("step", 1, "Step");
  for (int level = 1; level < kDeepestSteps; ++level) step = step->add_section("step", 1, "Step");
  step->update_extra(Map{{"note", "x"}});

  MarkFolio(dir.str(), *job).generate_xml(Value(), Value());
  EXPECT_TRUE(test::schema_errors(dir / "ResultsDetails.xml", "ResultsDetails.xsd").empty());
  const std::string details = morvi::testing::file_text(dir / "ResultsDetails.xml");
  const std::string deepest_item = "\n" + std::string(2 * (zorbel::xml::kMaxDepth - 1), ' ') +
                                   "<item key=\"note\" type=\"text\">x</item>\n";
  EXPECT_NE(details.find(deepest_item), std::string::npos);

  fs::remove(dir / "ResultsDetails.xml");
  fs::remove(dir / "ResultsSummary.xml");
  step->add_section("too deep", 1, "Step")->update_extra(Map{{"note", "x"}});
  EXPECT_THROW(MarkFolio(dir.str(), *job).generate_xml(Value(), Value()), ArgumentError);
  EXPECT_TRUE(fs::is_empty(dir.str()));
  // Where the files cannot be written either, the nesting error still comes first.
  EXPECT_THROW(MarkFolio(dir.str() + "/missing", *job).generate_xml(Value(), Value()),
               ArgumentError);
}

}  // namespace
}  // namespace morvi::reporter::markfolio
