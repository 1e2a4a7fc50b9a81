#pragma once
// One job, driven alike through an in-process root or a recording one, for the tests that
// compare the two.
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "morvi/results.hpp"
#include "morvi/utils/utils.hpp"
#include "morvi/value.hpp"

namespace morvi::testing_jobs {

namespace fs = std::filesystem;
using Options = Map;

// A clock that advances one millisecond, with an offset, per reading.
inline utils::ClockSource ticking_clock() {
  auto ticks = std::make_shared<std::int64_t>(DateTime(2026, 3, 1, 8).ticks());
  return [ticks] { return DateTime::from_ticks(*ticks += 1000, 60); };
}

inline void grow(const fs::path& file, const std::string& text) { std::ofstream(file, std::ios::app) << text; }

// Drives the job alike through either kind of root: logs that grow while nodes run, siblings
// that share an id, nested steps, results given and rolled up, details, extra data, a plugin
// that ends in another log and a task whose result is set outright.
template <class Root>
void drive(Root& job, const fs::path& dir) {
  const fs::path task_log = dir / "TaskLog.t1", plugin_log = dir / "plugin.log";
  std::ofstream(task_log, std::ios::trunc).flush();
  std::ofstream(plugin_log, std::ios::trunc).flush();
  job.start(Options{{"suite_name", Value("suite")}, {"host", Value("h")}});
  auto task = job.add_task(Value("t1"), Value(2));
  task->start(Options{{"logfile", Value(task_log.string())}, {"description", Value("d")}});
  auto plugin = task->add_plugin(Value("checks"), Value(3));
  plugin->start(Options{{"logfile", Value(plugin_log.string())}});
  auto testcase = task->add_section(Value("tc"), Value(4), Value("Testcase"));
  testcase->start(Options{{"logfile", Value(task_log.string())}});
  for (int i = 0; i < 3; ++i) {
    auto step = testcase->add_section(Value("step"), Value(5 + i), Value("Step"));
    step->start(Options{{"description", Value("loop " + std::to_string(i))}});
    grow(task_log, "line " + std::to_string(i) + "\n");
    step->update_extra(Map{{"tags", Value::list({Value(i)})}});
    step->update_extra(Map{{"tags", Value::list({Value(i + 1)})}}, i % 2 == 0);
    step->add_detail(Value("detail " + std::to_string(i)));
    step->update(Map{{"custom", Value(Map{{"k", Value(i)}})}});
    const results::TestResult result =
        i == 1 ? results::TestResult(results::ResultCode::failed, "why", Map{{"n", Value(i)}})
               : results::Passed;
    step->stop(Options{{"result", Value(result)}});
  }
  auto never = testcase->add_section(Value("never_started"), Value(9), Value("Step"));
  never->stop();
  grow(plugin_log, "checked\n");
  testcase->stop();
  plugin->stop(Options{{"logfile", Value((dir / "other.log").string())}});
  task->set_result(Value(results::Blocked));
  task->stop();
  auto job_plugin = job.add_plugin(Value("archiver"), Value(10));
  job_plugin->start();
  job_plugin->stop();
  job.stop(Options{{"num_tasks", Value(2)}});
}

}  // namespace morvi::testing_jobs
