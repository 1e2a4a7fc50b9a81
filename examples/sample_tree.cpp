#include "sample_tree.hpp"

#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "morvi/results.hpp"
#include "morvi/service/protocol/recording.hpp"

namespace morvi::examples {
namespace {

namespace fs = std::filesystem;
using reporter::trialkit::Options;
using reporter::trialkit::ReportObjectBase;
using reporter::trialkit::TrialKit;
using results::ResultCode;
using results::TestResult;

// A section of the sample job and what happens while it runs.
struct SectionPlan {
  std::string id;
  std::string type;
  std::string description;
  std::optional<TestResult> result;  // given at stop; otherwise rolled up from its steps
  std::vector<std::string> details;
  List health;                       // health items the checks report for it
  std::vector<SectionPlan> sections;  // its own sections or steps, run in order
};

struct TaskPlan {
  std::string id;
  std::string script;
  std::string description;
  Map parameters;
  std::vector<SectionPlan> sections;
};

Value health_item(const char* check, const char* result) {
  return Value(Map{{"name", Value(check)}, {"result", Value(result)}});
}

SectionPlan step(std::string id, std::string description, TestResult result,
                 std::vector<SectionPlan> substeps = {}) {
  return {std::move(id), "Step", std::move(description), std::move(result), {}, {},
          std::move(substeps)};
}

std::vector<TaskPlan> sample_plan() {
  const TestResult passed = results::Passed;
  const TestResult crc_errors(ResultCode::failed, "CRC errors on Ethernet1/3");
  return {
      {"interfaces",
       "scripts/interfaces.py",
       "Interface state and counters",
       Map{{"devices", Value::list({Value("r1"), Value("r2")})}},
       {{"common_setup", "CommonSetup", "Connect and configure", std::nullopt, {}, {},
         {{"connect", "Subsection", "Connect to the devices", passed, {"r1 and r2 reachable"}, {},
           {}},
          {"configure_interfaces", "Subsection", "Bring the interfaces up", passed, {}, {}, {}}}},
        {"ping_neighbors", "Testcase", "Neighbors answer ping", std::nullopt, {}, {},
         {{"setup", "SetupSection", "Learn the neighbors", passed, {}, {}, {}},
          {"ping", "TestSection", "Ping every neighbor", std::nullopt, {},
           List{health_item("cpu_load", "passed"), health_item("memory", "passed")},
           {step("ping_r1", "Ping r1", passed,
                 {step("resolve_r1", "Resolve r1", passed), step("send_r1", "Send 5 pings", passed)}),
            step("ping_r2", "Ping r2", passed)}},
          {"cleanup", "CleanupSection", "Forget the neighbors", passed, {}, {}, {}}}},
        {"interface_counters", "Testcase", "No interface errors", std::nullopt, {}, {},
         {{"check_errors", "TestSection", "Compare error counters", std::nullopt, {},
           List{health_item("cpu_load", "passed")},
           {step("read_counters", "Read the counters", passed),
            step("compare_thresholds", "Compare with the thresholds", crc_errors)}}}},
        {"common_cleanup", "CommonCleanup", "Disconnect", std::nullopt, {}, {},
         {{"disconnect", "Subsection", "Disconnect from the devices", passed, {}, {}, {}}}}}},
      {"routing",
       "scripts/routing.py",
       "Routing protocol sessions",
       Map{{"devices", Value::list({Value("r1"), Value("r2")})}, {"asn", Value(65001)}},
       {{"common_setup", "CommonSetup", "Connect", std::nullopt, {}, {},
         {{"connect", "Subsection", "Connect to the devices", passed, {}, {}, {}}}},
        {"bgp_sessions", "Testcase", "BGP sessions are established", std::nullopt, {}, {},
         {{"established", "TestSection", "Check every session", std::nullopt,
           {"2 sessions checked"},
           List{health_item("cpu_load", "passed"), health_item("memory", "passed")},
           {step("session_r1", "Session with r1", passed),
            step("session_r2", "Session with r2", passed)}}}},
        {"ospf_adjacency", "Testcase", "OSPF adjacencies are full", std::nullopt, {}, {},
         {{"full", "TestSection", "Check the adjacency states", passed, {}, {}, {}}}},
        {"common_cleanup", "CommonCleanup", "Disconnect", std::nullopt, {}, {},
         {{"disconnect", "Subsection", "Disconnect from the devices", passed, {}, {}, {}}}}}},
  };
}

// Appends a line to a log file, as the code under test does while its node runs.
void log_line(const fs::path& file, const std::string& line) {
  std::ofstream(file, std::ios::app) << line << '\n';
}

// Starts a log file empty, so that a second run in the same folder measures its own growth.
void fresh_log(const fs::path& file) { std::ofstream(file, std::ios::trunc).flush(); }

// Drives the job through either kind of root: the in-process trialkit or a recording one.
template <class Root>
class SampleRunner {
 public:
  explicit SampleRunner(fs::path dir) : dir_(std::move(dir)) {}

  void run(Root& job) {
    fs::create_directories(dir_);
    const std::vector<TaskPlan> plan = sample_plan();
    job.start(Options{{"job_type", Value("sample")},
                       {"suite_name", Value("nightly_sanity")},
                       {"jobfile", Value("jobs/nightly_sanity.py")},
                       {"host", Value("sample-host")},
                       {"submitter", Value("morvi")}});
    // A job-level plugin keeps no share of its log: only its name is recorded.
    const fs::path archive_log = dir_ / "archiver.log";
    fresh_log(archive_log);
    auto archiver = job.add_plugin(Value("archiver"), next_seq());
    archiver->start(Options{{"description", Value("Archives the run's logs")},
                            {"logfile", Value(archive_log.string())}});
    for (const TaskPlan& task : plan) {
      run_task(job, task);
      log_line(archive_log, "archived " + task.id);
    }
    archiver->stop();
    job.stop(Options{{"num_tasks", Value(static_cast<int>(plan.size()))}});
  }

 private:
  Value next_seq() { return Value(++seq_); }

  void run_task(Root& job, const TaskPlan& plan) {
    task_log_ = dir_ / ("TaskLog." + plan.id);
    checks_log_ = dir_ / (plan.id + ".health.log");
    fresh_log(task_log_);
    fresh_log(checks_log_);
    auto task = job.add_task(Value(plan.id), next_seq());
    task->start(Options{{"description", Value(plan.description)},
                        {"testscript", Value(plan.script)},
                        {"logfile", Value(task_log_.string())},
                        {"parameters", Value(plan.parameters)}});
    log_line(task_log_, "task " + plan.id + " started");
    auto checks = task->add_plugin(Value("health_check"), next_seq());
    checks->start(Options{{"description", Value("Device health checks")},
                          {"logfile", Value(checks_log_.string())}});
    for (const SectionPlan& section : plan.sections) run_section(*task, plan.id, section);
    checks->stop();
    log_line(task_log_, "task " + plan.id + " done");
    task->stop();
  }

  // `parent_name` is the parent's full id: a recording node cannot tell its own.
  template <class Parent>
  void run_section(Parent& parent, const std::string& parent_name, const SectionPlan& plan) {
    auto section = parent.add_section(Value(plan.id), next_seq(), Value(plan.type));
    section->start(Options{{"description", Value(plan.description)},
                           {"logfile", Value(task_log_.string())}});
    const std::string name = parent_name + "." + plan.id;
    log_line(task_log_, "+++ " + plan.type + " " + name + ": " + plan.description);
    for (const std::string& detail : plan.details) section->add_detail(Value(detail));
    if (!plan.health.empty()) {
      section->update(Map{{"health", Value(plan.health)}});
      log_line(checks_log_, "checked the devices during " + name);
    }
    for (const SectionPlan& child : plan.sections) run_section(*section, name, child);
    Options stop;
    if (plan.result) {
      stop.set("result", Value(*plan.result));
      log_line(task_log_, "--- " + name + " " + std::string(plan.result->value()));
    }
    section->stop(std::move(stop));
  }

  fs::path dir_;
  fs::path task_log_;
  fs::path checks_log_;
  long seq_ = kSampleJobSeqNum;
};

}  // namespace

void run_sample_job(TrialKit& job, const std::filesystem::path& dir) {
  SampleRunner<TrialKit>(dir).run(job);
}

void run_sample_job(service::protocol::RecordingTrialKit& job, const std::filesystem::path& dir) {
  SampleRunner<service::protocol::RecordingTrialKit>(dir).run(job);
}

std::shared_ptr<TrialKit> build_sample_job(const std::filesystem::path& dir) {
  auto job = TrialKit::create(Value(kSampleJobId), Value(kSampleJobSeqNum));
  run_sample_job(*job, dir);
  return job;
}

}  // namespace morvi::examples
