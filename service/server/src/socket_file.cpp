#include "socket_file.hpp"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "morvi/service/server/server.hpp"

namespace morvi::service::server {
namespace {

// Whether a server answers at `path`: a connection is accepted there.
bool someone_listens(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "socket");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  const bool live = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  const int error = errno;
  ::close(fd);
  if (!live && error != ECONNREFUSED && error != ENOENT)
    throw std::system_error(error, std::generic_category(), "cannot check the socket '" + path + "'");
  return live;
}

}  // namespace

SocketFile::SocketFile(const std::string& path, asio::local::stream_protocol::acceptor& acceptor)
    : path_(path) {
  if (path.empty() || path.size() >= sizeof(sockaddr_un{}.sun_path))
    throw ServerError("the socket path '" + path + "' must be 1 to " +
                      std::to_string(sizeof(sockaddr_un{}.sun_path) - 1) + " bytes long");
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode))
      throw ServerError("'" + path + "' exists and is not a socket; it is left alone");
    if (someone_listens(path))
      throw ServerError("a server is already listening on '" + path + "'");
    // Nobody answers: a server that died left it behind.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
      throw std::system_error(errno, std::generic_category(),
                              "cannot remove the stale socket '" + path + "'");
  }
  acceptor.open();
  // The mode is set as the file is made: a chmod after bind would leave a window in which
  // anyone could connect.
  const mode_t before = ::umask(0177);
  std::error_code error;
  acceptor.bind(asio::local::stream_protocol::endpoint(path), error);
  ::umask(before);
  if (error) throw std::system_error(error, "cannot create the socket '" + path + "'");
  if (::lstat(path.c_str(), &info) != 0)
    throw std::system_error(errno, std::generic_category(), "cannot read the socket '" + path + "'");
  device_ = info.st_dev;
  inode_ = info.st_ino;
  owned_ = true;
  acceptor.listen();
}

void SocketFile::remove() noexcept {
  if (!owned_) return;
  owned_ = false;
  struct stat info {};
  if (::lstat(path_.c_str(), &info) == 0 && info.st_dev == device_ && info.st_ino == inode_)
    ::unlink(path_.c_str());
}

}  // namespace morvi::service::server
