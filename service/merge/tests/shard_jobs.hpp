#pragma once
// Jobs for the merge tests, driven as the runner drives them on a clock that the plan sets
// for each task, so that a task has the same times whether it runs in the whole job or in a
// shard.
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "morvi/reporter/trialkit.hpp"

namespace morvi::merge_tests {

struct TaskPlan {
  int index = 0;                 // names the task "task<index>"
  std::vector<int> testcases;    // testcase numbers, run in this order
  std::set<int> failing;         // testcases that fail one step
  int hour = 0;                  // the task starts this many hours after the job's epoch
};

struct JobPlan {
  std::vector<TaskPlan> tasks;
  bool monitor = false;          // a job-level plugin whose section reports health
  std::int64_t start = 0;        // microseconds after the epoch
  std::int64_t stop = 0;
  int num_tasks = 0;
};

// The epoch of every plan, an aware date-time.
std::int64_t epoch_ticks();

std::shared_ptr<reporter::trialkit::TrialKit> run_job(const JobPlan& plan);

}  // namespace morvi::merge_tests
