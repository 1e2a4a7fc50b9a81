#pragma once
// The sample job: a trialkit with two tasks, each with a plugin, common setup and cleanup and
// testcases of sections and nested steps (one testcase fails), and a job-level plugin. It is
// driven as the runner drives a real job: every node is added, started, updated and stopped
// in order, results roll up as nodes stop, and log files in the output folder grow while the
// nodes run.
#include <filesystem>
#include <memory>

#include "morvi/reporter/trialkit.hpp"
#include "morvi/service/protocol/recording.hpp"

namespace morvi::examples {

// The root of the sample job is made with this id and seq_num.
inline constexpr const char* kSampleJobId = "nightly_sanity";
inline constexpr long kSampleJobSeqNum = 1;

// Runs the sample job through a root just made (TrialKit::create, or RecordingTrialKit::create
// and its like, with the id and seq_num above), writing its log files into `dir`.
void run_sample_job(reporter::trialkit::TrialKit& job, const std::filesystem::path& dir);
void run_sample_job(service::protocol::RecordingTrialKit& job, const std::filesystem::path& dir);

// Runs the sample job, writing its log files into `dir` (created when missing), and returns
// the stopped trialkit.
std::shared_ptr<reporter::trialkit::TrialKit> build_sample_job(const std::filesystem::path& dir);

}  // namespace morvi::examples
