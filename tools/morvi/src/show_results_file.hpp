#pragma once
// `morvi show results FILE`: a results file as an indented tree, the way a person reads one.
#include <string_view>

#include "morvi/cli/base.hpp"

namespace morvi::tools {

class ShowResultsFile : public cli::Subcommand {
 public:
  static constexpr std::string_view name = "results";
  static constexpr std::string_view help = "show a results file or a running job as a tree";
  static constexpr std::string_view usage = "{prog} [--depth N] (file | --socket PATH)";
  static constexpr std::string_view description =
      "Shows the report of the provided results json file as an indented tree: one line per "
      "node with its full id, type, result and runtime. With --socket, shows the job a "
      "reporter server holds as it stands, fetching one node at a time.";

  explicit ShowResultsFile(const cli::CommandSetup& setup);

  // Reads the file, or asks the server, through the results explorer, one node at a time
  // ("-" is standard input). Errors of reading, parsing and of the server leave run.
  cli::Status run(const cli::Arguments& args) override;
};

}  // namespace morvi::tools
