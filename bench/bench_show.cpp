// `morvi show results` on the results file of a generated job (about 200,000 nodes by
// default), shown to the top alone (--depth 0), to the depth of testcases (--depth 2) and
// whole. Each run is a separate
// process whose output this program reads through a pipe, as `| less` would: the time until
// its first line arrives, its wall-clock and CPU time (user + system), its peak resident
// memory, and how many lines it printed. Prints every run and the medians.
//
//   bench_show [--runs N] [--file PATH] [--keep DIR] [--morvi PATH] [--tasks N]
//              [--testcases N] [--sections N] [--steps N]
// --file shows an existing results file instead of generating one; --morvi times another
// build of the tool (an earlier one, say) on the same file.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.hpp"

namespace {

using morvi::bench::median;
using morvi::bench::parse_count;
using morvi::bench::set_shape_option;

namespace fs = std::filesystem;

struct Run {
  double first_line;  // seconds from the start until the first line arrived
  double wall;
  double cpu;
  long peak_kib;
  std::size_t lines;
};

[[noreturn]] void die(const std::string& message) {
  std::fprintf(stderr, "bench_show: %s\n", message.c_str());
  std::exit(2);
}

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

Run run(const std::vector<std::string>& argv) {
  std::fflush(stdout);
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) die("cannot make a pipe");
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) die("cannot fork");
  if (pid == 0) {
    ::dup2(pipe_ends[1], STDOUT_FILENO);
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    _exit(127);
  }
  ::close(pipe_ends[1]);
  const auto since_start = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  Run result{-1, 0, 0, 0, 0};
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t got = ::read(pipe_ends[0], buffer.data(), buffer.size());
    if (got <= 0) break;
    for (ssize_t i = 0; i < got; ++i) result.lines += buffer[static_cast<std::size_t>(i)] == '\n';
    if (result.first_line < 0 && result.lines > 0) result.first_line = since_start();
  }
  ::close(pipe_ends[0]);
  int status = 0;
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid) die("cannot wait for " + argv[0]);
  result.wall = since_start();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) die(argv[0] + " failed");
  result.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  result.peak_kib = usage.ru_maxrss;
  return result;
}

double load_average() {
  double load[1] = {0};
  return ::getloadavg(load, 1) == 1 ? load[0] : -1;
}

}  // namespace

int main(int argc, char** argv) {
  morvi::bench::JobShape shape;
  int runs = 3;
  fs::path file;
  fs::path keep;
  std::string morvi = MORVI_EXE;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) die(flag + " needs a value");
    const char* value = argv[++i];
    if (flag == "--runs") runs = std::max(1, parse_count("bench_show", flag, value));
    else if (flag == "--file") file = value;
    else if (flag == "--keep") keep = value;
    else if (flag == "--morvi") morvi = value;
    else if (!set_shape_option(shape, flag, parse_count("bench_show", flag, value))) die("unknown flag " + flag);
  }
  std::printf("load average at the start: %.2f\n", load_average());
  const bool temporary = file.empty() && keep.empty();
  if (file.empty()) {
    const fs::path dir = keep.empty() ? fs::temp_directory_path() / "bench_show" : keep;
    fs::create_directories(dir);
    file = dir / "results.json";
    std::printf("generating a job of %zu nodes\n", morvi::bench::node_count(shape));
    std::fflush(stdout);
    // In a process of its own: a child forked from a process that still held the job would
    // start with its memory and report it as its own peak.
    const pid_t pid = ::fork();
    if (pid < 0) die("cannot fork");
    if (pid == 0) {
      std::ofstream(file, std::ios::binary) << morvi::bench::generate_job(shape)->dump_json();
      _exit(0);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      die("cannot generate the job");
    }
  }
  std::printf("%s: %.1f MB, shown by %s\n", file.c_str(), static_cast<double>(fs::file_size(file)) / 1e6,
              morvi.c_str());
  // --depth 0 does the work that comes before the first line and stops there.
  for (const char* depth : {"0", "2", ""}) {
    const bool whole = *depth == '\0';
    std::vector<std::string> args{morvi, "show", "results", file.string()};
    if (!whole) args.insert(args.end(), {"--depth", depth});
    const std::string mode = whole ? "whole" : std::string("--depth ") + depth;
    std::vector<double> first, wall, cpu;
    long peak = 0;
    std::size_t lines = 0;
    for (int r = 0; r < runs; ++r) {
      const Run one = run(args);
      std::printf("  %-9s run %d: first line %.3f s, wall %.3f s, CPU %.3f s, peak %ld KiB, %zu lines\n",
                  mode.c_str(), r + 1, one.first_line, one.wall, one.cpu,
                  one.peak_kib, one.lines);
      first.push_back(one.first_line);
      wall.push_back(one.wall);
      cpu.push_back(one.cpu);
      peak = std::max(peak, one.peak_kib);
      lines = one.lines;
    }
    std::printf("%-9s medians: first line %.3f s, wall %.3f s, CPU %.3f s; peak %ld KiB (%.2fx the file); %zu lines\n",
                mode.c_str(), median(first), median(wall), median(cpu), peak,
                static_cast<double>(peak) * 1024 / static_cast<double>(fs::file_size(file)), lines);
  }
  std::printf("load average at the end: %.2f\n", load_average());
  if (temporary) fs::remove_all(file.parent_path());
  return 0;
}
