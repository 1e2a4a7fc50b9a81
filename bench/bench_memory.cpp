// What each writer costs in memory beyond the report tree: the job is built once, then every
// writer runs in a child forked from that process (so each starts from the same tree, with no
// other writer's leftovers), and the child reports its peak resident memory above what it held
// when it started, against the size of what it wrote. The peak is the kernel's high-water mark,
// reset in the child right after the fork.
//
//   bench_memory [--tasks N] [--testcases N] [--sections N] [--steps N]
//   bench_memory --testcases 1000        # 1,000,042 nodes
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "morvi/reporter/markfolio.hpp"
#include "morvi/reporter/trialkit/json.hpp"

namespace {

namespace fs = std::filesystem;

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM").
long status_kib(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, field.size() + 1, field + ":") == 0) return std::atol(line.c_str() + field.size() + 1);
  }
  return -1;
}

// Lowers the high-water mark of resident memory to what is resident now.
bool reset_peak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.close();
  return static_cast<bool>(clear);
}

struct Row {
  const char* writer;
  const char* output;  // what the ratio is taken against
  double limit;        // the goal: peak above the tree at most `limit` times the output
  std::function<std::size_t()> write;  // runs the writer; the size of its output
};

// Runs `row` in a child; prints its line. The child writes its figures through a pipe.
void measure(const Row& row) {
  int channel[2];
  if (pipe(channel) != 0) std::exit(2);
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid < 0) std::exit(2);
  if (pid == 0) {
    close(channel[0]);
    if (!reset_peak()) _exit(3);
    const long start = status_kib("VmRSS");
    const std::size_t bytes = row.write();
    const long figures[3] = {start, status_kib("VmHWM"), static_cast<long>(bytes)};
    _exit(write(channel[1], figures, sizeof figures) == sizeof figures ? 0 : 4);
  }
  close(channel[1]);
  long figures[3] = {};
  const bool got = read(channel[0], figures, sizeof figures) == sizeof figures;
  close(channel[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::printf("%-22s failed (status %d)\n", row.writer, status);
    return;
  }
  const double above_mb = static_cast<double>(figures[1] - figures[0]) * 1024 / 1e6;
  const double output_mb = static_cast<double>(figures[2]) / 1e6;
  const double ratio = above_mb / output_mb;
  std::printf("%-22s %9.1f MB of %-8s peak %9.1f MB above the tree: %.2fx (goal <= %.1fx: %s)\n", row.writer,
              output_mb, row.output, above_mb, ratio, row.limit, ratio <= row.limit ? "met" : "missed");
}

}  // namespace

int main(int argc, char** argv) {
  morvi::bench::JobShape shape;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) {
      std::fprintf(stderr, "bench_memory: %s needs a value\n", flag.c_str());
      return 2;
    }
    const int n = morvi::bench::parse_count("bench_memory", argv[i], argv[i + 1]);
    ++i;
    if (!morvi::bench::set_shape_option(shape, flag, n)) {
      std::fprintf(stderr, "bench_memory: unknown option %s\n", flag.c_str());
      return 2;
    }
  }

  char folder_template[] = "/tmp/bench_memory.XXXXXX";
  if (mkdtemp(folder_template) == nullptr) {
    std::perror("bench_memory: mkdtemp");
    return 1;
  }
  const fs::path folder = folder_template;
  const long before = status_kib("VmRSS");
  const auto job = morvi::bench::generate_job(shape);
  const long with_tree = status_kib("VmRSS");
  std::printf("job: %zu nodes, tree %.1f MB resident (process %.1f MB)\n", morvi::bench::node_count(shape),
              static_cast<double>(with_tree - before) * 1024 / 1e6, static_cast<double>(with_tree) * 1024 / 1e6);

  const std::string json_file = (folder / "results.json").string();
  const std::vector<Row> rows = {
      {"dump_json (text)", "text", 1.3, [&] { return job->dump_json().size(); }},
      {"dump_json (file)", "text", 1.3,
       [&] {
         morvi::reporter::trialkit::JSONDumper::write_results(*job, json_file);
         return static_cast<std::size_t>(fs::file_size(json_file));
       }},
      {"dump_yaml (text)", "text", 1.3, [&] { return job->dump_yaml().size(); }},
      {"generate_xml", "details", 2.0,
       [&] {
         morvi::reporter::markfolio::MarkFolio(folder.string(), *job).generate_xml({}, {});
         return static_cast<std::size_t>(fs::file_size(folder / "ResultsDetails.xml"));
       }},
  };
  for (const Row& row : rows) measure(row);
  fs::remove_all(folder);
  return 0;
}
