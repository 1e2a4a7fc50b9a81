#include "morvi/service/html_report/report_html_command.hpp"

#include <ostream>

#include "morvi/errors.hpp"
#include "morvi/service/html_report/report.hpp"

namespace morvi::service::html_report {

ReportHtml::ReportHtml(const cli::CommandSetup& setup) : Subcommand(setup) {
  parser.add_argument("file", "RESULTS.json", Kind::Text, "results JSON file to show");
  parser.add_argument("--output", "PATH", Kind::Text, "HTML file to write")
      .abbreviated("-o")
      .mandatory();
}

cli::Status ReportHtml::run(const cli::Arguments& args) {
  const std::string input(args["file"].as_text());
  const std::string output(args["output"].as_text());
  try {
    const ReportCounts counts = write_html_report(input, output);
    out() << output << ": " << counts.nodes << " nodes, " << counts.failures << " failures, "
          << counts.bytes << " bytes\n";
  } catch (const ParseError& e) {
    print_error(e.what());
    return cli::ERROR;
  }
  return std::nullopt;
}

}  // namespace morvi::service::html_report
