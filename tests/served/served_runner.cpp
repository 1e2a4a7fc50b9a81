// A runner for the cross-process tests: runs the sample job or a generated one on a clock that
// ticks one millisecond per reading, either in its own process or through a reporter server.
//
//   served_runner JOB direct WORKDIR
//       the job in process; the four documents into WORKDIR/out
//   served_runner JOB server WORKDIR SOCKET FALLBACK [PAUSE_EVERY]
//       the job through the server at SOCKET, falling back to the journal FALLBACK
//
// JOB is "sample" or "generated:TASKS,TESTCASES,SECTIONS,STEPS". The runner works in WORKDIR,
// its logs in WORKDIR/logs named by relative paths, so runs in two folders give equal
// documents. Through a server it waits for the server's acknowledgement every 200 events and
// then prints "acked N" (N events sent so far, all of them in the server's journal), while it
// has not fallen back; with PAUSE_EVERY it sleeps a millisecond every that many events, so a
// test can stop it or the server midway. It prints "done N" at the end.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "job_generator.hpp"
#include "morvi/reporter/markfolio.hpp"
#include "morvi/service/clients/socket_event_sink.hpp"
#include "morvi/utils/atomic_file.hpp"
#include "morvi/utils/utils.hpp"
#include "sample_tree.hpp"

namespace {

namespace fs = std::filesystem;
using morvi::Value;
using morvi::service::clients::SocketEventSink;
using morvi::service::protocol::Event;
using morvi::service::protocol::EventSink;
using morvi::service::protocol::RecordingTrialKit;

constexpr std::size_t kAckEvery = 200;

struct Job {
  bool sample = true;
  morvi::bench::JobShape shape;
};

Job parse_job(const std::string& text) {
  Job job;
  if (text == "sample") return job;
  job.sample = false;
  if (std::sscanf(text.c_str(), "generated:%d,%d,%d,%d", &job.shape.tasks, &job.shape.testcases,
                  &job.shape.sections, &job.shape.steps) != 4)
    throw std::invalid_argument("JOB must be sample or generated:TASKS,TESTCASES,SECTIONS,STEPS");
  return job;
}

// Counts the events it passes on, and says how many the server holds now and then.
class CountingSink : public EventSink {
 public:
  CountingSink(std::shared_ptr<SocketEventSink> sink, std::size_t pause_every)
      : sink_(std::move(sink)), pause_every_(pause_every) {}
  void send(const Event& event) override {
    sink_->send(event);
    ++sent_;
    if (sent_ % kAckEvery == 0) acknowledge();
    if (pause_every_ != 0 && sent_ % pause_every_ == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  void flush() override { acknowledge(); }
  std::size_t sent() const { return sent_; }

 private:
  void acknowledge() {
    sink_->flush();
    if (sink_->connected()) std::cout << "acked " << sent_ << std::endl;
  }

  std::shared_ptr<SocketEventSink> sink_;
  std::size_t pause_every_;
  std::size_t sent_ = 0;
};

template <class Root>
void run(Root& root, const Job& job) {
  if (job.sample) {
    morvi::examples::run_sample_job(root, "logs");
  } else {
    morvi::bench::drive_job(root, job.shape);
  }
}

// The sample job reads the clock itself; the generated one sets its own.
morvi::utils::ClockSource ticking_clock() {
  auto ticks = std::make_shared<std::int64_t>(morvi::DateTime(2026, 3, 1, 8).ticks());
  return [ticks] { return morvi::DateTime::from_ticks(*ticks += 1000, 60); };
}

Value job_id(const Job& job) { return Value(job.sample ? morvi::examples::kSampleJobId : morvi::bench::kJobId); }
Value job_seq(const Job& job) { return Value(job.sample ? morvi::examples::kSampleJobSeqNum : morvi::bench::kJobSeqNum); }

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[2] : "";
  if (!((mode == "direct" && argc == 4) || (mode == "server" && (argc == 6 || argc == 7)))) {
    std::cerr << "usage: served_runner JOB direct WORKDIR | JOB server WORKDIR SOCKET FALLBACK "
                 "[PAUSE_EVERY]\n";
    return 2;
  }
  try {
    const Job job = parse_job(argv[1]);
    fs::create_directories(argv[3]);
    fs::current_path(argv[3]);
    const morvi::utils::ScopedClock clock(ticking_clock());
    if (mode == "direct") {
      auto root = morvi::reporter::trialkit::TrialKit::create(job_id(job), job_seq(job));
      run(*root, job);
      fs::create_directories("out");
      morvi::utils::write_file_atomically("out/results.json", root->dump_json());
      morvi::utils::write_file_atomically("out/results.yaml", root->dump_yaml());
      morvi::reporter::markfolio::MarkFolio("out", *root).generate_xml({}, {});
      std::cout << "done" << std::endl;
      return 0;
    }
    morvi::service::clients::SocketSinkOptions options;
    options.socket_path = argv[4];
    options.fallback_path = argv[5];
    options.timeout = std::chrono::milliseconds(2000);
    auto counter = std::make_shared<CountingSink>(std::make_shared<SocketEventSink>(options),
                                                  argc == 7 ? std::stoul(argv[6]) : 0);
    auto root = RecordingTrialKit::create(counter, job_id(job), job_seq(job));
    run(*root, job);
    std::cout << "done " << counter->sent() << std::endl;
  } catch (const std::exception& e) {
    std::cerr << "served_runner: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
