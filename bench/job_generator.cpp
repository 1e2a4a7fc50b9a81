#include "job_generator.hpp"

#include <string>
#include <string_view>
#include <utility>

#include "morvi/datetime.hpp"
#include "morvi/results.hpp"
#include "morvi/utils/utils.hpp"
#include "morvi/service/protocol/recording.hpp"

namespace morvi::bench {
namespace {

using reporter::trialkit::TrialKit;
using service::protocol::RecordingTrialKit;

void put_all(Map&) {}

template <class... Rest>
void put_all(Map& map, std::string_view key, Value value, Rest&&... rest) {
  map.set(key, std::move(value));
  put_all(map, std::forward<Rest>(rest)...);
}

// A map of key, value, key, value...: the values are moved in, where an initializer list
// would copy each of them.
template <class... Args>
Map map_of(Args&&... args) {
  Map map;
  map.reserve(sizeof...(Args) / 2);
  put_all(map, std::forward<Args>(args)...);
  return map;
}

Value numbered(const char* prefix, int n) { return Value(prefix + std::to_string(n)); }

// Drives one job depth first, as the runner does: a child runs while its parent is running.
// The nodes are in-process ones or recording ones, after the root's kind.
template <class Root>
class JobRunner {
 public:
  explicit JobRunner(const JobShape& shape) : shape_(shape) {}

  void run(Root& job) {
    job.start(map_of("job_type", Value("bench"), "host", Value("bench-host"), "submitter",
                     Value("bench")));
    decltype(job.add_plugin(Value(), Value())) monitor;
    if (shape_.job_plugin) {
      monitor = job.add_plugin(Value("monitor"), next_seq());
      monitor->start();
    }
    for (int t = 0; t < shape_.tasks; ++t) run_task(job, shape_.first_task + t);
    if (monitor) monitor->stop();
    job.stop(map_of("num_tasks", Value(shape_.tasks)));
  }

 private:
  Value next_seq() { return Value(++seq_); }

  // What every section gets while it runs: a description, a detail and a small extra.
  template <class Node>
  static void open(Node& node, const char* description, int index) {
    node.start(map_of("description", Value(description)));
    node.add_detail(Value("checked"));
    node.update(map_of("index", Value(index)));
  }

  void run_task(Root& job, int t) {
    auto task = job.add_task(numbered("task", t), next_seq());
    task->start(map_of("description", Value("synthetic script"), "testscript",
                       Value("scripts/synthetic.py")));
    auto checker = task->add_plugin(Value("checker"), next_seq());
    checker->start(map_of("description", Value("section checks")));

    auto setup = task->add_section(Value("common_setup"), next_seq(), Value("CommonSetup"));
    open(*setup, "connect", 0);
    setup->stop(map_of("result", Value(results::Passed)));

    for (int c = 0; c < shape_.testcases; ++c) run_testcase(*task, c);

    auto cleanup = task->add_section(Value("common_cleanup"), next_seq(), Value("CommonCleanup"));
    open(*cleanup, "disconnect", 0);
    cleanup->stop(map_of("result", Value(results::Passed)));

    checker->stop();
    task->stop();
  }

  template <class Task>
  void run_testcase(Task& task, int c) {
    auto testcase = task.add_section(numbered("tc", c), next_seq(), Value("Testcase"));
    open(*testcase, "testcase", c);
    for (int s = 0; s < shape_.sections; ++s) {
      auto section = testcase->add_section(numbered("sec", s), next_seq(), Value("TestSection"));
      open(*section, "test section", s);
      for (int p = 0; p < shape_.steps; ++p) run_step(*section, p);
      section->stop();
    }
    testcase->stop();
  }

  template <class Section>
  void run_step(Section& section, int p) {
    auto step = section.add_section(numbered("step", p), next_seq(), Value("Step"));
    open(*step, "step", p);
    ++steps_;
    if (shape_.health_every > 0 && steps_ % shape_.health_every == 0) {
      List health;
      health.emplace_back(map_of("name", Value("cpu"), "result", Value("passed")));
      step->update(map_of("health", Value(std::move(health))));
    }
    const bool fails = shape_.fail_every > 0 && steps_ % shape_.fail_every == 0;
    step->stop(map_of("result", Value(fails ? results::Failed : results::Passed)));
  }

  const JobShape& shape_;
  long seq_ = kJobSeqNum;
  long steps_ = 0;
};

}  // namespace

std::size_t node_count(const JobShape& shape) {
  const auto per_testcase = static_cast<std::size_t>(1 + shape.sections * (1 + shape.steps));
  const auto per_task = 4 + static_cast<std::size_t>(shape.testcases) * per_testcase;
  return (shape.job_plugin ? 2 : 1) + static_cast<std::size_t>(shape.tasks) * per_task;
}

namespace {

template <class Root>
void drive(Root& job, const JobShape& shape) {
  const std::int64_t epoch = DateTime(2024, 1, 1, 8).ticks();
  std::int64_t readings = 0;
  const utils::ScopedClock clock(
      [&] { return DateTime::from_ticks(epoch + 1000 * ++readings, 0); });
  JobRunner<Root>(shape).run(job);
}

}  // namespace

void drive_job(TrialKit& job, const JobShape& shape) { drive(job, shape); }

void drive_job(RecordingTrialKit& job, const JobShape& shape) { drive(job, shape); }

std::shared_ptr<TrialKit> generate_job(const JobShape& shape) {
  auto job = TrialKit::create(Value(kJobId), Value(kJobSeqNum));
  drive_job(*job, shape);
  return job;
}

}  // namespace morvi::bench
