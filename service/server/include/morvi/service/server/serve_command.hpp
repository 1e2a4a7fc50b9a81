#pragma once
// morvi serve: a reporter server on a Unix-domain socket, journaling every event.
#include <string_view>

#include "morvi/cli/base.hpp"

#pragma GCC visibility push(default)
namespace morvi::service::server {

class Serve : public cli::Subcommand {
 public:
  static constexpr std::string_view name = "serve";
  static constexpr std::string_view help = "run a reporter server for one job";
  static constexpr std::string_view usage =
      "{prog} --socket PATH --journal FILE [--fsync never|batch|always]";
  static constexpr std::string_view description =
      "Holds the report tree of one running job. A runner sends its events over the\n"
      "Unix-domain socket PATH (made with mode 0600: only this user connects); each event is\n"
      "checked, appended to the journal FILE, then applied. Readers (morvi show results\n"
      "--socket, morvi watch) ask for records, documents and progress at any time. A stale\n"
      "socket at PATH is removed; a live server there is left alone and the command fails.\n"
      "The journal must be new or empty. Prints \"listening on PATH\" once connections are\n"
      "taken, and serves until SIGTERM or SIGINT, then removes the socket and exits 0.\n"
      "--fsync batch (the default) puts the journal on the disk at least every 100 ms while\n"
      "events come; always, before each event is applied; never leaves it to the system.";

  explicit Serve(const cli::CommandSetup& setup);

  // ERROR when the server cannot start (a live server at PATH, a journal that holds events),
  // IO_ERROR for what the system refuses.
  cli::Status run(const cli::Arguments& args) override;
};

}  // namespace morvi::service::server
#pragma GCC visibility pop
