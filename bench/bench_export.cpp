// morvi export junit and morvi merge on generated jobs, each run as its own process as a user
// runs it, under /usr/bin/time: wall-clock and CPU seconds (user + system) and peak resident
// memory. The export streams, so its memory should follow the largest
// task rather than the job; the merge is given the job as two shards of half the tasks each
// (the first holding the job-level plugin).
//
//   bench_export [--runs N] [--keep DIR] [--tasks N] [--testcases N] [--sections N] [--steps N]
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.hpp"

namespace {

namespace fs = std::filesystem;
using morvi::bench::median;
using morvi::bench::parse_count;
using morvi::bench::set_shape_option;

[[noreturn]] void die(const std::string& message) {
  std::fprintf(stderr, "bench_export: %s\n", message.c_str());
  std::exit(2);
}

struct Usage {
  double wall = 0;
  double cpu = 0;
  long peak_kib = 0;
};

// Runs `argv` with its output discarded under GNU time and returns what it used. The peak is
// time's reading, not this process's wait4: a child forked from here would carry this
// process's own resident pages in its peak.
Usage run_child(const std::vector<std::string>& argv, const fs::path& report) {
  std::vector<std::string> timed = {"/usr/bin/time", "-f", "%e %U %S %M", "-o", report.string()};
  timed.insert(timed.end(), argv.begin(), argv.end());
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid < 0) die("cannot fork");
  if (pid == 0) {
    if (!std::freopen("/dev/null", "w", stdout)) _exit(127);
    std::vector<char*> args;
    for (const std::string& a : timed) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    die(argv[1] + " " + argv[2] + " failed");
  }
  Usage u;
  double user = 0, system = 0;
  std::ifstream in(report);
  if (!(in >> u.wall >> user >> system >> u.peak_kib)) die("cannot read " + report.string());
  u.cpu = user + system;
  return u;
}

void write_job(const morvi::bench::JobShape& shape, const fs::path& path) {
  const auto job = morvi::bench::generate_job(shape);
  std::ofstream(path, std::ios::binary) << job->dump_json();
}

std::string load() {
  double averages[3] = {0, 0, 0};
  if (getloadavg(averages, 3) != 3) return "unknown";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", averages[0], averages[1], averages[2]);
  return text;
}

void measure(const char* name, const std::vector<std::string>& argv, int runs, const fs::path& work) {
  std::vector<double> walls, cpus, peaks;
  for (int r = 0; r < runs; ++r) {
    const Usage u = run_child(argv, work / "usage.txt");
    walls.push_back(u.wall);
    cpus.push_back(u.cpu);
    peaks.push_back(static_cast<double>(u.peak_kib));
    std::printf("%s run %d: %.2f s wall, %.2f s cpu, peak %ld KiB (load %s)\n", name, r + 1, u.wall,
                u.cpu, u.peak_kib, load().c_str());
  }
  std::printf("%s median: %.2f s wall, %.2f s cpu, peak %.0f KiB\n", name, median(walls), median(cpus),
              median(peaks));
}

}  // namespace

int main(int argc, char** argv) {
  morvi::bench::JobShape shape;
  int runs = 3;
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) die("missing value for " + flag);
    if (flag == "--keep") {
      keep = argv[++i];
      continue;
    }
    const int n = parse_count("bench_export", flag, argv[++i]);
    if (flag == "--runs") runs = n < 1 ? 1 : n;
    else if (!set_shape_option(shape, flag, n)) die("unknown option " + flag);
  }
  if (shape.tasks < 2) die("--tasks needs at least 2 (the merge takes two shards)");
  const fs::path work = keep.empty() ? fs::temp_directory_path() / ("bench_export-" + std::to_string(getpid()))
                                     : fs::path(keep);
  fs::create_directories(work);
  const fs::path results = work / "results.json";
  const fs::path first = work / "shard-1.json";
  const fs::path second = work / "shard-2.json";
  write_job(shape, results);
  morvi::bench::JobShape half = shape;
  half.tasks = shape.tasks / 2;
  write_job(half, first);
  half.first_task = half.tasks;
  half.tasks = shape.tasks - half.tasks;
  half.job_plugin = false;
  write_job(half, second);
  std::printf("job: %zu nodes, results.json %.1f MB, shards %.1f + %.1f MB\n",
              morvi::bench::node_count(shape), static_cast<double>(fs::file_size(results)) / 1e6,
              static_cast<double>(fs::file_size(first)) / 1e6,
              static_cast<double>(fs::file_size(second)) / 1e6);
  std::printf("load average at the start: %s\n", load().c_str());

  measure("export junit", {MORVI_EXE, "export", "junit", results.string(), "-o", (work / "junit.xml").string()},
          runs, work);
  std::printf("junit.xml: %.1f MB\n", static_cast<double>(fs::file_size(work / "junit.xml")) / 1e6);
  measure("merge", {MORVI_EXE, "merge", first.string(), second.string(), "-o", (work / "merged.json").string()},
          runs, work);
  std::printf("load average at the end: %s\n", load().c_str());
  if (keep.empty()) fs::remove_all(work);
  return 0;
}
