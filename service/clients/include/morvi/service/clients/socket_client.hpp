#pragma once
// A reporter client over a reporter server's socket (docs/reporter-server.md): the records of
// a running job, fetched one request at a time, of the same shape as those of the other
// clients.
#include <chrono>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "morvi/reporter/client.hpp"

#pragma GCC visibility push(default)
namespace morvi::service::clients {

class SocketReporterClient : public reporter::client::ReporterClient {
 public:
  static constexpr std::chrono::milliseconds kDefaultTimeout{10000};

  // Connects to the server at `socket_path` as a reader. std::system_error naming the socket
  // when no server is there or it does not answer within `timeout`; ProtocolError when it
  // refuses the hello.
  explicit SocketReporterClient(std::string socket_path,
                                std::chrono::milliseconds timeout = kDefaultTimeout);
  ~SocketReporterClient() override;
  SocketReporterClient(const SocketReporterClient&) = delete;
  SocketReporterClient& operator=(const SocketReporterClient&) = delete;

  // Every request: std::system_error naming the socket when the server has gone or is
  // silent for longer than the timeout; ProtocolError for an error reply or one that is not
  // a reply.
  Value get_trialkit() override;
  Value get_section(const List& id_list) override;
  // The results text ("json" or "yaml") of the tree as it stands; an error reply when it is
  // longer than a line (a job of some 100,000 nodes): write_document takes any size.
  std::string document(std::string_view format);
  // results.json or results.yaml written by the server into `dir` (absolute); its path.
  std::string write_document(std::string_view format, const std::string& dir);
  // The two XML reports written by the server into `dir` (absolute); their paths.
  List write_xml(const std::string& dir);
  // The job's progress counts (docs/reporter-server.md).
  Map progress();

  const std::string& socket_path() const noexcept { return path_; }

 private:
  // Objects keep their members in order, as the typed values need.
  nlohmann::ordered_json call(nlohmann::ordered_json request);
  void send(const std::string& line);
  std::string read_line();
  [[noreturn]] void gone(int error, const std::string& what) const;

  std::string path_;
  std::chrono::milliseconds timeout_;
  int fd_ = -1;
  std::string buffer_;
  long long last_id_ = 0;
};

}  // namespace morvi::service::clients
#pragma GCC visibility pop
