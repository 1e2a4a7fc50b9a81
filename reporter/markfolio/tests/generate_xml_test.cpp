// The driver: both files, their schemas, the summary layout, the fallback file and the
// nesting limit.
#include <gtest/gtest.h>

#include <filesystem>
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

  const std::string details = test::read_file(dir / "ResultsDetails.xml");
  EXPECT_EQ(details.rfind("<?xml version=\"1.0\"?>\n<trialKit>\n  <initInfo>\n", 0), 0u);
  // Escaped on the way in, written as character data on the way out.
  EXPECT_NE(details.find("<description>first\\x0bcase</description>"), std::string::npos);
  EXPECT_NE(details.find("<diag>connected &lt;ok&gt; &amp; \"fine\"</diag>"),
            std::string::npos);
  EXPECT_NE(details.find("\n            <testStep id=\"s1a\" name=\"s1a\">\n"), std::string::npos);
}

TEST_F(GenerateXmlTest, SummaryChildrenComeInTheirFixedOrder) {
  auto job = sample_job();
  MarkFolio(dir.str() + "/", *job).generate_xml(Value(), Value());
  const std::string summary = test::read_file(dir / "ResultsSummary.xml");
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
  const std::string summary = test::read_file(dir / "ResultsSummary.xml");
  EXPECT_NE(summary.find("<jobSummary archiveFilename=\"\" oxaTreePath=\"\">"), std::string::npos);
  EXPECT_NE(summary.find("  <debugProfile>0</debugProfile>\n  <host/>\n</jobSummary>\n"),
            std::string::npos);
  EXPECT_EQ(test::schema_errors(dir / "ResultsSummary.xml", "ResultsSummary.xsd"), "");
  EXPECT_EQ(test::schema_errors(dir / "ResultsDetails.xml", "ResultsDetails.xsd").substr(0, 500), "");
}

// Text copied unescaped (here a step description with a vertical tab) cannot be parsed back:
// the raw bytes are kept, the error reaches the caller, and earlier reports stay untouched.
TEST_F(GenerateXmlTest, UnparseableDetailsGoToTheRoughFileAndTheErrorIsRaised) {
  auto job = sample_job();
  MarkFolio folio(dir.str(), *job);
  folio.generate_xml(Value(), Value());
  const std::string previous = test::read_file(dir / "ResultsDetails.xml");
  fs::remove(dir / "ResultsSummary.xml");

  auto child = [](const trialkit::ReportObjectBase& node, std::size_t i) -> auto& {
    return trialkit::node_of(node.children().at(i));
  };
  auto& step = child(child(child(child(*job, 0), 1), 0), 0);
  step.update(Map{{"description", "broken\vtext"}});
  EXPECT_THROW(folio.generate_xml(Value(), Value()), ParseError);

  const std::string rough =
      zorbel::xml::to_bytes(folio.zorbel.generate_dom());
  EXPECT_EQ(test::read_file(dir / "xml_rough_string"), rough);
  EXPECT_NE(rough.find("broken\vtext"), std::string::npos);
  EXPECT_EQ(test::read_file(dir / "ResultsDetails.xml"), previous);
  EXPECT_FALSE(fs::exists(dir / "ResultsSummary.xml"));
}

TEST_F(GenerateXmlTest, InvalidUtf8InAnUnescapedNameTakesTheFallbackPath) {
  auto job = trialkit::TrialKit::create("job3", 1);
  job->start();
  job->add_task("t\xff", 1)->start();
  MarkFolio folio(dir.str(), *job);
  EXPECT_THROW(folio.generate_xml(Value(), Value()), ParseError);
  EXPECT_TRUE(fs::exists(dir / "xml_rough_string"));
  EXPECT_FALSE(fs::exists(dir / "ResultsDetails.xml"));
}

// Found by fuzzing: a NUL byte in a text copied unescaped cannot be held by the element tree,
// so the job is refused while mapping and no file at all is written.
TEST_F(GenerateXmlTest, NulInAnUnescapedIdIsRefusedBeforeAnyFile) {
  auto job = trialkit::TrialKit::create("job4", 1);
  job->start();
  job->add_task(std::string("t\0", 2), 1)->start();
  MarkFolio folio(dir.str(), *job);
  EXPECT_THROW(folio.generate_xml(Value(), Value()), ArgumentError);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.str()), fs::directory_iterator()), 0);
}

TEST_F(GenerateXmlTest, UnwritableDetailsPathKeepsTheRoughBytesAndRaises) {
  auto job = sample_job();
  fs::create_directory(dir / "ResultsDetails.xml");
  MarkFolio folio(dir.str(), *job);
  EXPECT_THROW(folio.generate_xml(Value(), Value()), std::system_error);
  EXPECT_EQ(test::read_file(dir / "xml_rough_string"),
            zorbel::xml::to_bytes(folio.zorbel.generate_dom()));
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
  const std::string details = test::read_file(dir / "ResultsDetails.xml");
  const std::string deepest_item = "\n" + std::string(2 * (zorbel::xml::kMaxDepth - 1), ' ') +
                                   "<item key=\"note\" type=\"text\">x</item>\n";
  EXPECT_NE(details.find(deepest_item), std::string::npos);

  fs::remove(dir / "ResultsDetails.xml");
  fs::remove(dir / "ResultsSummary.xml");
  step->add_section("too deep", 1, "Step")->update_extra(Map{{"note", "x"}});
  EXPECT_THROW(MarkFolio(dir.str(), *job).generate_xml(Value(), Value()), ArgumentError);
  EXPECT_TRUE(fs::is_empty(dir.str()));
}

}  // namespace
}  // namespace morvi::reporter::markfolio
