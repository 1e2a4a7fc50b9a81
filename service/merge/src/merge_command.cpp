#include "morvi/service/merge/merge_command.hpp"

#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "morvi/errors.hpp"
#include "morvi/service/merge/merge.hpp"

namespace morvi::service::merge {

MergeResults::MergeResults(const cli::CommandSetup& setup) : Subcommand(setup) {
  parser.add_argument("file", "RESULTS.json", Kind::Text,
                      "results JSON files of the shards, in the order their tasks are kept")
      .one_or_more();
  parser.add_argument("--output", "OUT.json", Kind::Text, "merged results file to write")
      .abbreviated("-o")
      .mandatory();
  parser.add_flag("--rerun",
                  "a later file's task or testcase replaces an earlier one with the same id");
}

cli::Status MergeResults::run(const cli::Arguments& args) {
  std::vector<std::string> inputs;
  for (const Value& file : args["file"].as_list()) inputs.emplace_back(file.as_text());
  const std::string output(args["output"].as_text());
  MergeOptions options;
  options.rerun = args["rerun"].as_bool();
  try {
    merge_files(inputs, output, options);
  } catch (const std::system_error& e) {
    print_error(e.what());
    return cli::IO_ERROR;
  } catch (const ParseError& e) {
    print_error(e.what());
    return cli::ERROR;
  } catch (const std::invalid_argument& e) {
    print_error(e.what());
    return cli::ERROR;
  }
  out() << output << ": merged " << inputs.size() << " files\n";
  return std::nullopt;
}

}  // namespace morvi::service::merge
