#pragma once
// A server on its own thread in the test's process, and a job to send it.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../../protocol/tests/recorded_job.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/service/protocol/recording.hpp"
#include "morvi/service/server/server.hpp"
#include "wire_client.hpp"

namespace morvi::service::server::testing {

namespace fs = std::filesystem;
using reporter::trialkit::TrialKit;

inline std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Keeps the lines a recording root sends.
struct LineSink : protocol::EventSink {
  std::vector<std::string> lines;
  void send(const protocol::Event& event) override { lines.push_back(protocol::encode_event(event)); }
};

// The sample job's event lines, and the same job built in process with the same clock.
struct Job {
  std::vector<std::string> lines;
  std::shared_ptr<TrialKit> direct;
};

inline Job make_job(const fs::path& dir) {
  Job job;
  {
    auto sink = std::make_shared<LineSink>();
    utils::ScopedClock clock(testing_jobs::ticking_clock());
    auto root = protocol::RecordingTrialKit::create(sink, Value("job"), Value(1));
    testing_jobs::drive(*root, dir);
    job.lines = sink->lines;
  }
  utils::ScopedClock clock(testing_jobs::ticking_clock());
  job.direct = TrialKit::create(Value("job"), Value(1));
  testing_jobs::drive(*job.direct, dir);
  return job;
}

class RunningServer {
 public:
  explicit RunningServer(const fs::path& journal,
                         journal::FsyncPolicy policy = journal::FsyncPolicy::batch)
      : socket_(sockets_ / "s"),
        server_(ServerOptions{socket_, journal.string(), policy, false}),
        thread_([this] { server_.run(); }) {}
  ~RunningServer() {
    server_.stop();
    thread_.join();
  }
  const std::string& socket() const { return socket_; }

 private:
  SocketDir sockets_;
  std::string socket_;
  Server server_;
  std::thread thread_;
};

}  // namespace morvi::service::server::testing
