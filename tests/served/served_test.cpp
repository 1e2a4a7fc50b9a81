// Jobs run in real processes: the runner in one, `morvi serve` in another, `morvi replay`
// after them. A job built in process, through the server, and replayed from the server's
// journal gives the same four documents byte for byte; killing the runner or the server
// midway loses no acknowledged event; `morvi watch` follows a job to its end.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "morvi/service/clients/socket_client.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "process.hpp"

namespace morvi::served_testing {
namespace {

const std::string kMorvi = MORVI_EXE;
const std::string kRunner = SERVED_RUNNER;
const std::vector<std::string> kDocuments = {"results.json", "results.yaml", "ResultsDetails.xml",
                                             "ResultsSummary.xml"};
// About 6,000 nodes, paced so that a run lasts about a second: long enough to be cut midway.
const std::string kPacedJob = "generated:1,60,9,10";
const std::string kPace = "40";
// About 1,000 nodes: with every event synced the server takes a few hundred a second, so a
// kill within 1.5 s always lands midway, some after the first acknowledgements.
const std::string kSyncedJob = "generated:1,10,9,10";

// Sockets live under /tmp: a socket address holds at most 107 bytes, a build folder may be deep.
class SocketDir {
 public:
  SocketDir() {
    char name[] = "/tmp/morvi-served-XXXXXX";
    if (::mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = name;
  }
  ~SocketDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string socket() const { return (path_ / "s").string(); }

 private:
  fs::path path_;
};

// `morvi serve` in a child process, taking connections once constructed.
class Serve {
 public:
  Serve(const std::string& socket, const fs::path& journal, const std::string& fsync)
      : process_(kMorvi, {"serve", "--socket", socket, "--journal", journal.string(), "--fsync", fsync},
                 journal.string() + ".err") {
    const auto first = process_.line();
    if (first != "listening on " + socket)
      throw std::runtime_error("morvi serve did not start: " + process_.errors());
  }
  Process& process() { return process_; }

 private:
  Process process_;
};

std::vector<std::string> server_run(const std::string& job, const fs::path& work,
                                    const std::string& socket, const std::string& pace = "") {
  std::vector<std::string> args{job, "server", work.string(), socket, (work / "fallback.journal").string()};
  if (!pace.empty()) args.push_back(pace);
  return args;
}

// The number of the last "acked N" line; 0 when there is none.
std::size_t last_acknowledged(const std::vector<std::string>& lines) {
  std::size_t acked = 0;
  for (const std::string& line : lines)
    if (line.rfind("acked ", 0) == 0) acked = std::stoul(line.substr(6));
  return acked;
}

// The whole event lines of a journal, without its header; a torn last line is left out.
std::vector<std::string> journal_events(const fs::path& journal) {
  const std::string text = slurp(journal);
  std::vector<std::string> lines;
  std::size_t begin = text.find('\n') + 1;
  for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1)
    lines.push_back(text.substr(begin, end - begin));
  return lines;
}

// Where two files first differ, for a message that does not print megabytes.
std::string same_bytes(const fs::path& a, const fs::path& b) {
  const std::string x = slurp(a), y = slurp(b);
  if (x == y && !x.empty()) return "";
  const auto at = std::mismatch(x.begin(), x.end(), y.begin(), y.end()).first - x.begin();
  return a.string() + " (" + std::to_string(x.size()) + " bytes) and " + b.string() + " (" +
         std::to_string(y.size()) + " bytes) differ at byte " + std::to_string(at) + ": '" +
         x.substr(static_cast<std::size_t>(at), 80) + "' vs '" +
         y.substr(static_cast<std::size_t>(at), 80) + "'";
}

void expect_same_documents(const fs::path& expected, const fs::path& actual) {
  for (const std::string& name : kDocuments)
    EXPECT_EQ(same_bytes(expected / name, actual / name), "") << name;
}

// The four documents of the server's tree as it stands, written by the server into `dir`.
void fetch_documents(const std::string& socket, const fs::path& dir) {
  service::clients::SocketReporterClient reader(socket);
  EXPECT_EQ(reader.write_document("json", dir.string()), (dir / "results.json").string());
  EXPECT_EQ(reader.write_document("yaml", dir.string()), (dir / "results.yaml").string());
  reader.write_xml(dir.string());
}

// Waits until the server no longer has a runner connected.
void await_runner_gone(const std::string& socket) {
  service::clients::SocketReporterClient reader(socket);
  for (int i = 0; i < 2000; ++i) {
    const Value* runner = reader.progress().find("runner");
    if (runner != nullptr && !runner->truthy()) return;
    std::this_thread::sleep_for(5ms);
  }
  FAIL() << "the server still holds the runner's connection";
}

std::int64_t events_applied(const std::string& socket) {
  service::clients::SocketReporterClient reader(socket);
  const Value* events = reader.progress().find("events");
  return events != nullptr && events->is_int() ? events->as_int() : -1;
}

int replay(const std::vector<fs::path>& journals, const fs::path& out, const fs::path& errors) {
  std::vector<std::string> args{"replay"};
  for (const fs::path& journal : journals) args.push_back(journal.string());
  args.insert(args.end(), {"-o", out.string()});
  return run(kMorvi, args, errors);
}

struct JobCase {
  std::string name;
  std::string job;
};

void PrintTo(const JobCase& c, std::ostream* os) { *os << c.name; }

class ThreeWays : public ::testing::TestWithParam<JobCase> {};

TEST_P(ThreeWays, InProcessThroughTheServerAndReplayedGiveTheSameDocuments) {
  morvi::testing::ScratchDir scratch;
  SocketDir sockets;
  const std::string& job = GetParam().job;
  ASSERT_EQ(run(kRunner, {job, "direct", (scratch / "direct").string()}, scratch / "direct.err"), 0)
      << slurp(scratch / "direct.err");

  const fs::path journal = scratch / "server.journal";
  {
    Serve server(sockets.socket(), journal, "batch");
    Process runner(kRunner, server_run(job, scratch / "served", sockets.socket()), scratch / "served.err");
    const auto lines = runner.lines();
    ASSERT_EQ(runner.wait(), 0) << runner.errors();
    EXPECT_EQ(runner.errors(), "") << "the runner fell back or was refused";
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("done ", 0), 0u);
    fetch_documents(sockets.socket(), scratch / "served" / "out");
    server.process().signal(SIGTERM);
    EXPECT_EQ(server.process().wait(), 0);
  }
  ASSERT_EQ(replay({journal}, scratch / "replayed", scratch / "replay.err"), 0)
      << slurp(scratch / "replay.err");

  expect_same_documents(scratch / "direct" / "out", scratch / "served" / "out");
  expect_same_documents(scratch / "direct" / "out", scratch / "replayed");
}

// About 20,000 nodes: 2 tasks of 100 testcases of 9 sections of 10 steps.
INSTANTIATE_TEST_SUITE_P(Jobs, ThreeWays,
                         ::testing::Values(JobCase{"sample", "sample"},
                                           JobCase{"generated20k", "generated:2,100,9,10"}),
                         [](const auto& info) { return info.param.name; });

// Kill points within `last` ms, the same each time the test runs.
std::vector<int> kill_points_ms(unsigned seed, int last) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> point(30, last);
  std::vector<int> points(8);
  for (int& p : points) p = point(random);
  return points;
}

TEST(KillLoop, TheServerHoldsEveryEventOfAKilledRunner) {
  morvi::testing::ScratchDir scratch;
  SocketDir sockets;
  // The whole job's events, as a server journals them from a run nobody kills.
  const fs::path whole = scratch / "whole.journal";
  {
    Serve server(sockets.socket(), whole, "never");
    ASSERT_EQ(run(kRunner, server_run(kPacedJob, scratch / "whole", sockets.socket()), scratch / "whole.err"), 0);
    server.process().signal(SIGTERM);
    ASSERT_EQ(server.process().wait(), 0);
  }
  const std::vector<std::string> all = journal_events(whole);
  const auto started = std::chrono::steady_clock::now();
  int cut = 0;
  for (const int point : kill_points_ms(7, 600)) {
    SCOPED_TRACE("kill after " + std::to_string(point) + " ms");
    const fs::path work = scratch / std::to_string(point);
    const fs::path journal = work.string() + ".journal";
    Serve server(sockets.socket(), journal, "batch");
    Process runner(kRunner, server_run(kPacedJob, work, sockets.socket(), kPace), work.string() + ".err");
    std::this_thread::sleep_for(std::chrono::milliseconds(point));
    runner.signal(SIGKILL);
    const std::size_t acked = last_acknowledged(runner.lines());
    runner.wait();
    await_runner_gone(sockets.socket());
    // On a busy machine an early kill can come before the runner's first event reached the
    // server: it then holds no job, and its journal no event, which is all there is to check.
    if (events_applied(sockets.socket()) == 0) {
      EXPECT_EQ(acked, 0u);
      server.process().signal(SIGTERM);
      ASSERT_EQ(server.process().wait(), 0);
      EXPECT_TRUE(journal_events(journal).empty());
      continue;
    }
    fetch_documents(sockets.socket(), work / "server");
    server.process().signal(SIGTERM);
    ASSERT_EQ(server.process().wait(), 0);

    // The journal is the start of the job's events, holding at least every acknowledged one,
    // and the server's tree is the one those events build.
    const std::vector<std::string> held = journal_events(journal);
    EXPECT_GE(held.size(), acked);
    ASSERT_LE(held.size(), all.size());
    EXPECT_TRUE(std::equal(held.begin(), held.end(), all.begin()));
    cut += held.size() < all.size();
    ASSERT_EQ(replay({journal}, work / "replayed", work.string() + ".replay.err"), 0);
    expect_same_documents(work / "replayed", work / "server");
  }
  EXPECT_GE(cut, 4) << "most kills should land while the job runs";
  EXPECT_LT(std::chrono::steady_clock::now() - started, 60s);
}

TEST(KillLoop, AKilledServersJournalAndTheRunnersFallbackRebuildTheWholeJob) {
  morvi::testing::ScratchDir scratch;
  SocketDir sockets;
  ASSERT_EQ(run(kRunner, {kSyncedJob, "direct", (scratch / "direct").string()}, scratch / "direct.err"), 0);
  const auto started = std::chrono::steady_clock::now();
  int fell_back = 0;
  for (const int point : kill_points_ms(11, 1500)) {
    SCOPED_TRACE("kill after " + std::to_string(point) + " ms");
    const fs::path work = scratch / std::to_string(point);
    const fs::path journal = work.string() + ".journal";
    const fs::path fallback = work / "fallback.journal";
    auto server = std::make_unique<Serve>(sockets.socket(), journal, "always");
    Process runner(kRunner, server_run(kSyncedJob, work, sockets.socket()), work.string() + ".err");
    std::this_thread::sleep_for(std::chrono::milliseconds(point));
    server->process().signal(SIGKILL);
    ASSERT_EQ(server->process().wait(), -1);
    server.reset();
    // The job goes on into its fallback journal and ends as it would have.
    const auto lines = runner.lines();
    ASSERT_EQ(runner.wait(), 0) << runner.errors();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("done ", 0), 0u);
    const std::size_t acked = last_acknowledged(lines);

    // The server's journal alone: a valid report holding every acknowledged event. On a busy
    // machine an early kill can come before the runner's first event reached the server; such
    // a journal has nothing to rebuild, and replay refuses it.
    const std::size_t held = journal_events(journal).size();
    EXPECT_GE(held, acked);
    if (held == 0) {
      EXPECT_NE(replay({journal}, work / "cut", work.string() + ".cut.err"), 0);
    } else {
      ASSERT_EQ(replay({journal}, work / "cut", work.string() + ".cut.err"), 0)
          << slurp(work.string() + ".cut.err");
      EXPECT_EQ(run(kMorvi, {"validate", "results", (work / "cut" / "results.json").string()},
                    work.string() + ".validate.err"),
                0)
          << slurp(work.string() + ".validate.err");
    }
    if (!fs::exists(fallback)) continue;  // the job ended before the kill
    ++fell_back;
    const std::string said = runner.errors();
    EXPECT_NE(said.find("fallback.journal"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    // Both journals together: the whole job.
    ASSERT_EQ(replay({journal, fallback}, work / "whole", work.string() + ".whole.err"), 0)
        << slurp(work.string() + ".whole.err");
    expect_same_documents(scratch / "direct" / "out", work / "whole");
  }
  EXPECT_GE(fell_back, 4) << "most kills should land while the job runs";
  EXPECT_LT(std::chrono::steady_clock::now() - started, 60s);
}

// The server's journal stops growing midway (a full disk, here a file-size limit): the server
// takes no more events and says so once, the runner goes on in its fallback journal, and the
// two journals together still rebuild the whole job.
TEST(FullDisk, AServerThatCannotJournalHandsTheJobToTheRunnersFallback) {
  morvi::testing::ScratchDir scratch;
  SocketDir sockets;
  ASSERT_EQ(run(kRunner, {kSyncedJob, "direct", (scratch / "direct").string()}, scratch / "direct.err"), 0);
  const fs::path work = scratch / "full";
  const fs::path journal = scratch / "full.journal";
  // 64 KiB of journal, a tenth of the job's; writes past it fail as on a full disk.
  Process server("/bin/bash",
                 {"-c", "trap '' XFSZ; ulimit -f 64; exec \"$0\" \"$@\"", kMorvi, "serve",
                  "--socket", sockets.socket(), "--journal", journal.string(), "--fsync", "always"},
                 journal.string() + ".err");
  ASSERT_EQ(server.line(), "listening on " + sockets.socket()) << server.errors();
  Process runner(kRunner, server_run(kSyncedJob, work, sockets.socket()), work.string() + ".err");
  const auto lines = runner.lines();
  ASSERT_EQ(runner.wait(), 0) << runner.errors();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("done ", 0), 0u);
  const std::string said = runner.errors();
  EXPECT_NE(said.find("stopped taking events: cannot write the journal"), std::string::npos) << said;
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  // A runner that comes later is turned away at its hello, and goes to its fallback at once.
  Process late(kRunner, server_run(kSyncedJob, scratch / "late", sockets.socket()), scratch / "late.err");
  ASSERT_EQ(late.wait(), 0) << late.errors();
  EXPECT_NE(late.errors().find("this server takes no more events"), std::string::npos) << late.errors();
  server.signal(SIGTERM);
  EXPECT_EQ(server.wait(), 0) << server.errors();
  EXPECT_NE(server.errors().find("no more events are taken"), std::string::npos) << server.errors();

  ASSERT_EQ(replay({journal, work / "fallback.journal"}, work / "whole", work.string() + ".whole.err"), 0)
      << slurp(work.string() + ".whole.err");
  expect_same_documents(scratch / "direct" / "out", work / "whole");
}

// Numbers after `word` in a progress line ("events 120 (...)").
long long number_after(const std::string& line, const std::string& word) {
  const auto at = line.find(word + " ");
  return at == std::string::npos ? -1 : std::stoll(line.substr(at + word.size() + 1));
}

TEST(Watch, PrintsPlainLinesThatFollowTheJobToItsEnd) {
  morvi::testing::ScratchDir scratch;
  SocketDir sockets;
  Serve server(sockets.socket(), scratch / "j", "batch");
  Process runner(kRunner, server_run(kPacedJob, scratch / "run", sockets.socket(), kPace), scratch / "run.err");
  Process watch(kMorvi, {"watch", "--socket", sockets.socket(), "--interval", "0.05"}, scratch / "watch.err");
  const auto lines = watch.lines();
  EXPECT_EQ(watch.wait(), 0) << watch.errors();
  EXPECT_EQ(runner.wait(), 0);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines.back(), "the job finished");
  long long last = -1;
  std::set<long long> seen;
  bool named_testcase = false;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    const std::string& line = lines[i];
    EXPECT_EQ(line.find_first_of("\r\033"), std::string::npos) << "not drawn in place: " << line;
    const long long events = number_after(line, "events");
    EXPECT_GE(events, last) << line;
    last = events;
    seen.insert(events);
    named_testcase = named_testcase || line.find("  running task") != std::string::npos;
  }
  EXPECT_GE(seen.size(), 3u) << "the counts should move while the job runs";
  EXPECT_TRUE(named_testcase) << "no line names the running testcase";
}

TEST(Watch, EndsWithAnErrorWhenTheServerGoes) {
  morvi::testing::ScratchDir scratch;
  SocketDir sockets;
  Serve server(sockets.socket(), scratch / "j", "batch");
  Process runner(kRunner, server_run(kPacedJob, scratch / "run", sockets.socket(), kPace), scratch / "run.err");
  Process watch(kMorvi, {"watch", "--socket", sockets.socket(), "--interval", "0.05"}, scratch / "watch.err");
  ASSERT_TRUE(watch.line().has_value());
  server.process().signal(SIGKILL);
  watch.lines();
  EXPECT_EQ(watch.wait(), 1);
  EXPECT_NE(watch.errors().find("went away before the job finished"), std::string::npos) << watch.errors();
  EXPECT_EQ(runner.wait(), 0) << "the runner goes on in its fallback journal";
}

TEST(Watch, RedrawsOneLineInPlaceOnATerminal) {
  morvi::testing::ScratchDir scratch;
  SocketDir sockets;
  Serve server(sockets.socket(), scratch / "j", "batch");
  Process runner(kRunner, server_run(kPacedJob, scratch / "run", sockets.socket(), kPace), scratch / "run.err");
  // script gives the watch a terminal of its own and copies what it draws.
  Process watch("/usr/bin/script",
                {"-q", "-e", "-c", kMorvi + " watch --socket " + sockets.socket() + " --interval 0.05",
                 "/dev/null"},
                scratch / "watch.err");
  const auto lines = watch.lines();
  EXPECT_EQ(watch.wait(), 0) << watch.errors();
  EXPECT_EQ(runner.wait(), 0);
  ASSERT_EQ(lines.size(), 2u) << "one redrawn line, then the end";
  const std::string& drawn = lines[0];
  EXPECT_GE(std::count(drawn.begin(), drawn.end(), '\r'), 3) << drawn;
  EXPECT_NE(drawn.find("\r\033[Kevents "), std::string::npos);
  EXPECT_EQ(lines[1].rfind("the job finished", 0), 0u);
}

}  // namespace
}  // namespace morvi::served_testing
