#include "morvi/service/junit/export_junit_command.hpp"

#include <ostream>
#include <system_error>

#include "morvi/errors.hpp"
#include "morvi/service/junit/export.hpp"

namespace morvi::service::junit {

ExportJunit::ExportJunit(const cli::CommandSetup& setup) : Subcommand(setup) {
  parser.add_argument("file", "RESULTS.json", Kind::Text, "results JSON file to export");
  parser.add_argument("--output", "PATH", Kind::Text, "JUnit XML file to write")
      .abbreviated("-o")
      .mandatory();
  parser.add_argument("--max-output-bytes", "N", Kind::Int,
                      "keep at most N bytes of each testcase's step log and of its details; "
                      "102400 by default")
      .at_least(1);
  parser.add_argument("--split", "N", Kind::Int,
                      "write at most N testcases per file, as PATH with -1, -2, ... before its "
                      "extension; one file by default")
      .at_least(1);
}

cli::Status ExportJunit::run(const cli::Arguments& args) {
  ExportOptions options;
  if (!args["max_output_bytes"].is_none()) {
    options.max_output_bytes = static_cast<std::size_t>(args["max_output_bytes"].as_int());
  }
  if (!args["split"].is_none()) options.split = static_cast<std::size_t>(args["split"].as_int());
  const std::string input(args["file"].as_text());
  const std::string output(args["output"].as_text());
  try {
    const ExportCounts counts = export_junit(input, output, options);
    const std::string written = counts.files.size() == 1
                                    ? counts.files.front()
                                    : counts.files.front() + " ... " + counts.files.back() + " (" +
                                          std::to_string(counts.files.size()) + " files)";
    out() << written << ": " << counts.suites << " suites, " << counts.tests << " tests, "
          << counts.failures << " failures, " << counts.errors << " errors, " << counts.skipped
          << " skipped\n";
  } catch (const ParseError& e) {
    print_error(e.what());
    return cli::ERROR;
  }
  return std::nullopt;
}

}  // namespace morvi::service::junit
