// Results document throughput: dump_json and dump_yaml of a synthetic job, several times each,
// with the medians in seconds (by the wall clock and by the CPU time the process used, which
// other processes on a shared machine do not stretch) and in MB of output per second, and the
// process's peak memory after building the job, after writing results.yaml to a file with
// YAMLDumper::write_results, and after the dump_yaml runs (each writer's peak is the rise
// over the one before, as the file runs first); then the
// same JSON document handed to bench_documents.py, which loads it as plain data and times
// Python's json.dumps and PyYAML's dump of it (no hooks: the fastest a dynamic-language writer
// could go) the same two ways, and the ratios of the medians.
//
//   bench_documents [--runs N] [--python-json-runs N] [--python-yaml-runs N] [--tasks N]
//                   [--testcases N] [--sections N] [--steps N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "bench_support.hpp"
#include "morvi/reporter/trialkit/yaml.hpp"

namespace {

using morvi::bench::median;
using morvi::bench::parse_count;
using morvi::bench::set_shape_option;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Timing {
  double wall;
  double cpu;
  double megabytes;
};

// The process's CPU time split into user and system, and the page faults it took: the system
// time of a writer is mostly faulting in fresh pages for its output.
struct Usage {
  double user;
  double system;
  long faults;
};

Usage usage_now() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return {seconds(usage.ru_utime), seconds(usage.ru_stime), usage.ru_minflt + usage.ru_majflt};
}

// "user U s, system S s, F page faults" between two readings.
void print_usage(const Usage& begin, const Usage& end) {
  std::printf(" [user %.3f s, system %.3f s, %ld page faults]", end.user - begin.user, end.system - begin.system,
              end.faults - begin.faults);
}

// Medians of `runs` calls of `dump`; the document of the last call is kept in `document`.
Timing time_dump(const char* name, int runs, const std::function<std::string()>& dump, std::string& document) {
  std::vector<double> walls, cpus;
  for (int run = 0; run < runs; ++run) {
    document.clear();
    document.shrink_to_fit();
    const auto begin = Clock::now();
    const Usage usage_begin = usage_now();
    document = dump();
    const Usage usage_end = usage_now();
    cpus.push_back(usage_end.user + usage_end.system - usage_begin.user - usage_begin.system);
    walls.push_back(std::chrono::duration<double>(Clock::now() - begin).count());
    const double mb = static_cast<double>(document.size()) / 1e6;
    std::printf("%s run %d: %.3f s (cpu %.3f s), %.1f MB: %.1f MB/s (cpu %.1f MB/s)", name, run + 1, walls.back(),
                cpus.back(), mb, mb / walls.back(), mb / cpus.back());
    print_usage(usage_begin, usage_end);
    std::printf("\n");
  }
  const Timing t{median(walls), median(cpus), static_cast<double>(document.size()) / 1e6};
  std::printf("%s median: %.3f s, cpu %.3f s: %.1f MB/s, cpu %.1f MB/s over %d runs\n", name, t.wall, t.cpu,
              t.megabytes / t.wall, t.megabytes / t.cpu, runs);
  return t;
}

double peak_rss_mb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
  morvi::bench::JobShape shape;
  int runs = 5;
  int python_json_runs = 3;
  int python_yaml_runs = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) {
      std::fprintf(stderr, "bench_documents: %s needs a value\n", flag.c_str());
      return 2;
    }
    const int n = parse_count("bench_documents", argv[i], argv[i + 1]);
    ++i;
    if (flag == "--runs") runs = std::max(1, n);
    else if (flag == "--python-json-runs") python_json_runs = n;
    else if (flag == "--python-yaml-runs") python_yaml_runs = n;
    else if (!set_shape_option(shape, flag, n)) {
      std::fprintf(stderr, "bench_documents: unknown option %s\n", flag.c_str());
      return 2;
    }
  }

  const auto job = morvi::bench::generate_job(shape);
  std::printf("job: %zu nodes\n", morvi::bench::node_count(shape));
  std::printf("memory: peak RSS %.0f MB with the job built\n", peak_rss_mb());
  char file_folder[] = "/tmp/bench_documents_yaml.XXXXXX";
  if (mkdtemp(file_folder) == nullptr) {
    std::perror("bench_documents: mkdtemp");
    return 1;
  }
  const fs::path yaml_file = fs::path(file_folder) / "results.yaml";
  {
    const auto begin = Clock::now();
    const Usage usage_begin = usage_now();
    morvi::reporter::trialkit::YAMLDumper::write_results(*job, yaml_file.string());
    const Usage usage_end = usage_now();
    const double cpu = usage_end.user + usage_end.system - usage_begin.user - usage_begin.system;
    const double wall = std::chrono::duration<double>(Clock::now() - begin).count();
    const double mb = static_cast<double>(fs::file_size(yaml_file)) / 1e6;
    std::printf("dump_yaml to a file: %.3f s (cpu %.3f s), %.1f MB: %.1f MB/s (cpu %.1f MB/s)", wall, cpu, mb,
                mb / wall, mb / cpu);
    print_usage(usage_begin, usage_end);
    std::printf("\n");
  }
  fs::remove_all(file_folder);
  std::printf("memory: peak RSS %.0f MB after dump_yaml to a file\n", peak_rss_mb());
  std::string yaml, json;
  const Timing ours_yaml = time_dump("dump_yaml", runs, [&] { return job->dump_yaml(); }, yaml);
  std::printf("memory: peak RSS %.0f MB after dump_yaml\n", peak_rss_mb());
  yaml.clear();
  yaml.shrink_to_fit();
  const Timing ours_json = time_dump("dump_json", runs, [&] { return job->dump_json(); }, json);
  if (python_json_runs + python_yaml_runs == 0) return 0;

  char folder_template[] = "/tmp/bench_documents.XXXXXX";
  if (mkdtemp(folder_template) == nullptr) {
    std::perror("bench_documents: mkdtemp");
    return 1;
  }
  const fs::path folder = folder_template;
  const fs::path document_file = folder / "results.json";
  std::ofstream(document_file, std::ios::binary) << json;
  json.clear();
  json.shrink_to_fit();
  const std::string command = "/usr/bin/python3 " MORVI_BENCH_DIR "/bench_documents.py " + document_file.string() +
                              " --json-runs " + std::to_string(python_json_runs) + " --yaml-runs " +
                              std::to_string(python_yaml_runs);
  std::fflush(stdout);
  FILE* peer = popen(command.c_str(), "r");
  double json_wall = 0, json_cpu = 0, yaml_wall = 0, yaml_cpu = 0;
  char line[512];
  while (peer != nullptr && std::fgets(line, sizeof line, peer) != nullptr) {
    std::fputs(line, stdout);
    std::fflush(stdout);
    std::sscanf(line, "python json.dumps median: %lf s, cpu %lf", &json_wall, &json_cpu);
    std::sscanf(line, "python yaml.dump median: %lf s, cpu %lf", &yaml_wall, &yaml_cpu);
  }
  const bool failed = peer == nullptr || pclose(peer) != 0;
  fs::remove_all(folder);
  if (failed) {
    std::fprintf(stderr, "bench_documents: the Python peer failed: %s\n", command.c_str());
    return 1;
  }
  if (json_wall > 0)
    std::printf("ratio: dump_json is %.1fx faster than json.dumps (cpu %.1fx)\n", json_wall / ours_json.wall,
                json_cpu / ours_json.cpu);
  if (yaml_wall > 0)
    std::printf("ratio: dump_yaml is %.0fx faster than PyYAML (cpu %.0fx)\n", yaml_wall / ours_yaml.wall,
                yaml_cpu / ours_yaml.cpu);
  return 0;
}
