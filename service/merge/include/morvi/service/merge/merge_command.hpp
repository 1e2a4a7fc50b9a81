#pragma once
// morvi merge A.json B.json ... -o OUT.json [--rerun]
#include <string_view>

#include "morvi/cli/base.hpp"

#pragma GCC visibility push(default)
namespace morvi::service::merge {

class MergeResults : public cli::Subcommand {
 public:
  static constexpr std::string_view name = "merge";
  static constexpr std::string_view help = "merge the results files of a job's shards";
  static constexpr std::string_view usage = "";
  static constexpr std::string_view description =
      "Merges the results JSON files of the shards of one job into one results file: the "
      "tasks in the order the files are given, the job's times spanning the shards', its "
      "tallies, result and health rolled up anew. With --rerun a later file's task or "
      "testcase replaces an earlier one of the same id, which is kept as a previous attempt.";
  explicit MergeResults(const cli::CommandSetup& setup);
  cli::Status run(const cli::Arguments& args) override;
};

}  // namespace morvi::service::merge
#pragma GCC visibility pop
