#include <ostream>

#include "morvi/reporter/commands.hpp"
#include "morvi/reporter/schema/fast_check.hpp"
#include "morvi/reporter/schema/results_json.hpp"

namespace morvi::reporter::commands {

ValidateResultsFile::ValidateResultsFile(const cli::CommandSetup& setup) : Subcommand(setup) {
  parser.add_argument("file", "[file]", Kind::Text, "Results JSON file to validate");
}

cli::Status ValidateResultsFile::run(const cli::Arguments& args) {
  const std::string& path = args["file"].as_text();
  if (const auto file_exceptions =
          schema::validate_results_text(schema::read_text_file(path), path)) {
    out() << *file_exceptions << '\n';
    return ERROR;
  }
  out() << path << " accepted\n";
  return {};
}

}  // namespace morvi::reporter::commands
