// `morvi validate results` on the results file of a generated job (about 200,000 nodes by
// default), against Python's json.load plus the jsonschema package validating the same file
// against the same schema, in the same run. Each side is a separate process; its time is the
// wall clock and the CPU time (user + system) of that process, which other processes on a busy
// machine inflate less. Prints every run, the medians and the ratios, then where morvi's time
// goes, step by step in this process, next to what nlohmann's parser costs when it builds no
// document at all.
//
//   bench_validate [--runs N] [--python-runs N] [--keep DIR] [--tasks N] [--testcases N]
//                  [--sections N] [--steps N]
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench_support.hpp"
#include "morvi/reporter/schema.hpp"
#include "morvi/reporter/schema/results_json.hpp"

namespace {

using morvi::bench::median;
using morvi::bench::parse_count;
using morvi::bench::set_shape_option;

namespace fs = std::filesystem;

struct Timing {
  double wall;
  double cpu;
};

[[noreturn]] void die(const std::string& message) {
  std::fprintf(stderr, "bench_validate: %s\n", message.c_str());
  std::exit(2);
}

// Runs `argv` with standard output into `out_file`; its wall-clock and CPU seconds.
Timing run(const std::vector<std::string>& argv, const fs::path& out_file) {
  std::fflush(stdout);  // or the child would print what is still buffered here
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) die("cannot fork");
  if (pid == 0) {
    if (!std::freopen(out_file.c_str(), "w", stdout)) _exit(127);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) die("lost the child process");
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) die(argv[0] + " failed");
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec * 1e-6; };
  return {wall, seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

double cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Takes every parser event and keeps nothing: the cost of reading the JSON text alone.
struct Discard : nlohmann::json_sax<nlohmann::json> {
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return true; }
  bool key(string_t&) override { return true; }
  bool end_object() override { return true; }
  bool start_array(std::size_t) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }
};

// The steps of `morvi validate results`, timed one by one in this process (CPU seconds).
void print_steps(const fs::path& results) {
  namespace schema = morvi::reporter::schema;
  double t = cpu_seconds();
  const auto lap = [&t] {
    const double now = cpu_seconds();
    const double seconds = now - t;
    t = now;
    return seconds;
  };
  const std::string text = schema::read_text_file(results.string());
  const double read = lap();
  auto document = std::make_unique<nlohmann::json>(schema::parse_results_json(text, "results"));
  const double parse = lap();
  const bool valid = !schema::validate(*document).has_value();
  const double validate = lap();
  document.reset();
  const double destroy = lap();
  Discard discard;
  nlohmann::json::sax_parse(text.begin(), text.end(), &discard);
  const double sax = lap();
  std::printf("steps (cpu s): read %.3f, parse into a document %.3f, validate %.3f%s, free the "
              "document %.3f; nlohmann reading the text with no document built: %.3f\n",
              read, parse, validate, valid ? "" : " (not valid!)", destroy, sax);
}

}  // namespace

int main(int argc, char** argv) {
  morvi::bench::JobShape shape;
  int runs = 5;
  int python_runs = 1;
  fs::path keep;
  for (int i = 1; i < argc; i += 2) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) die(flag + " needs a value");
    if (flag == "--keep") {
      keep = argv[i + 1];
      continue;
    }
    const int n = parse_count("bench_validate", flag, argv[i + 1]);
    if (flag == "--runs") runs = std::max(1, n);
    else if (flag == "--python-runs") python_runs = std::max(0, n);
    else if (!set_shape_option(shape, flag, n)) die("unknown option " + flag);
  }

  const fs::path dir = keep.empty()
                           ? fs::temp_directory_path() / ("bench_validate_" + std::to_string(getpid()))
                           : keep;
  fs::create_directories(dir);
  const fs::path results = dir / "results.json";
  {
    const std::string text = morvi::bench::generate_job(shape)->dump_json();
    std::ofstream(results, std::ios::binary) << text;
    std::printf("job: %zu nodes, results.json %.1f MB\n", morvi::bench::node_count(shape),
                static_cast<double>(text.size()) / 1e6);
  }

  std::vector<double> morvi_wall;
  std::vector<double> morvi_cpu;
  for (int r = 0; r < runs; ++r) {
    const Timing t = run({MORVI_EXE, "validate", "results", results.string()}, dir / "morvi.out");
    if (slurp(dir / "morvi.out") != results.string() + " accepted\n") {
      die("morvi did not accept the file: " + slurp(dir / "morvi.out").substr(0, 500));
    }
    std::printf("morvi validate results  run %d: %.3f s wall, %.3f s cpu\n", r + 1, t.wall, t.cpu);
    morvi_wall.push_back(t.wall);
    morvi_cpu.push_back(t.cpu);
  }

  std::vector<double> python_wall;
  std::vector<double> python_cpu;
  for (int r = 0; r < python_runs; ++r) {
    const Timing t = run({"python3", BENCH_VALIDATE_PY, results.string(), RESULTS_SCHEMA},
                         dir / "python.out");
    std::printf("python json.load + jsonschema  run %d: %.3f s wall, %.3f s cpu  (%s)\n", r + 1,
                t.wall, t.cpu, first_line(slurp(dir / "python.out")).c_str());
    python_wall.push_back(t.wall);
    python_cpu.push_back(t.cpu);
  }

  if (python_runs == 0) {
    std::printf("median: morvi %.3f s wall, %.3f s cpu; python not run\n", median(morvi_wall),
                median(morvi_cpu));
  } else {
    std::printf("median: morvi %.3f s wall, %.3f s cpu; python %.3f s wall, %.3f s cpu\n",
                median(morvi_wall), median(morvi_cpu), median(python_wall), median(python_cpu));
    std::printf("morvi is %.1fx faster by wall clock, %.1fx by cpu time\n",
                median(python_wall) / median(morvi_wall), median(python_cpu) / median(morvi_cpu));
  }
  print_steps(results);
  if (keep.empty()) fs::remove_all(dir);
  return 0;
}
