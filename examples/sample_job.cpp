// The sample job: runs a small job the way the framework's runner does, prints its report
// tree and tallies, writes the four documents a finished job leaves behind and the HTML report
// of its results, then checks and shows results.json with the morvi command line.
//
//   sample_job OUTPUT_DIR
//   sample_job --socket PATH [--pace MS] OUTPUT_DIR
//
// With --socket the job is sent to the reporter server at PATH instead (morvi serve), its logs
// written into OUTPUT_DIR, falling back to OUTPUT_DIR/fallback.journal when the server goes;
// --pace waits MS milliseconds at each clock reading, so people can watch the job run.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "morvi/reporter/markfolio.hpp"
#include "morvi/service/clients/socket_event_sink.hpp"
#include "morvi/service/html_report/report.hpp"
#include "morvi/utils/atomic_file.hpp"
#include "morvi/utils/utils.hpp"
#include "sample_tree.hpp"
#include "tree_printer.hpp"

namespace {

namespace fs = std::filesystem;

// `word` as a shell reads it back: quoted when it holds anything but plain characters.
std::string shell_word(const std::string& word) {
  if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789_-./=") == std::string::npos) {
    return word;
  }
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs the morvi tool with `arguments`, started directly rather than through a shell, so a
// path may hold any character; true when it exits 0.
bool run_morvi(const std::vector<std::string>& arguments) {
  std::cout << "\n$ morvi";
  for (const std::string& argument : arguments) std::cout << ' ' << shell_word(argument);
  std::cout << '\n' << std::flush;
  std::vector<char*> argv{const_cast<char*>(MORVI_EXE)};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  if (::posix_spawn(&child, MORVI_EXE, nullptr, nullptr, argv.data(), environ) != 0) {
    std::cerr << "sample_job: cannot start " << MORVI_EXE << '\n';
    return false;
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The job through a reporter server; the server holds its report.
int run_through_server(const std::string& socket, long pace_ms, const fs::path& out) {
  std::shared_ptr<morvi::service::protocol::RecordingTrialKit> job;
  try {
    fs::create_directories(out);
    // The real clock, read slowly.
    const morvi::utils::ScopedClock clock([pace_ms] {
      std::this_thread::sleep_for(std::chrono::milliseconds(pace_ms));
      return morvi::utils::system_time();
    });
    morvi::service::clients::SocketSinkOptions options;
    options.socket_path = socket;
    options.fallback_path = (out / "fallback.journal").string();
    job = morvi::service::clients::connect_trialkit(options, morvi::Value(morvi::examples::kSampleJobId),
                                                    morvi::Value(morvi::examples::kSampleJobSeqNum));
    morvi::examples::run_sample_job(*job, out);
  } catch (const std::exception& e) {
    std::cerr << "sample_job: " << e.what() << '\n';
    return 1;
  }
  std::cout << "the sample job ran through the reporter server at " << socket << '\n';
  return 0;
}

constexpr const char* kUsage =
    "usage: sample_job OUTPUT_DIR\n"
    "       sample_job --socket PATH [--pace MS] OUTPUT_DIR\n";
constexpr const char* kHelp =
    "\n"
    "Runs a small job the way the framework's runner does, prints its report tree and tallies,\n"
    "writes results.json, results.yaml, ResultsDetails.xml, ResultsSummary.xml and report.html\n"
    "into OUTPUT_DIR, then checks and shows results.json with the morvi command line.\n"
    "\n"
    "  --socket PATH  send the job to the reporter server at PATH (morvi serve) instead; its\n"
    "                 logs go into OUTPUT_DIR, and OUTPUT_DIR/fallback.journal takes the events\n"
    "                 when the server is gone\n"
    "  --pace MS      wait MS milliseconds at each clock reading, so people can watch the job\n"
    "  -h, --help     show this help\n";

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 3 && args[0] == "--socket") {
    long pace_ms = 0;
    if (args.size() == 5 && args[2] == "--pace") pace_ms = std::atol(args[3].c_str());
    if (args.size() == 3 || (args.size() == 5 && args[2] == "--pace" && pace_ms >= 0))
      return run_through_server(args[1], pace_ms, args.back());
  }
  if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
    std::cout << kUsage << kHelp;
    return 0;
  }
  // An option here is a mistyped one, not a folder to write into.
  if (args.size() != 1 || args[0].starts_with('-')) {
    std::cerr << kUsage << "sample_job --help tells more\n";
    return 2;
  }
  const fs::path out = args[0];
  try {
    const auto job = morvi::examples::build_sample_job(out.string());
    morvi::examples::print_tree(std::cout, *job);
    std::cout << '\n';
    morvi::examples::print_tallies(std::cout, *job);

    morvi::utils::write_file_atomically(out / "results.json", job->dump_json());
    morvi::utils::write_file_atomically(out / "results.yaml", job->dump_yaml());
    morvi::reporter::markfolio::MarkFolio(out.string(), *job).generate_xml({}, {});
    morvi::service::html_report::write_html_report((out / "results.json").string(),
                                                   (out / "report.html").string());
  } catch (const std::exception& e) {
    std::cerr << "sample_job: " << e.what() << '\n';
    return 1;
  }
  const std::string results = (out / "results.json").string();
  if (!run_morvi({"validate", "results", results}) ||
      !run_morvi({"show", "results", "--depth", "3", results})) {
    return 1;
  }

  std::cout << "\nwritten:\n";
  for (const char* name : {"results.json", "results.yaml", "ResultsDetails.xml", "ResultsSummary.xml",
                           "report.html"})
    std::cout << "  " << (out / name).string() << '\n';
  return 0;
}
