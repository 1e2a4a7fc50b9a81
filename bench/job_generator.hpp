#pragma once
// Synthetic jobs for the benchmarks: a trialkit whose tasks hold a plugin, common setup and
// cleanup, and testcases of sections of steps. Every node is driven through its whole
// lifecycle as the runner drives it (added, started with a description, given a detail and a
// small extra, health items on some steps, stopped with roll-up), on a clock that advances one
// millisecond per reading, so two jobs of one shape are equal.
#include <cstddef>
#include <memory>

#include "morvi/reporter/trialkit.hpp"
#include "morvi/service/protocol/recording.hpp"

namespace morvi::bench {

// The root of a generated job is made with this id and seq_num.
inline constexpr const char* kJobId = "bench-job";
inline constexpr long kJobSeqNum = 1;

struct JobShape {
  int tasks = 10;
  int testcases = 200;   // per task
  int sections = 9;      // per testcase
  int steps = 10;        // per section
  int health_every = 8;  // every n-th step reports health items; 0 for none
  int fail_every = 40;   // every n-th step fails; 0 for none
  // A shard of a larger job: its tasks are numbered from first_task, and only the shard that
  // holds the job-level plugin says so.
  int first_task = 0;
  bool job_plugin = true;
};

// The nodes a job of this shape holds: the trialkit and its plugin, and per task the task, its
// plugin, common setup and cleanup, testcases, sections and steps. The default is about
// 200,000.
std::size_t node_count(const JobShape& shape);

// Runs a whole job of this shape and returns its stopped trialkit.
std::shared_ptr<reporter::trialkit::TrialKit> generate_job(const JobShape& shape);

// Runs a whole job of this shape through a root just made (in-process or recording) with the
// id and seq_num above, on the same clock, so every way of building it gives equal documents.
void drive_job(reporter::trialkit::TrialKit& job, const JobShape& shape);
void drive_job(service::protocol::RecordingTrialKit& job, const JobShape& shape);

}  // namespace morvi::bench
