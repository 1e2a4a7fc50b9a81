// XML report throughput: generate_xml on a synthetic job, several times, with the median in
// seconds and in MB of details output per second, and the first run's CPU time against the
// later ones'; one more pass timed step by step; then the
// same rough details bytes handed to bench_xml.py (Python's xml.dom.minidom parsing and
// pretty-printing them, the second half of the same pipeline) and the ratio of the medians.
//
//   bench_xml [--runs N] [--python-runs N] [--keep DIR] [--tasks N] [--testcases N]
//             [--sections N] [--steps N]
//
// --keep writes the reports into DIR and leaves them there (bench/run hands the details to
// xmllint).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "morvi/reporter/markfolio.hpp"

namespace {

using morvi::bench::median;
using morvi::bench::parse_count;
using morvi::bench::set_shape_option;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point begin) {
  return std::chrono::duration<double>(Clock::now() - begin).count();
}

// CPU seconds of this process: steadier than wall time on a machine shared with other work.
double cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Page faults of this process so far that needed no disk: fresh memory being mapped in.
long minor_faults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

}  // namespace

int main(int argc, char** argv) {
  morvi::bench::JobShape shape;
  int runs = 5;
  int python_runs = 3;
  fs::path keep;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) {
      std::fprintf(stderr, "bench_xml: %s needs a value\n", flag.c_str());
      return 2;
    }
    if (flag == "--keep") {
      keep = argv[++i];
      continue;
    }
    const int n = parse_count("bench_xml", argv[i], argv[i + 1]);
    ++i;
    if (flag == "--runs") runs = std::max(1, n);
    else if (flag == "--python-runs") python_runs = n;
    else if (!set_shape_option(shape, flag, n)) {
      std::fprintf(stderr, "bench_xml: unknown option %s\n", flag.c_str());
      return 2;
    }
  }

  char folder_template[] = "/tmp/bench_xml.XXXXXX";
  if (keep.empty() && mkdtemp(folder_template) == nullptr) {
    std::perror("bench_xml: mkdtemp");
    return 1;
  }
  const fs::path folder = keep.empty() ? fs::path(folder_template) : keep;
  fs::create_directories(folder);
  const auto job = morvi::bench::generate_job(shape);
  std::printf("job: %zu nodes\n", morvi::bench::node_count(shape));

  morvi::reporter::markfolio::MarkFolio folio(folder.string(), *job);
  std::vector<double> times;
  std::vector<double> cpu_times;
  double details_mb = 0;
  for (int run = 0; run < runs; ++run) {
    const auto begin = Clock::now();
    const double cpu_begin = cpu_seconds();
    const long faults_begin = minor_faults();
    folio.generate_xml({}, {});
    cpu_times.push_back(cpu_seconds() - cpu_begin);
    times.push_back(seconds_since(begin));
    const long faults = minor_faults() - faults_begin;
    details_mb = static_cast<double>(fs::file_size(folder / "ResultsDetails.xml")) / 1e6;
    std::printf("run %d: generate_xml %.3f s (%.3f s CPU, %ld page faults), %.1f MB of details: "
                "%.1f MB/s\n",
                run + 1, times.back(), cpu_times.back(), faults, details_mb,
                details_mb / times.back());
  }
  const double ours = median(times);
  const double ours_cpu = median(cpu_times);
  std::printf("median: %.3f s (%.3f s CPU), %.1f MB/s over %d runs\n", ours, ours_cpu,
              details_mb / ours, runs);

    if (runs > 1) {
    const std::vector<double> later(cpu_times.begin() + 1, cpu_times.end());
    std::printf("first run %.3f s CPU, later runs' median %.3f s CPU: %.2fx\n", cpu_times[0],
                median(later), cpu_times[0] / median(later));
  }

  // The first steps again, one at a time; the rest of generate_xml is parsing, pretty-printing,
  // writing and the summary.
  auto begin = Clock::now();
  folio.zorbel.trialkit = std::make_unique<morvi::zorbel::TrialKit>();
  folio._handle_trialkit(*folio.zorbel.trialkit, *job);
  const double mapping = seconds_since(begin);
  begin = Clock::now();
  morvi::utils::DocumentBuffer rough = folio.zorbel.generate_bytes();
  const double rendering = seconds_since(begin);
  std::printf("steps: mapping %.3f s, rendering the rough bytes %.3f s (%.1f MB), the rest %.3f s\n",
              mapping, rendering, static_cast<double>(rough.size()) / 1e6,
              ours - mapping - rendering);

  if (python_runs > 0) {
    const fs::path rough_file = folder / "rough_details.xml";
    std::ofstream(rough_file, std::ios::binary) << rough.view();
    rough = morvi::utils::DocumentBuffer();
    const std::string command = "python3 " MORVI_BENCH_DIR "/bench_xml.py " +
                                rough_file.string() + " --runs " + std::to_string(python_runs);
    std::fflush(stdout);
    FILE* peer = popen(command.c_str(), "r");
    double python_median = 0;
    double python_cpu = 0;
    char line[512];
    while (peer != nullptr && std::fgets(line, sizeof line, peer) != nullptr) {
      std::fputs(line, stdout);
      std::sscanf(line, "python median: %lf s (%lf s CPU)", &python_median, &python_cpu);
    }
    if (peer == nullptr || pclose(peer) != 0 || python_median <= 0) {
      std::fprintf(stderr, "bench_xml: the Python peer failed: %s\n", command.c_str());
      if (keep.empty()) fs::remove_all(folder);
      return 1;
    }
    std::printf("ratio: generate_xml is %.1fx faster than minidom's parse and pretty-print "
                "alone (%.1fx in CPU time)\n",
                python_median / ours, python_cpu / ours_cpu);
  }
  if (keep.empty()) {
    fs::remove_all(folder);
  } else {
    fs::remove(folder / "rough_details.xml");
  }
  return 0;
}
