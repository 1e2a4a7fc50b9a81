// Lifecycle throughput: builds, starts, updates and stops every node of a synthetic job with
// roll-up, several times, and prints nodes per second for each run (by the wall clock and by
// the CPU time the run used, which other processes on a busy machine do not inflate), their
// medians, and the process's peak resident memory per node.
//
//   bench_lifecycle [--runs N] [--tasks N] [--testcases N] [--sections N] [--steps N]
//   bench_lifecycle --first-touch MIB
//
// The first run in a process also pays the operating system for the memory it touches first;
// --first-touch times only that (writing one byte per page of MIB MiB of fresh memory), so it
// can be told apart from the library's own work.
#include <sys/mman.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.hpp"

namespace {

using morvi::bench::median;
using morvi::bench::parse_count;
using morvi::bench::set_shape_option;

double cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

int first_touch(int mebibytes) {
  const std::size_t size = static_cast<std::size_t>(mebibytes) << 20;
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const auto begin = std::chrono::steady_clock::now();
  void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) {
    std::perror("bench_lifecycle: mmap");
    return 1;
  }
  auto* bytes = static_cast<volatile char*>(memory);
  for (std::size_t at = 0; at < size; at += page) bytes[at] = 1;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  munmap(memory, size);
  std::printf("first touch of %d MiB of fresh memory: %.3f s\n", mebibytes, seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  morvi::bench::JobShape shape;
  int runs = 5;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) {
      std::fprintf(stderr, "bench_lifecycle: %s needs a value\n", flag.c_str());
      return 2;
    }
    const int n = parse_count("bench_lifecycle", argv[i], argv[i + 1]);
    ++i;
    if (flag == "--first-touch") return first_touch(n);
    if (flag == "--runs") runs = std::max(1, n);
    else if (!set_shape_option(shape, flag, n)) {
      std::fprintf(stderr, "bench_lifecycle: unknown option %s\n", flag.c_str());
      return 2;
    }
  }

  const std::size_t nodes = morvi::bench::node_count(shape);
  std::vector<double> wall_rates;
  std::vector<double> cpu_rates;
  for (int run = 0; run < runs; ++run) {
    const double cpu_begin = cpu_seconds();
    const auto begin = std::chrono::steady_clock::now();
    auto job = morvi::bench::generate_job(shape);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const double cpu = cpu_seconds() - cpu_begin;
    wall_rates.push_back(static_cast<double>(nodes) / wall);
    cpu_rates.push_back(static_cast<double>(nodes) / cpu);
    const auto teardown_begin = std::chrono::steady_clock::now();
    job.reset();
    const double teardown =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - teardown_begin).count();
    std::printf("run %d: %zu nodes in %.3f s wall, %.3f s CPU: %.0f nodes/s wall, %.0f nodes/s CPU "
                "(teardown %.3f s)\n",
                run + 1, nodes, wall, cpu, wall_rates.back(), cpu_rates.back(), teardown);
  }
  std::printf("median over %d runs: %.0f nodes/s wall, %.0f nodes/s CPU\n", runs,
              median(wall_rates), median(cpu_rates));
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak RSS: %ld KiB, %.0f bytes per node\n", usage.ru_maxrss,
              static_cast<double>(usage.ru_maxrss) * 1024.0 / static_cast<double>(nodes));
  return 0;
}
