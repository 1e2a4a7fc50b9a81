#pragma once
// morvi report html RESULTS.json -o PATH
#include <string_view>

#include "morvi/cli/base.hpp"

#pragma GCC visibility push(default)
namespace morvi::service::html_report {

class ReportHtml : public cli::Subcommand {
 public:
  static constexpr std::string_view name = "html";
  static constexpr std::string_view help = "write a results file as a single HTML page";
  static constexpr std::string_view usage = "";
  static constexpr std::string_view description =
      "Writes a results JSON file as one self-contained HTML page (no network, no outside "
      "files): the job's header and counts, its failures first, the slowest testcases, and "
      "the tree as an outline that opens as you expand it, with search and a filter by result.";
  explicit ReportHtml(const cli::CommandSetup& setup);
  cli::Status run(const cli::Arguments& args) override;
};

}  // namespace morvi::service::html_report
#pragma GCC visibility pop
