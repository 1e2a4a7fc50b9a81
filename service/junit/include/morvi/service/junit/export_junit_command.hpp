#pragma once
// morvi export junit RESULTS.json -o PATH [--max-output-bytes N] [--split N]
#include <string_view>

#include "morvi/cli/base.hpp"

#pragma GCC visibility push(default)
namespace morvi::service::junit {

class ExportJunit : public cli::Subcommand {
 public:
  static constexpr std::string_view name = "junit";
  static constexpr std::string_view help = "write a results file as JUnit XML";
  static constexpr std::string_view usage = "";
  static constexpr std::string_view description =
      "Writes a results JSON file as a JUnit XML file (junit-4 form) for CI systems: a "
      "testsuite per task and per plugin, a testcase per section directly below a task, the "
      "sections below it as a step log in its system-out.";
  explicit ExportJunit(const cli::CommandSetup& setup);
  cli::Status run(const cli::Arguments& args) override;
};

}  // namespace morvi::service::junit
#pragma GCC visibility pop
