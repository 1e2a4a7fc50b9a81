// The morvi command line.
#include "morvi/cli/program.hpp"
#include "morvi/reporter/commands.hpp"
#include "morvi/service/html_report/report_html_command.hpp"
#include "morvi/service/junit/export_junit_command.hpp"
#include "morvi/service/journal/replay_command.hpp"
#include "morvi/service/server/serve_command.hpp"
#include "morvi/service/merge/merge_command.hpp"
#include "show_results_file.hpp"
#include "watch_job.hpp"

int main(int argc, char** argv) {
  morvi::cli::Program morvi("morvi", "The morvi command line: checks and shows results files.");
  morvi.set_version("morvi " MORVI_VERSION);
  morvi.add_group("show", "show files in a readable form", "Shows files in a readable form.")
      .add<morvi::tools::ShowResultsFile>();
  morvi.add_group("validate", "validate files", "Validates files against their formats.")
      .add<morvi::reporter::commands::ValidateResultsFile>();
  morvi.add_group("export", "write results files in other formats",
                  "Writes results files in the formats other tools read.")
      .add<morvi::service::junit::ExportJunit>();
  morvi.add_group("report", "write reports for people to read",
                  "Writes results files as reports for people to read.")
      .add<morvi::service::html_report::ReportHtml>();
  morvi.add<morvi::service::journal::ReplayJournal>();
  morvi.add<morvi::service::server::Serve>();
  morvi.add<morvi::tools::WatchJob>();
  morvi.add<morvi::service::merge::MergeResults>();
  return morvi.main(argc, argv);
}
