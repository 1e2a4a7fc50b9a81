#pragma once
// The reporter server: the live report tree of one job in its own process, fed by one runner
// over a Unix-domain socket, every event journaled before it is applied, and read by any
// number of readers at once (docs/reporter-server.md).
//
// One event loop on one thread does everything: accepting, reading, journaling, applying and
// answering. The tree is never touched by another thread.
#include <memory>
#include <stdexcept>
#include <string>

#include "morvi/service/journal/journal.hpp"

#pragma GCC visibility push(default)
namespace morvi::service::server {

// A server that cannot start: a live server at the socket path, a path that is not a socket,
// a journal that already holds events.
class ServerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ServerOptions {
  std::string socket_path;
  std::string journal_path;
  journal::FsyncPolicy fsync = journal::FsyncPolicy::batch;
  // Stop on SIGTERM and SIGINT (the command does; tests that run a server in a thread do not).
  bool handle_signals = false;
};

class Server {
 public:
  // Claims the socket (mode 0600; a stale socket is removed) and creates the journal.
  // ServerError for the faults above, std::system_error for what the system refuses.
  explicit Server(ServerOptions options);
  // Removes the socket, if it is still the one this server made.
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Serves until stop() or a signal; the journal is flushed before it returns.
  void run();
  // Asks a running loop to finish; callable from any thread.
  void stop();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace morvi::service::server
#pragma GCC visibility pop
