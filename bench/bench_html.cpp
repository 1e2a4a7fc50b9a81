// morvi report html on the results file of a generated job (about 200,000 nodes by default):
// the time to write the page, its size and the bytes per node of its compact tree data, then
// the time until the page is usable in headless Chromium: the page stamps the moment its
// script has drawn everything (milliseconds since navigation began) on its root element, and
// the DOM Chromium dumps after loading carries it.
//
//   bench_html [--runs N] [--browser-runs N] [--keep DIR] [--tasks N] [--testcases N]
//              [--sections N] [--steps N]
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "morvi/service/html_report/report.hpp"

namespace {

namespace fs = std::filesystem;
using morvi::bench::median;
using morvi::bench::parse_count;
using morvi::bench::set_shape_option;

[[noreturn]] void die(const std::string& message) {
  std::fprintf(stderr, "bench_html: %s\n", message.c_str());
  std::exit(2);
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct BrowserRun {
  double ready_ms;
  double launch_s;
};

// Opens the page in headless Chromium with a fresh profile and reads the page's own stamp.
BrowserRun open_in_chromium(const fs::path& page, const fs::path& work) {
  const fs::path dom = work / "dom.html";
  const fs::path profile = work / "chromium-profile";
  fs::remove_all(profile);
  const std::vector<std::string> argv = {"/usr/bin/chromium", "--headless", "--no-sandbox",
                                         "--disable-gpu", "--no-first-run",
                                         "--user-data-dir=" + profile.string(), "--dump-dom",
                                         "file://" + fs::absolute(page).string()};
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) die("cannot fork");
  if (pid == 0) {
    if (!std::freopen(dom.c_str(), "w", stdout) || !std::freopen("/dev/null", "w", stderr)) _exit(127);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    die("chromium failed on " + page.string());
  }
  const double launch = seconds_since(start);
  const std::string text = slurp(dom);
  const std::string mark = "data-ready-ms=\"";
  const std::size_t at = text.find(mark);
  if (at == std::string::npos) die("the page did not finish drawing (no data-ready-ms in the DOM)");
  return {std::strtod(text.c_str() + at + mark.size(), nullptr), launch};
}

}  // namespace

int main(int argc, char** argv) {
  morvi::bench::JobShape shape;
  int runs = 3;
  int browser_runs = 3;
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) die("missing value for " + flag);
    if (flag == "--keep") {
      keep = argv[++i];
      continue;
    }
    const int n = parse_count("bench_html", flag, argv[++i]);
    if (flag == "--runs") runs = n < 1 ? 1 : n;
    else if (flag == "--browser-runs") browser_runs = n;
    else if (!set_shape_option(shape, flag, n)) die("unknown option " + flag);
  }
  const fs::path work = keep.empty() ? fs::temp_directory_path() / ("bench_html-" + std::to_string(getpid()))
                                     : fs::path(keep);
  fs::create_directories(work);
  const fs::path results = work / "results.json";
  const fs::path page = work / "report.html";
  {
    const auto job = morvi::bench::generate_job(shape);
    std::ofstream(results, std::ios::binary) << job->dump_json();
  }
  std::printf("job: %zu nodes, results.json %.1f MB\n", morvi::bench::node_count(shape),
              static_cast<double>(fs::file_size(results)) / 1e6);

  std::vector<double> writes;
  morvi::service::html_report::ReportCounts counts;
  for (int r = 0; r < runs; ++r) {
    const auto start = std::chrono::steady_clock::now();
    counts = morvi::service::html_report::write_html_report(results.string(), page.string());
    writes.push_back(seconds_since(start));
    std::printf("write %d: %.2f s\n", r + 1, writes.back());
  }
  const std::string html = slurp(page);
  const std::size_t nodes_at = html.find("\"nodes\":[");
  const std::size_t nodes_end = html.find("]}</script>", nodes_at);
  const double per_node = nodes_at == std::string::npos || nodes_end == std::string::npos
                              ? 0.0
                              : static_cast<double>(nodes_end - nodes_at) / static_cast<double>(counts.nodes);
  std::printf("page: %.1f MB, %.1f bytes per node in all, %.1f bytes per node of tree data, "
              "%zu failures\n",
              static_cast<double>(counts.bytes) / 1e6,
              static_cast<double>(counts.bytes) / static_cast<double>(counts.nodes), per_node,
              counts.failures);

  std::vector<double> ready;
  for (int r = 0; r < browser_runs; ++r) {
    const BrowserRun run = open_in_chromium(page, work);
    ready.push_back(run.ready_ms / 1000.0);
    std::printf("chromium %d: usable after %.2f s (launch to exit %.1f s)\n", r + 1,
                ready.back(), run.launch_s);
  }
  std::printf("median: write %.2f s", median(writes));
  if (!ready.empty()) std::printf(", usable after %.2f s", median(ready));
  std::printf("\n");
  if (keep.empty()) fs::remove_all(work);
  return 0;
}
