#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include "morvi/errors.hpp"
#include "morvi/service/gtest_listener/listener.hpp"

namespace morvi::service::gtest_listener {
namespace {

constexpr std::string_view kDirPrefix = "dir:";
constexpr std::string_view kDeathTestFlag = "--gtest_internal_run_death_test";

struct Sources {
  std::optional<std::string> output;
  std::string output_source;
  std::optional<std::string> journal;
};

std::optional<std::string> variable(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  if (!value) return std::nullopt;
  return std::string(value);
}

// The environment fills in what the flags left open.
void read_environment(Sources& sources) {
  if (!sources.output) {
    sources.output = variable(kOutputVariable);
    sources.output_source = kOutputVariable;
  }
  if (!sources.journal) sources.journal = variable(kJournalVariable);
}

bool in_death_test_child() { return !GTEST_FLAG_GET(internal_run_death_test).empty(); }

ReportListener* install_with(Sources sources, std::string job_id) {
  if (in_death_test_child()) return nullptr;
  read_environment(sources);
  if (!sources.output || sources.output->empty()) return nullptr;
  Config config;
  try {
    config.output_dir = parse_output(*sources.output, sources.output_source);
  } catch (const ArgumentError& e) {
    std::cerr << "morvi gtest listener: " << e.what() << "; the run is not reported\n";
    return nullptr;
  }
  if (sources.journal && !sources.journal->empty()) config.journal = *sources.journal;
  config.job_id = std::move(job_id);
  auto* listener = new ReportListener(std::move(config), std::cerr);
  ::testing::UnitTest::GetInstance()->listeners().Append(listener);
  return listener;
}

}  // namespace

std::filesystem::path parse_output(std::string_view value, std::string_view source) {
  if (value.substr(0, kDirPrefix.size()) != kDirPrefix || value.size() == kDirPrefix.size()) {
    throw ArgumentError(std::string(source) + ": expected \"dir:PATH\", got \"" +
                        std::string(value) + "\"");
  }
  return std::filesystem::path(std::string(value.substr(kDirPrefix.size())));
}

ReportListener* install(int& argc, char** argv) {
  Sources sources;
  int kept = argc > 0 ? 1 : 0;
  bool death_test_child = false;
  for (int i = kept; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument.substr(0, kOutputFlag.size()) == kOutputFlag) {
      sources.output = std::string(argument.substr(kOutputFlag.size()));
      sources.output_source = kOutputFlag.substr(0, kOutputFlag.size() - 1);
      continue;
    }
    if (argument.substr(0, kJournalFlag.size()) == kJournalFlag) {
      sources.journal = std::string(argument.substr(kJournalFlag.size()));
      continue;
    }
    if (argument.substr(0, kDeathTestFlag.size()) == kDeathTestFlag) death_test_child = true;
    argv[kept++] = argv[i];
  }
  if (kept < argc) argv[kept] = nullptr;
  argc = kept;
  if (death_test_child) return nullptr;
  std::string job_id = argc > 0 && argv[0] ? std::filesystem::path(argv[0]).filename().string()
                                           : std::string(program_invocation_short_name);
  return install_with(std::move(sources), std::move(job_id));
}

ReportListener* install_from_env() {
  return install_with({}, program_invocation_short_name);
}

}  // namespace morvi::service::gtest_listener
