// Field mapping and call order of the handlers, observed on the real legacy model.
#include <gtest/gtest.h>

#include <string>

#include "morvi/errors.hpp"
#include "morvi/reporter/markfolio.hpp"
#include "support.hpp"

namespace morvi::reporter::markfolio {
namespace {

using namespace std::string_literals;
using trialkit::Section;

DateTime at(int second, int micro = 0) { return DateTime(2024, 5, 1, 10, 0, second, micro); }

class MappingTest : public ::testing::Test {
 protected:
  MappingTest() : job(trialkit::TrialKit::create("job1", 1)), folio("/unused", *job) {}

  // A task with its times set directly.
  std::shared_ptr<trialkit::Task> task(Value id = "t1") {
    auto t = job->add_task(std::move(id), 1);
    t->set_field("starttime", at(0));
    t->set_field("stoptime", at(9));
    return t;
  }

  test::TickingClock clock;
  std::shared_ptr<trialkit::TrialKit> job;
  MarkFolio folio;
};

TEST_F(MappingTest, TimesAreTruncatedToWholeSecondsBeforeSubtracting) {
  auto t = task();
  auto s = t->add_section("s", 1, "Step");
  s->set_field("starttime", at(0, 900000));
  s->set_field("stoptime", at(1, 100000));
  zorbel::TestStep step{Value(), Value()};
  folio._handle_step(step, *s);
  EXPECT_EQ(step.starttime, at(0, 900000));
  EXPECT_EQ(step.runtime, 1);

  s->set_field("stoptime", Value());
  zorbel::TestStep open{Value(), Value()};
  folio._handle_step(open, *s);
  EXPECT_TRUE(open.starttime.has_value());
  EXPECT_FALSE(open.stoptime.has_value());
  EXPECT_FALSE(open.runtime.has_value());
}

TEST_F(MappingTest, TrialkitCopiesIdentityInfoAndOnlyTruthyOptionalFields) {
  job->start({{"name", "nightly"}, {"submitter", ""}, {"user", "bob"}, {"host", "h1"},
              {"cli", "morvi run"}, {"morvipath", "/opt/morvi"}, {"morviversion", "3.4"},
              {"release", "r1"}});
  job->add_detail("vt\v here");
  job->stop();
  zorbel::TrialKit legacy;
  legacy.initinfo.submitter = "kept";
  folio._handle_trialkit(legacy, *job);
  EXPECT_EQ(legacy.initinfo.jobid, Value("job1"));
  EXPECT_EQ(legacy.initinfo.name, Value("nightly"));
  EXPECT_EQ(legacy.initinfo.release, Value("r1"));
  EXPECT_TRUE(legacy.initinfo.testbed.is_none());
  EXPECT_TRUE(legacy.initinfo.image.is_none());
  EXPECT_EQ(legacy.initinfo.submitter, Value("kept"));
  EXPECT_EQ(legacy.initinfo.user, Value("bob"));
  EXPECT_EQ(legacy.initinfo.hosts.entries(), (List{Value("h1")}));
  EXPECT_EQ(legacy.initinfo.params.cli, Value("morvi run"));
  EXPECT_EQ(legacy.initinfo.oxa.path, Value("/opt/morvi"));
  EXPECT_EQ(legacy.initinfo.oxa.version, Value("3.4"));
  EXPECT_TRUE(legacy.archivefile.is_none());
  EXPECT_EQ(legacy.runinfo.diags(), (std::vector<std::string>{"vt\\x0b here"}));
  EXPECT_FALSE(legacy.lumo.is_set());
  ASSERT_TRUE(legacy.runtime.has_value());
  EXPECT_EQ(legacy.jobexecution.starttime, legacy.starttime);
  EXPECT_EQ(legacy.jobexecution.runtime, legacy.runtime);
}

TEST_F(MappingTest, LumoEntryBecomesOneSetArgsCall) {
  job->update(Map{{"lumo", Map{{"error", "e"}, {"dnsname", "dev1"}, {"cmd", "c"},
                              {"status", 2}, {"other", 1}}}});
  zorbel::TrialKit full;
  folio._handle_trialkit(full, *job);
  ASSERT_TRUE(full.lumo.is_set());
  EXPECT_EQ(*full.lumo.dnsname(), Value("dev1"));
  EXPECT_FALSE(full.lumo.attributes().has_value());
  ASSERT_TRUE(full.lumo.post().has_value());
  const Map& post = *full.lumo.post();
  ASSERT_EQ(post.size(), 3u);
  auto it = post.begin();
  EXPECT_EQ(it->first, "status");
  EXPECT_EQ((++it)->first, "cmd");
  EXPECT_EQ((++it)->first, "error");

  auto empty = trialkit::TrialKit::create("job2", 1);
  empty->update(Map{{"lumo", Map{}}});
  zorbel::TrialKit bare;
  MarkFolio(".", *empty)._handle_trialkit(bare, *empty);
  EXPECT_TRUE(bare.lumo.is_set());
  EXPECT_FALSE(bare.lumo.dnsname() || bare.lumo.attributes() || bare.lumo.post());
}

TEST_F(MappingTest, EveryEntryOfTasksBecomesATestScriptInOrder) {
  auto t1 = task("t1");
  auto plugin = job->add_plugin("p1", 2);
  auto t2 = task("t2");
  t1->update(Map{{"logfile", "/logs/t1.log"}, {"parameters", Map{{"a", 1}, {"b", "x"}}},
                 {"description", "d\x01"}, {"testscript", "/ws/scripts/basic.py"}});
  zorbel::JobExecution execution;
  folio._handle_jobexecution(execution, *job);
  ASSERT_EQ(execution.entries().size(), 3u);
  const auto& first = static_cast<const zorbel::TestScript&>(*execution.entries()[0]);
  const auto& second = static_cast<const zorbel::TestScript&>(*execution.entries()[1]);
  EXPECT_EQ(first.id, Value("t1"));
  EXPECT_EQ(second.id, Value("p1"));
  EXPECT_EQ(static_cast<const zorbel::TestScript&>(*execution.entries()[2]).id, Value("t2"));
  EXPECT_EQ(first.initinfo.logfile.filepath, Value("/logs/t1.log"));
  EXPECT_EQ(first.initinfo.pargs, Value("{'a': 1, 'b': 'x'}"));
  EXPECT_EQ(first.initinfo.description, Value("d\\x01"));
  EXPECT_EQ(first.initinfo.script.name, Value("basic.py"));
  EXPECT_EQ(first.initinfo.script.path, Value("/ws/scripts"));
  // A job-level plugin has neither parameters nor a script, and no tally of its own.
  EXPECT_TRUE(second.initinfo.pargs.is_none());
  EXPECT_TRUE(second.initinfo.script.name.is_none());
  EXPECT_TRUE(second.initinfo.logfile.filepath.is_none());
  EXPECT_EQ(second.summary.counts().total(), 0);
}

TEST_F(MappingTest, ScriptPathsSplitLikeDirectoryAndBaseName) {
  struct Case {
    const char* path;
    const char* name;
    const char* dir;
  };
  for (const Case& c : {Case{"/ws/scripts/basic.py", "basic.py", "/ws/scripts"},
                        Case{"basic.py", "basic.py", ""}, Case{"/basic.py", "basic.py", "/"},
                        Case{"//basic.py", "basic.py", "//"}, Case{"a//b.py", "b.py", "a"},
                        Case{"dir/", "", "dir"}}) {
    auto t = task();
    t->update(Map{{"testscript", c.path}});
    zorbel::TestScript script{Value(), Value()};
    folio._handle_testscript(script, *t);
    EXPECT_EQ(script.initinfo.script.name, Value(c.name)) << c.path;
    EXPECT_EQ(script.initinfo.script.path, Value(c.dir)) << c.path;
  }
}

TEST_F(MappingTest, TopLevelSectionsChooseCommonSectionOrTestcaseByExactType) {
  auto t = task();
  t->add_section("setup", 1, "CommonSetup");
  auto tc = t->add_section("tc1", 2, "TestCase");
  tc->update(Map{{"logs", Map{{"file", "tc1.log"}, {"begin", 0}}}});
  t->add_section("lower", 3, "commonsetup");
  t->add_section("cleanup", 4, "CommonCleanup");
  zorbel::TestScript script{Value(), Value()};
  folio._handle_testscript(script, *t);
  ASSERT_EQ(script.entries().size(), 4u);
  const auto* setup = dynamic_cast<const zorbel::TestSection*>(script.entries()[0].get());
  const auto* testcase = dynamic_cast<const zorbel::TestResult*>(script.entries()[1].get());
  const auto* lower = dynamic_cast<const zorbel::TestResult*>(script.entries()[2].get());
  const auto* cleanup = dynamic_cast<const zorbel::TestSection*>(script.entries()[3].get());
  ASSERT_TRUE(setup && testcase && lower && cleanup);
  EXPECT_EQ(setup->sectionid, Value("commonSetup"));
  EXPECT_EQ(testcase->tcid, Value("tc1"));
  EXPECT_EQ(testcase->logfilepath, Value("tc1.log"));
  EXPECT_EQ(lower->logfilepath, Value(""));
  EXPECT_EQ(cleanup->sectionid, Value("commonCleanup"));
}

TEST_F(MappingTest, SectionWithoutXrefOrLogsGetsDefaultsAndKeepsUnsetResult) {
  auto s = task()->add_section("s", 1, "Step");
  zorbel::TestStep step{Value(), Value()};
  step.result.value = "untouched";
  folio._handle_step(step, *s);
  EXPECT_EQ(step.xref.file, Value(""));
  EXPECT_EQ(step.xref.line, Value(-1));
  EXPECT_EQ(step.logfile.filepath, Value(""));
  EXPECT_EQ(step.logfile.attrs, (Map{{"begin", Value(-1)}, {"size", Value(-1)}}));
  EXPECT_EQ(step.result.value, "untouched");
  EXPECT_EQ(step.description, Value(""));

  s->update(Map{{"xref", Map{{"file", "a.py"}, {"line", 12}}},
                {"logs", Map{{"file", "s.log"}, {"begin", 100}, {"size", 50}}},
                {"result", results::Failed}});
  zorbel::TestStep filled{Value(), Value()};
  folio._handle_step(filled, *s);
  EXPECT_EQ(filled.xref.file, Value("a.py"));
  EXPECT_EQ(filled.xref.line, Value(12));
  EXPECT_EQ(filled.logfile.filepath, Value("s.log"));
  EXPECT_EQ(filled.logfile.attrs, (Map{{"begin", Value(100)}, {"size", Value(50)}}));
  EXPECT_EQ(filled.result.value, "failed");
}

TEST_F(MappingTest, ChildIdentifiersFollowTheProcessorRulePerParentLevel) {
  auto t = task();
  auto tc = t->add_section("tc", 1, "TestCase");
  auto under_case = tc->add_section("p1", 1, "PreProcessor");
  under_case->update(Map{{"name", "prep"}});
  auto step = under_case->add_section("p2", 1, "PostProcessor");
  step->update(Map{{"name", "post\x01"}});
  auto cs = t->add_section("cs", 2, "CommonSetup");
  auto sub = cs->add_section("p3", 1, "PreProcessor");
  sub->update(Map{{"name", "sub\x01"}, {"description", "d\x02"}});

  zorbel::TestScript script{Value(), Value()};
  folio._handle_testscript(script, *t);
  const auto& testcase = static_cast<const zorbel::TestResult&>(*script.entries()[0]);
  const auto& section = static_cast<const zorbel::TestSection&>(*testcase.entries()[0]);
  EXPECT_EQ(section.sectionid, Value("p1 prep"));
  const auto& nested = static_cast<const zorbel::TestStep&>(*section.entries()[0]);
  EXPECT_EQ(nested.id, Value("p2 post\x01"));
  EXPECT_EQ(nested.name, Value("post\\x01"));

  const auto& common = static_cast<const zorbel::TestSection&>(*script.entries()[1]);
  const auto& subsection = static_cast<const zorbel::CommonSubSection&>(*common.entries()[0]);
  EXPECT_EQ(subsection.name, Value("sub\x01"));
  EXPECT_EQ(subsection.id.idtypevalue, Value("p3 sub\x01"));
  EXPECT_EQ(subsection.id.attrs, (Map{{"name", Value("p3 sub\x01")}}));
  EXPECT_EQ(subsection.description, Value("d\\x02"));
}

TEST_F(MappingTest, TestcaseFillsItsInitInfoAndNeverAppliesTheProcessorRule) {
  auto tc = task()->add_section("tc1", 1, "MyProcessor");
  tc->update(Map{{"name", "first case"}, {"description", "x\x1b"},
                 {"xref", Map{{"file", "t.py"}, {"line", 3}}}});
  tc->add_detail("one");
  tc->add_detail("two\f");
  zorbel::TestResult testcase{Value(), Value()};
  folio._handle_testcase(testcase, *tc);
  EXPECT_EQ(testcase.initinfo.id.idtypevalue, Value("tc1"));
  EXPECT_EQ(testcase.initinfo.id.attrs, (Map{{"name", Value("tc1")}}));
  EXPECT_EQ(testcase.initinfo.name, Value("first case"));
  for (const Value* version : {&testcase.initinfo.swversion, &testcase.initinfo.hwversion,
                               &testcase.initinfo.fwversion, &testcase.initinfo.tstversion}) {
    EXPECT_EQ(*version, Value("None"));
  }
  EXPECT_EQ(testcase.initinfo.description, Value("x\\x1b"));
  EXPECT_EQ(testcase.initinfo.xref.file, Value("t.py"));
  EXPECT_EQ(testcase.initinfo.logfile.attrs.at("begin"), Value(-1));
  EXPECT_EQ(testcase.runinfo.diags(), (std::vector<std::string>{"one", "two\\x0c"}));
}

TEST_F(MappingTest, StepTakesIndexAndContinueOutOfItsExtraData) {
  auto s = task()->add_section("s", 1, "Step");
  s->update(Map{{"description", "raw\x01"}});
  s->update_extra(Map{{"index", 3}, {"continue_", true}, {"note", "n\x02"}});
  zorbel::TestStep step{Value(), Value()};
  folio._handle_step(step, *s);
  EXPECT_EQ(step.index, Value(3));
  EXPECT_EQ(step.continue_, Value(true));
  EXPECT_EQ(step.extra, (Map{{"note", Value("n\\x02")}}));
  EXPECT_EQ(step.description, Value("raw\x01"));
  EXPECT_EQ(s->extra().size(), 3u);
}

TEST_F(MappingTest, CommonSectionExtraDescriptionReplacesTheSectionDescription) {
  auto cs = task()->add_section("cs", 1, "CommonSetup");
  cs->update(Map{{"description", "own"}});
  zorbel::TestSection plain(Value("commonSetup"));
  folio._handle_commonsection(plain, *cs);
  EXPECT_EQ(plain.extra, (Map{{"description", Value("own")}}));

  cs->update_extra(Map{{"description", "from extra\x01"}});
  zorbel::TestSection overridden(Value("commonSetup"));
  folio._handle_commonsection(overridden, *cs);
  EXPECT_EQ(overridden.extra, (Map{{"description", Value("from extra\\x01")}}));
}

TEST_F(MappingTest, SubtreesAreCopiedDepthFirstInChildOrder) {
  auto section = task()->add_section("tc", 1, "TestCase")->add_section("sec", 1, "Section");
  auto a = section->add_section("a", 1, "Step");
  a->add_section("a1", 1, "Step")->add_section("a11", 1, "Step");
  section->add_section("b", 2, "Step");
  zorbel::TestSection legacy(Value("sec"));
  folio._handle_testsection(legacy, *section);
  ASSERT_EQ(legacy.entries().size(), 2u);
  const auto& la = static_cast<const zorbel::TestStep&>(*legacy.entries()[0]);
  EXPECT_EQ(la.id, Value("a"));
  const auto& la1 = static_cast<const zorbel::TestStep&>(*la.entries().at(0));
  EXPECT_EQ(static_cast<const zorbel::TestStep&>(*la1.entries().at(0)).id, Value("a11"));
  EXPECT_EQ(static_cast<const zorbel::TestStep&>(*legacy.entries()[1]).id, Value("b"));
}

TEST_F(MappingTest, FailuresNameTheNodeAndKeepWhatWasCopied) {
  auto s = task()->add_section("s", 1, "Step");
  s->add_detail(Value(5));
  zorbel::TestStep step{Value(), Value()};
  try {
    folio._handle_step(step, *s);
    FAIL() << "a detail that is not text must be refused";
  } catch (const TypeError& e) {
    EXPECT_NE(std::string(e.what()).find("t1.s"), std::string::npos) << e.what();
  }
  EXPECT_EQ(step.xref.line, Value(-1));

  auto bad = task()->add_section("x", 1, "Step");
  bad->update(Map{{"xref", "not a map"}});
  zorbel::TestStep other{Value(), Value()};
  EXPECT_THROW(folio._handle_step(other, *bad), TypeError);
}

}  // namespace
}  // namespace morvi::reporter::markfolio
