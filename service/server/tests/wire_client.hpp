#pragma once
// A plain blocking client of the server's wire for the tests: raw bytes out, lines in, every
// wait bounded.
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace morvi::service::server::testing {

using nlohmann::json;

// A folder under /tmp for sockets, whose paths must stay short; removed with its contents.
class SocketDir {
 public:
  SocketDir() {
    char name[] = "/tmp/morvi-srv-XXXXXX";
    if (::mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = name;
  }
  ~SocketDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// errno of connecting to `path`, 0 when it connected.
inline int connect_to(const std::string& path, int& fd) {
  fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return 0;
  const int error = errno;
  ::close(fd);
  fd = -1;
  return error;
}

class WireClient {
 public:
  explicit WireClient(const std::string& path) {
    if (const int error = connect_to(path, fd_); error != 0)
      throw std::runtime_error("cannot connect to " + path + ": " + std::to_string(error));
  }
  ~WireClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  WireClient(const WireClient&) = delete;
  WireClient& operator=(const WireClient&) = delete;

  void send(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EINTR) continue;
        throw std::runtime_error("send failed: " + std::to_string(errno));
      }
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
  }
  void send_line(const json& message) { send(message.dump() + "\n"); }
  void close_writing() { ::shutdown(fd_, SHUT_WR); }

  // The next line, or nothing at the end of the stream. runtime_error after 20 s of silence.
  std::optional<std::string> read_line() {
    for (;;) {
      const auto newline = buffer_.find('\n');
      if (newline != std::string::npos) {
        std::string line = buffer_.substr(0, newline);
        buffer_.erase(0, newline + 1);
        return line;
      }
      pollfd p{fd_, POLLIN, 0};
      const int ready = ::poll(&p, 1, 20000);
      if (ready == 0) throw std::runtime_error("no answer within 20 s");
      if (ready < 0) {
        if (errno == EINTR) continue;
        throw std::runtime_error("poll failed");
      }
      char chunk[65536];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }
  json read_json() {
    const auto line = read_line();
    if (!line) throw std::runtime_error("the server closed the connection");
    return json::parse(*line);
  }

  json hello(const std::string& role) {
    send_line({{"hello", "morvi-events"}, {"version", 1}, {"role", role}});
    return read_json();
  }
  json request(json message) {
    message["id"] = ++last_id_;
    send_line(message);
    return read_json();
  }

 private:
  int fd_ = -1;
  std::string buffer_;
  int last_id_ = 0;
};

}  // namespace morvi::service::server::testing
