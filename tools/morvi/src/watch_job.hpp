#pragma once
// `morvi watch --socket PATH`: a live progress line of the job a reporter server holds.
#include <string_view>

#include "morvi/cli/base.hpp"

namespace morvi::tools {

class WatchJob : public cli::Subcommand {
 public:
  static constexpr std::string_view name = "watch";
  static constexpr std::string_view help = "show the progress of a running job";
  static constexpr std::string_view usage = "{prog} --socket PATH [--interval SECONDS]";
  static constexpr std::string_view description =
      "Shows the progress of the job a reporter server (morvi serve) holds at PATH: nodes\n"
      "started and stopped, testcases passed, failed and errored so far, the running testcase\n"
      "and events per second. On a terminal the line is redrawn in place; otherwise one line\n"
      "is printed every interval (1 second unless --interval says otherwise). Ends with exit\n"
      "status 0 when the job's trialkit stops, 1 when the server goes away first.";

  explicit WatchJob(const cli::CommandSetup& setup);

  cli::Status run(const cli::Arguments& args) override;
};

}  // namespace morvi::tools
