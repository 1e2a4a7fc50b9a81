#include "morvi/service/server/server.hpp"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <deque>
#include <iostream>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <asio.hpp>
#include <nlohmann/json.hpp>

#include "heap_pages.hpp"
#include "morvi/service/protocol/operation.hpp"
#include "morvi/service/server/line_reader.hpp"
#include "progress.hpp"
#include "requests.hpp"
#include "socket_file.hpp"

namespace morvi::service::server {
namespace {

using Stream = asio::local::stream_protocol;
using json = protocol::Json;

constexpr std::size_t kReadChunk = 1 << 16;
// Output held for a peer that does not read it; past this the server stops reading that
// peer's lines until the output drains, so a peer cannot make the server hold unbounded
// replies.
constexpr std::size_t kMaxQueued = 8 << 20;

std::string line_of(const json& message) {
  std::string line = message.dump(-1, ' ', false, json::error_handler_t::replace);
  line += '\n';
  return line;
}

}  // namespace

class Session;

struct Server::State {
  explicit State(ServerOptions opts);

  void accept();
  // Called after each journaled event: the journal is flushed 100 ms later at the latest.
  void journaled();
  void flush_journal() noexcept;
  void shutdown();
  void warn(const std::string& message) { *log << "morvi serve: warning: " << message << '\n'; }

  ServerOptions options;
  std::ostream* log;
  HeapPages heap_pages;
  asio::io_context io;
  Stream::acceptor acceptor{io};
  asio::steady_timer flush_timer{io};
  asio::signal_set signals{io};
  std::unique_ptr<SocketFile> socket_file;
  std::unique_ptr<journal::JournalWriter> journal;
  protocol::TreeBuilder builder;
  Progress progress;
  Session* runner = nullptr;
  std::set<std::shared_ptr<Session>> sessions;
  bool flush_armed = false;
  bool stopping = false;
  // Why the journal can no longer be written, once it cannot: from then on no event is taken,
  // as none could be made to last.
  std::string journal_failed;
  std::string no_more_events() const {
    return journal_failed + "; this server takes no more events";
  }
};

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(Server::State& state, Stream::socket socket)
      : state_(state), socket_(std::move(socket)), lines_(protocol::kMaxFrameSize) {}

  void begin() { read(); }
  // Ends the connection; the session leaves the server's set.
  void finish();

 private:
  enum class Role { none, runner, reader };

  void read();
  void on_read(const std::error_code& error, std::size_t size);
  bool on_line(std::string_view line, bool oversize);
  bool hello(std::string_view line, bool oversize);
  void event(std::string_view line, bool oversize);
  void request(const json& request);
  void refuse(std::size_t number, const std::string* event, const std::string& reason);
  void stop_taking_events();
  void send(std::string line);
  void write();
  void on_written(const std::error_code& error);

  Server::State& state_;
  Stream::socket socket_;
  LineReader lines_;
  std::vector<char> buffer_ = std::vector<char>(kReadChunk);
  Role role_ = Role::none;
  std::deque<std::string> out_;
  std::size_t queued_ = 0;
  bool reading_ = false;
  bool writing_ = false;
  bool closing_ = false;  // the last line is queued; end once it is written
  bool closed_ = false;
  // Event lines of this connection: all of them, those applied, those refused.
  std::size_t event_lines_ = 0;
  std::size_t applied_ = 0;
  std::size_t refused_ = 0;
};

void Session::finish() {
  if (closed_) return;
  closed_ = true;
  if (state_.runner == this) {
    state_.runner = nullptr;
    // What the runner sent before it went is put on the disk now rather than by the timer.
    state_.flush_journal();
  }
  std::error_code ignored;
  socket_.shutdown(Stream::socket::shutdown_both, ignored);
  socket_.close(ignored);
  state_.sessions.erase(shared_from_this());
}

void Session::read() {
  reading_ = true;
  socket_.async_read_some(asio::buffer(buffer_),
                          [self = shared_from_this()](const std::error_code& error,
                                                      std::size_t size) {
                            self->on_read(error, size);
                          });
}

void Session::on_read(const std::error_code& error, std::size_t size) {
  reading_ = false;
  if (closed_) return;
  // End of stream or a broken connection: a line left unfinished never arrived whole and is
  // dropped.
  if (error) return finish();
  try {
    lines_.feed(buffer_.data(), size,
                [this](std::string_view line, bool oversize) { return on_line(line, oversize); });
  } catch (const std::exception& e) {
    state_.warn(std::string("a connection ended on an unexpected error: ") + e.what());
    return finish();
  }
  // The tree grew by what these lines built: its new memory is asked for in huge pages
  // before it is touched much.
  state_.heap_pages.advise();
  if (closing_ || closed_) return;
  if (queued_ <= kMaxQueued) read();
}

bool Session::on_line(std::string_view line, bool oversize) {
  if (role_ == Role::none) return hello(line, oversize);
  event(line, oversize);
  return !closing_;
}

bool Session::hello(std::string_view line, bool oversize) {
  const auto no = [this](const std::string& why) {
    send(line_of(json{{"ok", false}, {"error", why}}));
    closing_ = true;
    return false;
  };
  const std::string expected = std::string("{\"hello\":\"") + std::string(protocol::kFormat) +
                               "\",\"version\":" + std::to_string(protocol::kVersion) +
                               ",\"role\":\"runner\" or \"reader\"}";
  if (oversize) return no("the first line must be a hello " + expected + ", got a line over the limit");
  const json hello = json::parse(line, nullptr, false);
  if (hello.is_discarded() || !hello.is_object() || !hello.contains("hello"))
    return no("the first line must be a hello " + expected);
  if (hello["hello"] != protocol::kFormat)
    return no("the hello names the format " + hello["hello"].dump() + "; this server speaks \"" +
              std::string(protocol::kFormat) + "\"");
  if (!hello.contains("version") || hello["version"] != protocol::kVersion)
    return no("the hello names version " + (hello.contains("version") ? hello["version"].dump() : "none") +
              "; this server speaks version " + std::to_string(protocol::kVersion));
  const json role = hello.contains("role") ? hello["role"] : json();
  if (role == "runner") {
    if (state_.runner != nullptr) return no("another runner is connected; a job has one runner at a time");
    if (!state_.journal_failed.empty())
      return no(state_.no_more_events());
    role_ = Role::runner;
    state_.runner = this;
  } else if (role == "reader") {
    role_ = Role::reader;
  } else {
    return no("the hello's role must be \"runner\" or \"reader\", got " + role.dump());
  }
  send(line_of(json{{"ok", true}}));
  return true;
}

void Session::refuse(std::size_t number, const std::string* event, const std::string& reason) {
  ++refused_;
  state_.progress.refused();
  send(line_of(json{{"refused", number}, {"event", event ? json(*event) : json()}, {"error", reason}}));
}

// The journal cannot be written: the runner is told once, without an event number (its
// events are not at fault), and its connection ends. It goes on in a journal of its own from
// the last event a sync acknowledged; the events after that which the server's journal may
// also hold are applied once when the two are replayed together.
void Session::stop_taking_events() {
  send(line_of(json{{"ok", false}, {"error", state_.no_more_events()}}));
  closing_ = true;
}

void Session::event(std::string_view line, bool oversize) {
  if (!state_.journal_failed.empty()) return stop_taking_events();
  if (oversize) {
    refuse(++event_lines_, nullptr,
           "a line over the limit of " + std::to_string(protocol::kMaxFrameSize) + " bytes");
    return;
  }
  protocol::Operation event;
  try {
    event = protocol::decode_operation(line);
  } catch (const protocol::ProtocolError& e) {
    // A line with a "request" member is a request, never an event.
    const json message = json::parse(line, nullptr, false);
    if (message.is_object() && message.contains("request")) return request(message);
    refuse(++event_lines_, nullptr, e.what());
    return;
  }
  const std::size_t number = ++event_lines_;
  const std::string name(protocol::event_name(event.kind));
  if (role_ != Role::runner) return refuse(number, &name, "a reader cannot send events");
  try {
    state_.builder.check(event);
  } catch (const protocol::ProtocolError& e) {
    return refuse(number, &name, e.what());
  }
  try {
    state_.journal->append(line);
  } catch (const std::system_error& e) {
    state_.journal_failed = e.what();
    state_.warn(state_.journal_failed + "; no more events are taken");
    return stop_taking_events();
  }
  state_.journaled();
  state_.progress.before(state_.builder, event.node);
  const protocol::EventKind kind = event.kind;
  const protocol::Handle node = event.node;
  try {
    state_.builder.apply_checked(std::move(event));
  } catch (const protocol::ProtocolError& e) {
    state_.warn("event " + std::to_string(number) +
                " was journaled, then refused by the tree: " + e.what());
    return refuse(number, &name, e.what());
  }
  state_.progress.after(state_.builder, kind, node);
  ++applied_;
}

void Session::request(const json& request) {
  const auto id = request.find("id");
  const bool id_ok = id != request.end() && id->is_number_integer();
  json reply{{"reply", id_ok ? *id : json()}};
  try {
    if (!id_ok) throw protocol::ProtocolError("a request needs an 'id' that is an integer");
    if (request["request"] == "sync") {
      // Everything before this line is applied already; the journal now goes to the disk.
      try {
        state_.journal->flush();
      } catch (const std::system_error& e) {
        state_.journal_failed = e.what();
        throw;
      }
      reply["ok"] = true;
      reply["applied"] = applied_;
      reply["refused"] = refused_;
    } else {
      reply["ok"] = true;
      reply["result"] = answer(request, state_.builder, state_.progress, state_.runner != nullptr);
    }
  } catch (const std::exception& e) {
    reply = json{{"reply", reply["reply"]}, {"ok", false}, {"error", e.what()}};
  }
  std::string line = line_of(reply);
  if (line.size() > protocol::kMaxFrameSize + 1)
    line = line_of(json{{"reply", reply["reply"]},
                        {"ok", false},
                        {"error", "the reply of " + std::to_string(line.size() - 1) +
                                      " bytes is over the limit of a line (" +
                                      std::to_string(protocol::kMaxFrameSize) +
                                      " bytes); a document of any size is written into a folder "
                                      "by asking with 'dir'"}});
  send(std::move(line));
}

void Session::send(std::string line) {
  queued_ += line.size();
  out_.push_back(std::move(line));
  if (!writing_) write();
}

void Session::write() {
  writing_ = true;
  asio::async_write(socket_, asio::buffer(out_.front()),
                    [self = shared_from_this()](const std::error_code& error, std::size_t) {
                      self->on_written(error);
                    });
}

void Session::on_written(const std::error_code& error) {
  writing_ = false;
  if (closed_) return;
  queued_ -= out_.front().size();
  out_.pop_front();
  if (error) return finish();
  if (!out_.empty()) return write();
  if (closing_) return finish();
  if (!reading_) read();
}

Server::State::State(ServerOptions opts)
    : options(std::move(opts)), log(&std::cerr) {
  socket_file = std::make_unique<SocketFile>(options.socket_path, acceptor);
  struct stat info {};
  if (::stat(options.journal_path.c_str(), &info) == 0) {
    // A FIFO would hold the open below until some reader came; a folder cannot be written.
    // A character device (/dev/null) is taken.
    if (!S_ISREG(info.st_mode) && !S_ISCHR(info.st_mode))
      throw ServerError("the journal '" + options.journal_path + "' is not a file; give a new file");
    if (info.st_size > 0)
      throw ServerError("the journal '" + options.journal_path +
                        "' already holds events; give a new file (morvi replay rebuilds its job)");
  }
  journal = std::make_unique<journal::JournalWriter>(options.journal_path, options.fsync);
}

void Server::State::accept() {
  acceptor.async_accept([this](const std::error_code& error, Stream::socket peer) {
    if (stopping) return;
    if (!error) {
      // The socket's mode keeps other users out; the peer's credentials are checked too.
      ucred credentials{};
      socklen_t length = sizeof credentials;
      const bool same_user =
          ::getsockopt(peer.native_handle(), SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
          (credentials.uid == ::geteuid() || credentials.uid == 0);
      if (same_user) {
        auto session = std::make_shared<Session>(*this, std::move(peer));
        sessions.insert(session);
        session->begin();
      }
    } else if (error != asio::error::operation_aborted) {
      warn("cannot accept a connection: " + error.message());
    }
    accept();
  });
}

void Server::State::journaled() {
  if (flush_armed || options.fsync == journal::FsyncPolicy::always) return;
  flush_armed = true;
  flush_timer.expires_after(journal::JournalWriter::kBatchInterval);
  flush_timer.async_wait([this](const std::error_code& error) {
    flush_armed = false;
    if (!error) flush_journal();
  });
}

void Server::State::flush_journal() noexcept {
  try {
    journal->flush();
  } catch (const std::system_error& e) {
    if (journal_failed.empty()) warn(std::string(e.what()) + "; no more events are taken");
    journal_failed = e.what();
  }
}

void Server::State::shutdown() {
  if (stopping) return;
  stopping = true;
  std::error_code ignored;
  acceptor.close(ignored);
  signals.cancel(ignored);
  flush_timer.cancel();
  for (const auto& session : std::set<std::shared_ptr<Session>>(sessions)) session->finish();
  flush_journal();
  socket_file->remove();
  io.stop();
}

Server::Server(ServerOptions options) : state_(std::make_unique<State>(std::move(options))) {}

Server::~Server() = default;

void Server::run() {
  State& state = *state_;
  if (state.options.handle_signals) {
    state.signals.add(SIGINT);
    state.signals.add(SIGTERM);
    state.signals.async_wait([&state](const std::error_code& error, int) {
      if (!error) state.shutdown();
    });
  }
  state.accept();
  state.io.run();
  state.flush_journal();
  state.socket_file->remove();
}

void Server::stop() {
  asio::post(state_->io, [state = state_.get()] { state->shutdown(); });
}

}  // namespace morvi::service::server
