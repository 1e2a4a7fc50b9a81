// The runner's socket sink against a small server of the test's own (a thread that answers the
// hello and the syncs, checks each event with a tree builder and journals it), which can refuse
// the hello, stop answering or go away after any event. Whatever happens, the server's journal
// and the sink's fallback journal replay into the documents of the job built in process.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "../../protocol/tests/recorded_job.hpp"
#include "morvi/errors.hpp"
#include "morvi/reporter/markfolio.hpp"
#include "morvi/service/clients/socket_event_sink.hpp"
#include "morvi/testing/scratch_dir.hpp"

namespace morvi::service::clients {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using reporter::trialkit::TrialKit;

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::map<std::string, std::string> documents(const TrialKit& job, const fs::path& dir) {
  fs::create_directories(dir);
  reporter::markfolio::MarkFolio(dir.string(), job).generate_xml({}, {});
  return {{"json", job.dump_json()},
          {"yaml", job.dump_yaml()},
          {"details", slurp(dir / "ResultsDetails.xml")},
          {"summary", slurp(dir / "ResultsSummary.xml")}};
}

// A folder for sockets: short enough for a socket path wherever the build tree is.
class SocketDir {
 public:
  SocketDir() {
    char name[] = "/tmp/morvi-sink-XXXXXX";
    if (::mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = name;
  }
  ~SocketDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  fs::path path() const { return path_; }

 private:
  fs::path path_;
};

struct Behaviour {
  bool refuse_hello = false;
  bool answer_syncs = true;
  // Goes away (closes the connection and stops listening) after this many event lines.
  std::size_t die_after = std::numeric_limits<std::size_t>::max();
};

// Serves one runner connection on its own thread, as the reporter server does.
class FakeServer {
 public:
  FakeServer(const fs::path& socket, const fs::path& journal, Behaviour behaviour)
      : behaviour_(behaviour), writer_(journal.string(), journal::FsyncPolicy::never) {
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 4) != 0)
      throw std::runtime_error("cannot listen on " + socket.string());
    thread_ = std::thread([this] { serve(); });
  }
  ~FakeServer() { wait(); }

  void wait() {
    if (thread_.joinable()) thread_.join();
  }
  std::size_t lines() const { return lines_; }
  std::size_t syncs() const { return syncs_; }

 private:
  void serve() {
    pollfd ready{listener_, POLLIN, 0};
    // Bounded: a runner that never comes leaves the test waiting 10 s at most.
    if (::poll(&ready, 1, 10'000) == 1) {
      const int peer = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      converse(peer);
      ::close(peer);
    }
    ::close(listener_);
    writer_.flush();
  }

  void answer(int peer, const json& line) {
    const std::string text = line.dump() + "\n";
    if (::send(peer, text.data(), text.size(), MSG_NOSIGNAL) < 0) return;
  }

  void converse(int peer) {
    std::string buffer;
    char chunk[4096];
    bool greeted = false;
    for (;;) {
      const std::size_t newline = buffer.find('\n');
      if (newline == std::string::npos) {
        pollfd ready{peer, POLLIN, 0};
        if (::poll(&ready, 1, 10'000) != 1) return;
        const ssize_t n = ::recv(peer, chunk, sizeof chunk, 0);
        if (n <= 0) return;
        buffer.append(chunk, static_cast<std::size_t>(n));
        continue;
      }
      const std::string line = buffer.substr(0, newline);
      buffer.erase(0, newline + 1);
      if (!greeted) {
        const json hello = json::parse(line);
        EXPECT_EQ(hello, (json{{"hello", "morvi-events"}, {"version", 1}, {"role", "runner"}}));
        if (behaviour_.refuse_hello) {
          answer(peer, {{"ok", false}, {"error", "a runner is connected already"}});
          return;
        }
        answer(peer, {{"ok", true}});
        greeted = true;
        continue;
      }
      if (line.find("\"request\"") != std::string::npos) {
        const json request = json::parse(line);
        EXPECT_EQ(request["request"], "sync");
        ++syncs_;
        writer_.flush();
        if (behaviour_.answer_syncs)
          answer(peer, {{"reply", request["id"]}, {"ok", true}, {"applied", applied_},
                        {"refused", lines_.load() - applied_}});
        continue;
      }
      ++lines_;
      try {
        builder_.apply(protocol::decode_event(line));
        writer_.append(line);
        ++applied_;
      } catch (const protocol::ProtocolError& e) {
        answer(peer, {{"refused", lines_.load()}, {"event", json::parse(line)["event"]},
                      {"error", e.what()}});
      }
      if (lines_ >= behaviour_.die_after) return;
    }
  }

  Behaviour behaviour_;
  journal::JournalWriter writer_;
  protocol::TreeBuilder builder_;
  int listener_ = -1;
  std::atomic<std::size_t> lines_ = 0;
  std::size_t applied_ = 0;
  std::atomic<std::size_t> syncs_ = 0;
  std::thread thread_;
};

class SocketSinkTest : public ::testing::Test {
 protected:
  SocketSinkTest() {
    utils::ScopedClock clock(testing_jobs::ticking_clock());
    auto job = TrialKit::create(Value("job"), Value(1));
    testing_jobs::drive(*job, scratch_.path());
    expected_ = documents(*job, scratch_ / "direct");
  }

  SocketSinkOptions options() {
    SocketSinkOptions options;
    options.socket_path = socket().string();
    options.fallback_path = fallback().string();
    options.diagnostics = &said_;
    options.timeout = std::chrono::milliseconds(5000);
    return options;
  }
  fs::path socket() const { return sockets_.path() / "s.sock"; }
  fs::path server_journal() const { return scratch_ / "server.journal"; }
  fs::path fallback() const { return scratch_ / "fallback.journal"; }

  // Runs the job through a sink made with `options`, to its end and the sink's.
  void run_job(const SocketSinkOptions& options, bool bad_update = false) {
    utils::ScopedClock clock(testing_jobs::ticking_clock());
    auto job = connect_trialkit(options, Value("job"), Value(1));
    // A tasks field set by data: the tree refuses it.
    if (bad_update) job->update(Map{{"tasks", Value(1)}});
    testing_jobs::drive(*job, scratch_.path());
  }

  std::map<std::string, std::string> replayed(const std::vector<fs::path>& journals) {
    std::vector<std::string> paths;
    for (const fs::path& path : journals) paths.push_back(path.string());
    journal::Replay replay = journal::replay(paths);
    EXPECT_TRUE(replay.builder.trialkit());
    if (!replay.builder.trialkit()) return {};
    return documents(*replay.builder.trialkit(), scratch_ / "replayed");
  }

  std::vector<std::string> said_lines() const {
    std::vector<std::string> lines;
    std::istringstream in(said_.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  morvi::testing::ScratchDir scratch_;
  SocketDir sockets_;
  std::ostringstream said_;
  std::map<std::string, std::string> expected_;
};

TEST_F(SocketSinkTest, ThroughAServerItsJournalRebuildsTheJobWhateverTheBounds) {
  // The defaults, and bounds so small that syncs and waits for them come every few events.
  for (const auto& [every, most] : std::vector<std::pair<std::size_t, std::size_t>>{
           {4096, 65536}, {3, 5}, {1, 1}}) {
    fs::remove(server_journal());
    FakeServer server(socket(), server_journal(), {});
    SocketSinkOptions opts = options();
    opts.sync_every = every;
    opts.max_unacknowledged = most;
    run_job(opts);
    server.wait();
    if (every == 1) {
      EXPECT_GE(server.syncs(), server.lines());
    }
    EXPECT_EQ(said_.str(), "");
    EXPECT_FALSE(fs::exists(fallback()));
    EXPECT_EQ(replayed({server_journal()}), expected_) << every << " " << most;
    fs::remove(socket());
  }
}

TEST_F(SocketSinkTest, WithoutAServerTheWholeJobIsInTheFallbackJournal) {
  // Also a fallback journal left by an earlier run is replaced, not appended to.
  std::ofstream(fallback()) << "left over\n";
  run_job(options());
  const std::vector<std::string> said = said_lines();
  ASSERT_EQ(said.size(), 1u) << said_.str();
  EXPECT_NE(said[0].find("'" + socket().string() + "' cannot be reached"), std::string::npos)
      << said[0];
  EXPECT_NE(said[0].find("'" + fallback().string() + "'"), std::string::npos) << said[0];
  EXPECT_EQ(replayed({fallback()}), expected_);
}

TEST_F(SocketSinkTest, AServerGoingAwayAfterAnyEventLosesNothing) {
  // The job's event count, from a server that stays.
  std::size_t total = 0;
  {
    FakeServer server(socket(), server_journal(), {});
    run_job(options());
    server.wait();
    total = server.lines();
  }
  std::mt19937 random(20261209);
  std::vector<std::size_t> points{1, 2, 3, total / 2, total - 1, total};
  for (int i = 0; i < 6; ++i)
    points.push_back(std::uniform_int_distribution<std::size_t>(1, total)(random));
  bool resumed_midway = false;
  for (const std::size_t point : points) {
    fs::remove(socket());
    fs::remove(server_journal());
    said_.str("");
    FakeServer server(socket(), server_journal(), Behaviour{false, true, point});
    SocketSinkOptions opts = options();
    // Few events held: the runner waits for answers, so some come before the server goes.
    opts.sync_every = 3;
    opts.max_unacknowledged = 6;
    run_job(opts);
    server.wait();
    if (point < total) {
      EXPECT_EQ(said_lines().size(), 1u) << point << ": " << said_.str();
      const json header = json::parse(slurp(fallback()).substr(0, slurp(fallback()).find('\n')));
      resumed_midway = resumed_midway || header.value("first", 1) > 1;
      EXPECT_EQ(replayed({server_journal(), fallback()}), expected_) << "gone after " << point;
    } else {
      EXPECT_EQ(replayed({server_journal()}), expected_);
    }
    fs::remove(fallback());
  }
  // Some fallback journal started after events the server had acknowledged.
  EXPECT_TRUE(resumed_midway);
}

TEST_F(SocketSinkTest, AServerThatStopsAnsweringIsLeftAfterTheTimeout) {
  FakeServer server(socket(), server_journal(), Behaviour{false, false});
  SocketSinkOptions opts = options();
  opts.timeout = std::chrono::milliseconds(300);
  run_job(opts);
  const std::vector<std::string> said = said_lines();
  ASSERT_EQ(said.size(), 1u) << said_.str();
  EXPECT_NE(said[0].find("did not answer a sync within 300 ms"), std::string::npos) << said[0];
  server.wait();
  EXPECT_EQ(replayed({server_journal(), fallback()}), expected_);
}

TEST_F(SocketSinkTest, TheRunnerWaitsWhileTheMostEventsAreUnacknowledged) {
  // No answer ever comes: with at most 10 events held, the server gets no more than 10
  // before the sink gives up on it.
  FakeServer server(socket(), server_journal(), Behaviour{false, false});
  SocketSinkOptions opts = options();
  opts.timeout = std::chrono::milliseconds(200);
  opts.max_unacknowledged = 10;
  run_job(opts);
  server.wait();
  EXPECT_LE(server.lines(), 10u);
  EXPECT_EQ(said_lines().size(), 1u) << said_.str();
  EXPECT_EQ(replayed({server_journal(), fallback()}), expected_);
}

TEST_F(SocketSinkTest, AHelloRefusedNamesTheServersReason) {
  FakeServer server(socket(), server_journal(), Behaviour{true});
  run_job(options());
  server.wait();
  const std::vector<std::string> said = said_lines();
  ASSERT_EQ(said.size(), 1u) << said_.str();
  EXPECT_NE(said[0].find("refused the runner: a runner is connected already"), std::string::npos)
      << said[0];
  EXPECT_EQ(replayed({fallback()}), expected_);
}

// A text the protocol cannot carry fails the call that holds it, in the runner, before anything
// is queued: the job's other events all reach the server, or the fallback journal.
TEST_F(SocketSinkTest, ATextThatIsNotUtf8FailsItsOwnCallAndNoOther) {
  for (const bool served : {true, false}) {
    fs::remove(server_journal());
    fs::remove(fallback());
    std::optional<FakeServer> server;
    if (served) server.emplace(socket(), server_journal(), Behaviour{});
    {
      utils::ScopedClock clock(testing_jobs::ticking_clock());
      auto job = connect_trialkit(options(), Value("job"), Value(1));
      EXPECT_THROW(job->update(Map{{"note", Value("bad \xff")}}), SerializationError);
      EXPECT_THROW(job->add_task(Value("t\xc3"), Value(2)), SerializationError);
      testing_jobs::drive(*job, scratch_.path());
    }
    if (served) server->wait();
    EXPECT_EQ(replayed({served ? server_journal() : fallback()}), expected_) << served;
    fs::remove(socket());
  }
}

TEST_F(SocketSinkTest, EventsTheServerRefusesAreToldAndNeverReplayed) {
  // Event 2 is refused; the server stays, or goes away some events later.
  for (const std::size_t point : {std::numeric_limits<std::size_t>::max(), std::size_t{6},
                                  std::size_t{40}}) {
    fs::remove(socket());
    fs::remove(server_journal());
    fs::remove(fallback());
    said_.str("");
    FakeServer server(socket(), server_journal(), Behaviour{false, true, point});
    SocketSinkOptions opts = options();
    opts.sync_every = 8;
    run_job(opts, true);
    server.wait();
    const std::vector<std::string> said = said_lines();
    ASSERT_FALSE(said.empty());
    EXPECT_NE(said[0].find("refused event 2 (update)"), std::string::npos) << said[0];
    EXPECT_NE(said[0].find("tasks"), std::string::npos) << said[0];
    const bool gone = point != std::numeric_limits<std::size_t>::max();
    EXPECT_EQ(said.size(), gone ? 2u : 1u) << said_.str();
    EXPECT_EQ(replayed(gone ? std::vector<fs::path>{server_journal(), fallback()}
                            : std::vector<fs::path>{server_journal()}),
              expected_) << point;
  }
}

}  // namespace
}  // namespace morvi::service::clients
