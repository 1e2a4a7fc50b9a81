// The morvi command line.
#include "morvi/cli/program.hpp"
#include "morvi/reporter/commands.hpp"
#include "morvi/service/journal/replay_command.hpp"
#include "show_results_file.hpp"

int main(int argc, char** argv) {
  morvi::cli::Program morvi("morvi", "The morvi command line: checks and shows results files.");
  morvi.set_version("morvi " MORVI_VERSION);
  morvi.add_group("show", "show files in a readable form", "Shows files in a readable form.")
      .add<morvi::tools::ShowResultsFile>();
  morvi.add_group("validate", "validate files", "Validates files against their formats.")
      .add<morvi::reporter::commands::ValidateResultsFile>();
  morvi.add<morvi::service::journal::ReplayJournal>();
  return morvi.main(argc, argv);
}
