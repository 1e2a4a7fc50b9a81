// Values nested 100,000 deep in the fields the mapping reads: generate_xml writes both
// reports or refuses with a clear error and writes nothing, never crashes, on a thread with a
// small stack.
#include <ostream>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "morvi/errors.hpp"
#include "morvi/reporter/markfolio.hpp"
#include "morvi/testing/small_stack.hpp"
#include "support.hpp"

namespace morvi::reporter::markfolio {
namespace {

namespace fs = std::filesystem;

constexpr int kDepth = 100'000;

// Built by moving: a braced list would copy the whole nested value at every level.
List one(Value v) {
  List l;
  l.push_back(std::move(v));
  return l;
}

Map keyed(Value v) {
  Map m;
  m.set("k", std::move(v));
  return m;
}

Value deep_list() {
  Value v("bottom");
  for (int i = 0; i < kDepth; ++i) v = Value(one(std::move(v)));
  return v;
}

Value deep_map() {
  Value v(1);
  for (int i = 0; i < kDepth; ++i) v = Value(keyed(std::move(v)));
  return v;
}

using Plant = std::function<void(trialkit::TrialKit&, trialkit::Task&, trialkit::Section&)>;

std::shared_ptr<trialkit::TrialKit> job_with(const Plant& plant) {
  auto job = trialkit::TrialKit::create("job", 1);
  job->start({{"name", "deep"}});
  auto task = job->add_task("t1", 1);
  task->start({{"testscript", "/ws/deep.py"}});
  auto testcase = task->add_section("tc", 1, "TestCase");
  testcase->start();
  auto step = testcase->add_section("test", 1, "TestSection")->add_section("step", 1, "Step");
  step->start();
  plant(*job, *task, *step);
  step->stop();
  testcase->stop();
  task->stop();
  job->stop();
  return job;
}

struct Planting {
  const char* name;
  Plant plant;
};

void PrintTo(const Planting& p, std::ostream* os) { *os << p.name; }

class DeepValuesXmlTest : public ::testing::TestWithParam<Planting> {
 protected:
  test::TickingClock clock;
  test::TempDir dir;
};

TEST_P(DeepValuesXmlTest, BothReportsOrAClearRefusalOnASmallStack) {
  const std::string folder = dir.str();
  bool written = false;
  testing::on_small_stack([&] {
    auto job = job_with(GetParam().plant);
    try {
      MarkFolio(folder, *job).generate_xml(Value(), Value());
      written = true;
    } catch (const ArgumentError& e) {
      EXPECT_NE(std::string(e.what()).find("levels"), std::string::npos) << e.what();
    }
    job.reset();
  });
  if (written) {
    EXPECT_EQ(test::schema_errors(dir / "ResultsSummary.xml", "ResultsSummary.xsd"), "");
    EXPECT_TRUE(fs::exists(dir / "ResultsDetails.xml"));
    EXPECT_FALSE(fs::exists(dir / "xml_rough_string"));
  } else {
    EXPECT_TRUE(fs::is_empty(folder));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, DeepValuesXmlTest,
    ::testing::Values(
        Planting{"StepExtraThroughUpdate",
                 [](auto&, auto&, auto& step) { step.update(Map{{"payload", deep_list()}}); }},
        Planting{"StepIndexAndContinue",
                 [](auto&, auto&, auto& step) {
                   step.update(Map{{"index", deep_map()}, {"continue_", deep_list()}});
                 }},
        Planting{"TaskParameters",
                 [](auto&, auto& task, auto&) { task.update(Map{{"parameters", deep_list()}}); }},
        Planting{"TaskExtra", [](auto&, auto& task, auto&) { task.update_extra(Map{{"m", deep_map()}}); }},
        Planting{"JobExtraFields",
                 [](auto& job, auto&, auto&) {
                   job.update(Map{{"testbed", deep_list()}, {"release", deep_map()}, {"image", deep_list()}});
                 }},
        Planting{"LumoValues",
                 [](auto& job, auto&, auto&) {
                   job.update(Map{{"lumo", Map{{"dnsname", deep_list()}, {"attributes", deep_map()},
                                               {"status", deep_list()}, {"error", deep_map()}}}});
                 }},
        Planting{"XrefAndLogs", [](auto&, auto&, auto& step) {
                   step.update(Map{{"xref", Map{{"file", deep_list()}, {"line", deep_map()}}},
                                   {"logs", Map{{"file", deep_list()}, {"begin", deep_map()}}}});
                 }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace morvi::reporter::markfolio
