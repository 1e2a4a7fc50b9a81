// Values nested 100,000 deep in every field the writers read: each form of the report is a
// whole document or a clear error, never a crash, on a thread with a small stack.
#include <ostream>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "morvi/errors.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/testing/small_stack.hpp"
#include "node_test_support.hpp"

namespace morvi::reporter::trialkit {
namespace {

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

Value deep_list(int depth = kDepth) {
  Value v("bottom");
  for (int i = 0; i < depth; ++i) v = Value(one(std::move(v)));
  return v;
}

Value deep_map(int depth = kDepth) {
  Value v(1);
  for (int i = 0; i < depth; ++i) v = Value(keyed(std::move(v)));
  return v;
}

// A job whose deep value sits in the place `plant` puts it.
std::shared_ptr<TrialKit> job_with(const std::function<void(TrialKit&, Task&, Section&)>& plant) {
  auto job = TrialKit::create("job", 1);
  job->start({{"name", "deep"}});
  auto task = job->add_task("t1", 1);
  task->start({{"testscript", "/ws/deep.py"}});
  auto testcase = task->add_section("tc", 1, "TestCase");
  testcase->start();
  auto step = testcase->add_section("step", 1, "Step");
  step->start();
  plant(*job, *task, *step);
  step->stop();
  testcase->stop();
  task->stop();
  job->stop();
  return job;
}

// Either a document or a SerializationError: anything else fails the test.
void whole_or_refused(const std::function<std::string()>& write) {
  try {
    EXPECT_FALSE(write().empty());
  } catch (const SerializationError& e) {
    EXPECT_NE(std::string(e.what()).find("deeper than"), std::string::npos) << e.what();
  }
}

struct Planting {
  const char* name;
  std::function<void(TrialKit&, Task&, Section&)> plant;
};

void PrintTo(const Planting& p, std::ostream* os) { *os << p.name; }

class DeepValuesTest : public ::testing::TestWithParam<Planting> {
 protected:
  TickingClock clock;
};

TEST_P(DeepValuesTest, EveryFormIsWholeOrRefusedOnASmallStack) {
  testing::on_small_stack([this] {
    auto job = job_with(GetParam().plant);
    whole_or_refused([&] { return job->dump_json(); });
    whole_or_refused([&] { return job->dump_yaml(); });
    const ReportObjectBase* nodes[] = {job.get(), &node_of(job->children()[0]),
                           &node_of(node_of(job->children()[0]).children()[0])};
    for (const ReportObjectBase* node : nodes) {
      const Value record(node->to_dict());
      EXPECT_FALSE(record.to_repr().empty());
      EXPECT_TRUE(Value(node->to_dict()) == record);
    }
    job.reset();
  });
}

INSTANTIATE_TEST_SUITE_P(
    Fields, DeepValuesTest,
    ::testing::Values(
        Planting{"StepExtraThroughUpdate",
                 [](TrialKit&, Task&, Section& step) { step.update(Map{{"payload", deep_list()}}); }},
        Planting{"StepExtraMapThroughUpdateExtra",
                 [](TrialKit&, Task&, Section& step) { step.update_extra(Map{{"m", deep_map()}}); }},
        Planting{"TaskParameters",
                 [](TrialKit&, Task& task, Section&) { task.update(Map{{"parameters", deep_list()}}); }},
        Planting{"Description",
                 [](TrialKit&, Task&, Section& step) { step.update(Map{{"description", deep_map()}}); }},
        Planting{"Details", [](TrialKit&, Task& task, Section&) { task.add_detail(deep_list()); }},
        Planting{"LumoValue",
                 [](TrialKit& job, Task&, Section&) {
                   job.update(Map{{"lumo", Map{{"dnsname", deep_list()}, {"error", deep_map()}}}});
                 }},
        Planting{"ErrorArguments",
                 [](TrialKit&, Task&, Section& step) {
                   step.update(Map{{"err", Value::error("E", List{deep_list()})}});
                 }},
        Planting{"Xref", [](TrialKit&, Task&, Section& step) {
                   step.update(Map{{"xref", Map{{"file", deep_list()}, {"line", deep_map()}}}});
                 }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace morvi::reporter::trialkit
