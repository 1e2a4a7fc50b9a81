#pragma once
// `morvi show results FILE`: a results file as an indented tree, the way a person reads one.
#include <string_view>

#include "morvi/cli/base.hpp"

namespace morvi::tools {

class ShowResultsFile : public cli::Subcommand {
 public:
  static constexpr std::string_view name = "results";
  static constexpr std::string_view help = "show a results file as a tree";
  static constexpr std::string_view usage = "{prog} [--depth N] [file]";
  static constexpr std::string_view description =
      "Shows the report of the provided results json file as an indented tree: one line per "
      "node with its full id, type, result and runtime.";

  explicit ShowResultsFile(const cli::CommandSetup& setup);

  // Reads the file through the results explorer, one node at a time ("-" is standard input).
  // Errors of reading and parsing leave run.
  cli::Status run(const cli::Arguments& args) override;
};

}  // namespace morvi::tools
