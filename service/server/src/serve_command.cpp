#include "morvi/service/server/serve_command.hpp"

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <ostream>
#include <system_error>

#include "morvi/service/server/server.hpp"

namespace morvi::service::server {

Serve::Serve(const cli::CommandSetup& setup) : Subcommand(setup) {
  parser.add_argument("--socket", "PATH", Kind::Text, "the Unix-domain socket to listen on")
      .mandatory();
  parser.add_argument("--journal", "FILE", Kind::Text, "the event journal to write (new or empty)")
      .mandatory();
  parser.add_argument("--fsync", "POLICY", Kind::Text,
                      "when the journal goes to the disk: never, batch (at least every 100 ms; "
                      "the default) or always (before each event is applied)")
      .one_of({"never", "batch", "always"});
}

cli::Status Serve::run(const cli::Arguments& args) {
  ServerOptions options;
  options.socket_path = args["socket"].as_text();
  options.journal_path = args["journal"].as_text();
  const Value& fsync = args["fsync"];
  const std::string policy(fsync.is_none() ? "batch" : fsync.as_text());
  options.fsync = policy == "never"    ? journal::FsyncPolicy::never
                  : policy == "always" ? journal::FsyncPolicy::always
                                       : journal::FsyncPolicy::batch;
  options.handle_signals = true;
  // A reader that goes away while a reply is written must not end the server.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    Server server(std::move(options));
    out() << "listening on " << args["socket"].as_text() << std::endl;
    server.run();
    // The journal is on the disk and the socket is gone: the process ends here rather than
    // taking a tree of maybe millions of nodes apart only to give its memory back.
    out().flush();
    std::cout.flush();
    std::_Exit(0);
  } catch (const ServerError& e) {
    print_error(e.what());
    return cli::ERROR;
  } catch (const std::system_error& e) {
    print_error(e.what());
    return cli::IO_ERROR;
  }
  return std::nullopt;
}

}  // namespace morvi::service::server
