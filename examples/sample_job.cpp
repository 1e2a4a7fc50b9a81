// The sample job: runs a small job the way the framework's runner does, prints its report
// tree and tallies, writes the four documents a finished job leaves behind and the HTML report
// of its results, then checks and shows results.json with the morvi command line.
//
//   sample_job OUTPUT_DIR
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "morvi/reporter/markfolio.hpp"
#include "morvi/utils/atomic_file.hpp"
#include "morvi/service/html_report/report.hpp"
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: sample_job OUTPUT_DIR\n";
    return 2;
  }
  const fs::path out = argv[1];
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
