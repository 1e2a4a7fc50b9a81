// Members of the legacy model and their rendering.
#include <gtest/gtest.h>

#include <string>

#include "morvi/errors.hpp"
#include "morvi/zorbel/zorbel_top.hpp"

namespace morvi::zorbel {
namespace {

std::string rendered(const Zorbel& z) { return xml::to_bytes(z.generate_dom()).str(); }

std::string piece(void (*build)(const xml::Element&)) {
  xml::Document doc("root");
  build(doc.root());
  return xml::to_bytes(doc).str();
}

TEST(Summary, UpdateMergesTalliesAndMapsAndIgnoresNone) {
  Summary summary;
  results::ResultCounter tally;
  tally.set_count("passed", 3);
  tally.set_count("failed", 1);
  summary.update(Value(tally));
  summary.update(Value(Map{{"failed", Value(2)}, {"custom", Value(1)}}));
  const results::ResultCounter before = summary.counts();
  summary.update(Value());
  EXPECT_EQ(summary.counts(), before);
  EXPECT_EQ(summary.counts().count("passed"), 3);
  EXPECT_EQ(summary.counts().count("failed"), 2);
  EXPECT_EQ(summary.counts().count("custom"), 1);
  EXPECT_THROW(summary.update(Value("passed")), TypeError);
  EXPECT_THROW(summary.update(Value(Map{{"passed", Value("many")}})), TypeError);

  static Summary shown;
  shown.update(Value(Map{{"passed", Value(1)}, {"failed", Value(1)}}));
  const std::string xml = piece([](const xml::Element& root) {
    shown.generate_resultsonly_dom(root);
  });
  EXPECT_NE(xml.find("<summary total=\"2\" successRate=\"50.0\"><result name=\"passed\" "
                     "count=\"1\"/><result name=\"passx\" count=\"0\"/>"),
            std::string::npos)
      << xml;
}

TEST(Render, FreeFormDataKeepsKindsKeysAndNesting) {
  Zorbel z;
  z.trialkit = std::make_unique<TrialKit>();
  TestStep& step = z.trialkit->jobexecution
                       .add_testscript(std::make_unique<TestScript>(Value(), Value()), "t")
                       .add_testsection({.sectionid = "s"})
                       .add_teststep({.id = "a", .name = "b"});
  step.index = 3;
  step.extra.set("m", Map{{"l", Value::list({1, Value::tuple({true, Value()})})},
                          {"when", DateTime(2024, 1, 2, 3, 4, 5, 6)}});
  const std::string xml = rendered(z);
  EXPECT_NE(xml.find("<index type=\"int\">3</index>"), std::string::npos);
  EXPECT_NE(xml.find("<extra><item key=\"m\" type=\"map\"><item key=\"l\" type=\"list\">"
                     "<item type=\"int\">1</item><item type=\"tuple\"><item type=\"bool\">True"
                     "</item><item type=\"none\"/></item></item><item key=\"when\" "
                     "type=\"datetime\">2024-01-02T03:04:05.000006</item></item></extra>"),
            std::string::npos)
      << xml;
}

TEST(TrialKit, SimpleElementsAndTheirNames) {
  static TrialKit kit;
  kit.starttime = DateTime(2024, 1, 2, 3, 4, 5, 0, 60);
  kit.runtime = 7;
  kit.initinfo.testbed = "tb";
  const std::string xml = piece([](const xml::Element& root) {
    for (const char* m : {"archivefile", "starttime", "stoptime", "runtime"}) {
      kit.generate_simple_elt_dom(root, m);
    }
    kit.initinfo.generate_simple_elt_dom(root, "testbed");
  });
  EXPECT_NE(xml.find("<root><archiveFilename/><startTime>2024-01-02T03:04:05+01:00</startTime>"
                     "<stopTime/><runTime>7</runTime><testbed>tb</testbed></root>"),
            std::string::npos)
      << xml;
  xml::Document doc("root");
  EXPECT_THROW(kit.generate_simple_elt_dom(doc.root(), "summary"), LookupError);
  EXPECT_THROW(kit.initinfo.generate_simple_elt_dom(doc.root(), "hosts"), LookupError);
}

TEST(Zorbel, RendersOnlyWithATrialkit) {
  Zorbel z;
  EXPECT_THROW(z.generate_dom(), ArgumentError);
  z.trialkit = std::make_unique<TrialKit>();
  z.trialkit->lumo.set_args({.dnsname = Value("dev")});
  z.trialkit->lumo.set_args({.post = Map{{"status", Value(0)}}});
  const std::string xml = rendered(z);
  EXPECT_NE(xml.find("<lumo><dnsname type=\"text\">dev</dnsname><post><item key=\"status\" "
                     "type=\"int\">0</item></post></lumo><jobExecution>"),
            std::string::npos)
      << xml;
}

// The details written straight to text are the bytes of the element tree, for a model where
// every kind of member is set: items before the ones written as attributes, tallies and
// nested data, steps inside steps.
TEST(Zorbel, WritesTheTreesBytesWithoutTheTree) {
  Zorbel z;
  z.trialkit = std::make_unique<TrialKit>();
  TrialKit& kit = *z.trialkit;
  kit.initinfo.name = "job";
  kit.initinfo.hosts.append("h1");
  kit.runinfo.set_args({.diag = "a <diag> & more"});
  kit.lumo.set_args({.dnsname = Value("dev"), .attributes = Value(List{1, "a"}),
                     .post = Map{{"status", Value(0)}}});
  results::ResultCounter tally;
  tally.set_count("passed", 2);
  TestScript& script =
      kit.jobexecution.add_testscript(std::make_unique<TestScript>(Value("/l.log"), Value()), "t1");
  script.summary.update(Value(tally));
  TestResult& testcase = script.add_testcase({.tcid = "tc", .logfilepath = ""});
  testcase.initinfo.id.attrs.set("extra", Map{{"k", Value(1)}});
  testcase.initinfo.id.attrs.set("name", "tc");
  testcase.initinfo.logfile.attrs.set("other", List{Value(), 2.5});
  testcase.initinfo.logfile.attrs.set("begin", 3);
  testcase.extra.set("counts", Value(tally));
  TestStep& step = testcase.add_testsection({.sectionid = "s"}).add_teststep({.id = 1, .name = "n"});
  step.index = 1;
  step.continue_ = true;
  step.add_teststep({.id = 2, .name = "inner"}).extra.set("t", Value::tuple({"x\x01y", Value()}));
  CommonSubSection& sub = script.add_testsection({.sectionid = "commonSetup"})
                              .add_commonsubsection({.name = "sub"});
  sub.id.attrs.set("name", "sub");
  sub.result.value = "passed";

  const std::string tree = rendered(z);
  EXPECT_NE(tree.find("<id idTypeValue=\"\" name=\"tc\"><item key=\"extra\" type=\"map\">"),
            std::string::npos)
      << tree;
  EXPECT_EQ(z.generate_bytes().view(), tree);
  z.trialkit.reset();
  EXPECT_THROW(z.generate_bytes(), ArgumentError);
}

TEST(Entry, ChainsOfAnyDepthAreReleasedWithoutDeepRecursion) {
  auto section = std::make_unique<TestSection>(Value("s"));
  TestStep* step = &section->add_teststep({.id = 0, .name = "step"});
  for (int i = 1; i < 200'000; ++i) step = &step->add_teststep({.id = i, .name = "step"});
  section.reset();
  SUCCEED();
}

}  // namespace
}  // namespace morvi::zorbel
