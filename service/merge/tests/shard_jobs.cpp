#include "shard_jobs.hpp"

#include <string>

#include "morvi/datetime.hpp"
#include "morvi/results.hpp"
#include "morvi/utils/utils.hpp"

namespace morvi::merge_tests {
namespace {

using reporter::trialkit::ReportObjectBase;
using reporter::trialkit::TrialKit;

constexpr std::int64_t kHour = 3'600'000'000;

Value text(const std::string& s) { return Value(s); }

void run_testcase(reporter::trialkit::Task& task, const TaskPlan& plan, int c) {
  auto testcase = task.add_section(text("tc" + std::to_string(c)), Value(c), Value("Testcase"));
  testcase->start({{"description", text("testcase " + std::to_string(c))}});
  for (int s = 0; s < 2; ++s) {
    auto section = testcase->add_section(text("sec" + std::to_string(s)), Value(s));
    section->start();
    for (int p = 0; p < 3; ++p) {
      auto step = section->add_section(text("step" + std::to_string(p)), Value(p), Value("Step"));
      step->start();
      step->add_detail(text("checked " + std::to_string(p)));
      const bool fails = plan.failing.count(c) != 0 && s == 1 && p == 2;
      if (p == 1) {
        step->update(Map{{"health", Value::list({Map{{"name", text("cpu")},
                                                  {"result", text(fails ? "failed" : "passed")}}})}});
      }
      step->stop({{"result", fails ? Value(results::TestResult(results::ResultCode::failed,
                                                               "link down"))
                                   : Value(results::Passed)}});
    }
    section->stop();
  }
  testcase->stop();
}

void run_task(TrialKit& job, const TaskPlan& plan, std::int64_t& now) {
  now = epoch_ticks() + plan.hour * kHour;
  auto task = job.add_task(text("task" + std::to_string(plan.index)), Value(plan.index));
  task->start({{"testscript", text("scripts/t" + std::to_string(plan.index) + ".py")},
               {"owner", text("qa")}});
  auto checker = task->add_plugin(Value("checker"), Value(0));
  checker->start();
  auto probe = checker->add_section(Value("probe"), Value(0));
  probe->start();
  probe->stop({{"result", Value(results::Passed)}});
  auto setup = task->add_section(Value("common_setup"), Value(0), Value("CommonSetup"));
  setup->start();
  setup->stop({{"result", Value(results::Passed)}});
  for (int c : plan.testcases) run_testcase(*task, plan, c);
  checker->stop();
  task->stop();
}

}  // namespace

std::int64_t epoch_ticks() { return DateTime(2024, 3, 1, 9, 0, 0, 0, 60).ticks(); }

std::shared_ptr<TrialKit> run_job(const JobPlan& plan) {
  std::int64_t now = 0;
  const utils::ScopedClock clock([&] {
    now += 1500;
    return DateTime::from_ticks(now, 60);
  });
  now = epoch_ticks() + plan.start;
  auto job = TrialKit::create(Value("nightly"), Value(0));
  job->start({{"host", text("lab-1")}, {"job_type", text("sanity")}});
  std::shared_ptr<reporter::trialkit::Plugin> monitor;
  if (plan.monitor) {
    monitor = job->add_plugin(Value("monitor"), Value(0));
    monitor->start();
    auto watch = monitor->add_section(Value("watch"), Value(0));
    watch->start();
    watch->update(Map{{"health", Value::list({Map{{"name", text("disk")}, {"result", text("failed")}},
                                           Map{{"name", text("cpu")}, {"result", text("passed")}}})}});
    watch->stop({{"result", Value(results::Passed)}});
  }
  for (const TaskPlan& task : plan.tasks) run_task(*job, task, now);
  if (monitor) {
    now = epoch_ticks() + 50 * kHour;
    monitor->stop();
  }
  now = epoch_ticks() + plan.stop - 1500;
  job->stop({{"num_tasks", Value(plan.num_tasks)}});
  return job;
}

}  // namespace morvi::merge_tests
