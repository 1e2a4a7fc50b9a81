#include "morvi/service/journal/replay_command.hpp"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "morvi/errors.hpp"
#include "morvi/reporter/markfolio.hpp"
#include "morvi/reporter/trialkit/json.hpp"
#include "morvi/reporter/trialkit/yaml.hpp"
#include "morvi/service/journal/journal.hpp"

namespace morvi::service::journal {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kEndedEarly =
    "the job ended early: the journal ends before this node stopped";

}  // namespace

ReplayJournal::ReplayJournal(const cli::CommandSetup& setup) : Subcommand(setup) {
  parser.add_argument("journal", "JOURNAL", Kind::Text,
                      "the event journal to replay; several journals of one job, in order")
      .one_or_more();
  parser.add_argument("--output", "DIR", Kind::Text, "folder the four documents are written to")
      .abbreviated("-o")
      .mandatory();
  parser.add_flag("--close", "stop the nodes still running, as errored");
}

cli::Status ReplayJournal::run(const cli::Arguments& args) {
  std::vector<std::string> paths;
  for (const Value& journal : args["journal"].as_list()) paths.emplace_back(journal.as_text());
  const std::string& path = paths.back();
  const fs::path dir = args["output"].as_text();
  Replay replayed;
  try {
    replayed = replay(paths);
  } catch (const protocol::ProtocolError& e) {
    print_error(e.what());
    return cli::ERROR;
  } catch (const std::system_error& e) {
    print_error(e.what());
    return cli::IO_ERROR;
  }
  for (const std::string& warning : replayed.warnings) print_warning(warning);
  const auto trialkit = replayed.builder.trialkit();
  if (!trialkit) {
    print_error(paths.size() == 1 ? path + ": the journal holds no trialkit"
                                  : std::string("the journals hold no trialkit"));
    return cli::ERROR;
  }
  if (args["close"].as_bool()) replayed.builder.close_running(kEndedEarly);
  try {
    fs::create_directories(dir);
    // Each document goes to its file as it is made: held as texts, the two of a large job
    // would sit in memory beside the tree while the XML reports are made.
    try {
      reporter::trialkit::JSONDumper::write_results(*trialkit, (dir / "results.json").string());
      reporter::trialkit::YAMLDumper::write_results(*trialkit, (dir / "results.yaml").string());
    } catch (const SerializationError& e) {
      print_error(path + ": " + e.what());
      return cli::ERROR;
    }
    reporter::markfolio::MarkFolio(dir.string(), *trialkit).generate_xml({}, {});
  } catch (const std::system_error& e) {
    print_error(e.what());
    return cli::IO_ERROR;
  } catch (const std::exception& e) {
    print_error(e.what());
    return cli::ERROR;
  }
  out() << "replayed " << replayed.builder.applied() << " events into " << dir.string() << "\n";
  // The documents are written: the process ends here rather than taking a tree of maybe
  // millions of nodes apart only to give its memory back.
  out().flush();
  std::cout.flush();
  std::cerr.flush();
  std::_Exit(0);
}

}  // namespace morvi::service::journal
