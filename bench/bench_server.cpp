// The reporter server's costs, in CPU time measured in one run:
//   - the runner's cost of a generated job sent through the socket client to `morvi serve`
//     (the bench process: the runner's thread and the sink's) against the same job built in
//     process;
//   - the server's events per second of CPU time, journaling with batch syncs;
//   - the journal's bytes per node;
//   - `morvi replay` of a larger job's journal against building that job in process and
//     writing the same four documents.
//
//   bench_server [--tasks N] [--testcases N] [--sections N] [--steps N] [--replay-tasks N]
//                [--keep DIR]
//
// The default job has about 200,000 nodes; the replayed one has --replay-tasks (default 50)
// tasks of its shape, about 1,000,000 nodes. --keep leaves the journals and documents in DIR
// (large.journal is the replayed one), for profiling a replay on its own.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "bench_support.hpp"
#include "morvi/reporter/markfolio.hpp"
#include "morvi/service/clients/socket_event_sink.hpp"
#include "morvi/service/journal/journal.hpp"
#include "morvi/utils/atomic_file.hpp"

namespace {

namespace fs = std::filesystem;
using morvi::Value;
using morvi::bench::JobShape;

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; }

double cpu_of(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double system_of(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return seconds(usage.ru_stime);
}

double thread_cpu() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Child {
  pid_t pid;
  int out;  // its standard output, read until it is ready, kept open until it ends
};

// Starts the morvi tool with `args`; with `ready` it waits for that first line of its output.
Child start(const std::vector<std::string>& args, const std::string& ready) {
  int out[2];
  if (pipe(out) != 0) std::exit(1);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    std::vector<char*> argv{const_cast<char*>(MORVI_EXE)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(MORVI_EXE, argv.data());
    _exit(127);
  }
  close(out[1]);
  std::string line;
  char c;
  while (!ready.empty() && line != ready && read(out[0], &c, 1) == 1) line = c == '\n' ? line : line + c;
  if (!ready.empty() && line != ready) {
    std::fprintf(stderr, "bench_server: morvi %s did not start\n", args[0].c_str());
    std::exit(1);
  }
  return {pid, out[0]};
}

// Its exit status, once it ended; what it printed is dropped.
int finish(const Child& child) {
  char chunk[4096];
  while (read(child.out, chunk, sizeof chunk) > 0) {
  }
  close(child.out);
  int status = 0;
  waitpid(child.pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void write_documents(const morvi::reporter::trialkit::TrialKit& job, const fs::path& dir) {
  fs::create_directories(dir);
  morvi::utils::write_file_atomically((dir / "results.json").string(), job.dump_json());
  morvi::utils::write_file_atomically((dir / "results.yaml").string(), job.dump_yaml());
  morvi::reporter::markfolio::MarkFolio(dir.string(), job).generate_xml({}, {});
}

std::size_t event_lines(const fs::path& journal) {
  std::ifstream in(journal, std::ios::binary);
  std::size_t lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  return lines - 1;  // the header
}

}  // namespace

int main(int argc, char** argv) {
  JobShape shape;
  int replay_tasks = 50;
  std::string keep;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string_view(argv[i]) == "--keep") {
      keep = argv[i + 1];
      continue;
    }
    const int n = morvi::bench::parse_count("bench_server", argv[i], argv[i + 1]);
    if (std::string_view(argv[i]) == "--replay-tasks") {
      replay_tasks = n;
    } else if (!morvi::bench::set_shape_option(shape, argv[i], n)) {
      std::fprintf(stderr, "usage: bench_server [--tasks N] [--testcases N] [--sections N] "
                           "[--steps N] [--replay-tasks N] [--keep DIR]\n");
      return 2;
    }
  }
  char scratch_name[] = "/tmp/morvi-bench-server-XXXXXX";
  if (mkdtemp(scratch_name) == nullptr) return 1;
  const fs::path scratch = scratch_name;
  const std::size_t nodes = morvi::bench::node_count(shape);

  // In process.
  double begin = thread_cpu();
  {
    auto job = morvi::reporter::trialkit::TrialKit::create(Value(morvi::bench::kJobId),
                                                           Value(morvi::bench::kJobSeqNum));
    morvi::bench::drive_job(*job, shape);
  }
  const double in_process = thread_cpu() - begin;

  // Through the server: the runner's process (its thread and the sink's), and the server's.
  const std::string socket = (scratch / "s").string();
  const fs::path journal = scratch / "server.journal";
  const double children_before = cpu_of(RUSAGE_CHILDREN);
  const Child server = start({"serve", "--socket", socket, "--journal", journal.string(), "--fsync", "batch"},
                             "listening on " + socket);
  begin = cpu_of(RUSAGE_SELF);
  const double system_before = system_of(RUSAGE_SELF);
  double runner_thread = 0;
  {
    morvi::service::clients::SocketSinkOptions options;
    options.socket_path = socket;
    options.fallback_path = (scratch / "fallback.journal").string();
    auto job = morvi::service::clients::connect_trialkit(options, Value(morvi::bench::kJobId),
                                                         Value(morvi::bench::kJobSeqNum));
    const double thread_begin = thread_cpu();
    morvi::bench::drive_job(*job, shape);
    runner_thread = thread_cpu() - thread_begin;
  }
  const double through_client = cpu_of(RUSAGE_SELF) - begin;
  const double through_system = system_of(RUSAGE_SELF) - system_before;
  kill(server.pid, SIGTERM);
  if (finish(server) != 0 || fs::exists(scratch / "fallback.journal")) {
    std::fprintf(stderr, "bench_server: the server failed or the runner fell back\n");
    return 1;
  }
  const double server_cpu = cpu_of(RUSAGE_CHILDREN) - children_before;
  const std::size_t events = event_lines(journal);
  const auto journal_bytes = static_cast<double>(fs::file_size(journal));

  // Replay of a larger job's journal against building it in process with its documents.
  JobShape large = shape;
  large.tasks = replay_tasks;
  const std::size_t large_nodes = morvi::bench::node_count(large);
  const fs::path large_journal = scratch / "large.journal";
  {
    auto sink = std::make_shared<morvi::service::journal::JournalWriter>(
        large_journal.string(), morvi::service::journal::FsyncPolicy::never);
    auto job = morvi::service::protocol::RecordingTrialKit::create(sink, Value(morvi::bench::kJobId),
                                                                   Value(morvi::bench::kJobSeqNum));
    morvi::bench::drive_job(*job, large);
  }
  begin = thread_cpu();
  {
    auto job = morvi::reporter::trialkit::TrialKit::create(Value(morvi::bench::kJobId),
                                                           Value(morvi::bench::kJobSeqNum));
    morvi::bench::drive_job(*job, large);
    write_documents(*job, scratch / "in-process");
  }
  const double large_in_process = thread_cpu() - begin;
  const double replay_before = cpu_of(RUSAGE_CHILDREN);
  if (finish(start({"replay", large_journal.string(), "-o", (scratch / "replayed").string()}, "")) != 0) {
    std::fprintf(stderr, "bench_server: morvi replay failed\n");
    return 1;
  }
  const double replay = cpu_of(RUSAGE_CHILDREN) - replay_before;

  std::printf("job: %zu nodes, %zu events\n", nodes, events);
  std::printf("runner in process:          %.3f s CPU\n", in_process);
  std::printf("runner through the client:  %.3f s CPU  (%.2fx in process; goal at most 2x)\n",
              through_client, through_client / in_process);
  std::printf("  of which the runner's thread %.3f s, system time %.3f s\n", runner_thread,
              through_system);
  std::printf("server, batch fsync:        %.3f s CPU  %.0f events/s  (goal at least 1,000,000/s)\n",
              server_cpu, static_cast<double>(events) / server_cpu);
  std::printf("journal:                    %.0f bytes, %.1f bytes/node\n", journal_bytes,
              journal_bytes / static_cast<double>(nodes));
  std::printf("replayed job: %zu nodes, journal %.0f MB\n", large_nodes,
              static_cast<double>(fs::file_size(large_journal)) / 1e6);
  std::printf("in process with documents:  %.3f s CPU\n", large_in_process);
  std::printf("morvi replay:               %.3f s CPU  (%.2fx in process; goal at most 1.5x)\n",
              replay, replay / large_in_process);
  if (keep.empty()) {
    fs::remove_all(scratch);
  } else {
    fs::remove_all(keep);
    fs::rename(scratch, keep);
  }
  return 0;
}
