#pragma once
// The socket file: claimed with mode 0600, checked for a live server first, removed only
// while it is still the one this server made.
#include <sys/types.h>

#include <string>

#include <asio/local/stream_protocol.hpp>

namespace morvi::service::server {

class SocketFile {
 public:
  // Removes a stale socket at `path`, binds `acceptor` there with mode 0600 and listens.
  // ServerError for a live server at `path`, something there that is not a socket, or a path
  // too long for a socket address.
  SocketFile(const std::string& path, asio::local::stream_protocol::acceptor& acceptor);
  ~SocketFile() { remove(); }
  SocketFile(const SocketFile&) = delete;
  SocketFile& operator=(const SocketFile&) = delete;

  // Unlinks the socket unless another file has taken its place since.
  void remove() noexcept;

 private:
  std::string path_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  bool owned_ = false;
};

}  // namespace morvi::service::server
