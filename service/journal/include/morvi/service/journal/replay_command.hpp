#pragma once
// morvi replay: the four results documents of a job rebuilt from its journal.
#include <string_view>

#include "morvi/cli/base.hpp"

#pragma GCC visibility push(default)
namespace morvi::service::journal {

class ReplayJournal : public cli::Subcommand {
 public:
  static constexpr std::string_view name = "replay";
  static constexpr std::string_view help = "rebuild a job's results documents from its journal";
  static constexpr std::string_view usage = "{prog} JOURNAL... -o DIR [--close]";
  static constexpr std::string_view description =
      "Rebuilds the report tree from an event journal, complete or cut short, and writes\n"
      "results.json, results.yaml, ResultsDetails.xml and ResultsSummary.xml into DIR, each\n"
      "whole or not at all. Nodes still running when the journal ends are written as they\n"
      "stood (started, not stopped); --close stops them with the result errored and a detail\n"
      "saying that the job ended early. A torn last line, as a crash leaves it, is left out\n"
      "with a warning naming its byte offset.\n"
      "\n"
      "A job whose events are spread over several journals (the server's, then the journal a\n"
      "runner went on in when its server went away) is rebuilt from all of them, given in\n"
      "order: events a journal holds again are applied once, and a journal that starts past\n"
      "the events before it is refused.";

  explicit ReplayJournal(const cli::CommandSetup& setup);

  // ERROR for a journal that is not one or holds a bad event (named by line), IO_ERROR for a
  // journal that cannot be read or documents that cannot be written.
  cli::Status run(const cli::Arguments& args) override;
};

}  // namespace morvi::service::journal
#pragma GCC visibility pop
