#include "xml_files.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

namespace morvi::reporter::markfolio::xml_files {
namespace {

[[noreturn]] void raise_errno(const std::string& action, const std::string& path) {
  throw std::system_error(errno, std::generic_category(), action + " " + path);
}

void write_all(int fd, std::string_view content, const std::string& path) {
  while (!content.empty()) {
    const ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      raise_errno("cannot write", path);
    }
    content.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

void write_whole(const std::string& path, std::string_view content) {
  static std::atomic<unsigned> serial{0};
  std::string temp;
  int fd = -1;
  while (fd < 0) {
    temp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(serial++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) raise_errno("cannot create", temp);
  }
  try {
    write_all(fd, content, temp);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) raise_errno("cannot write", temp);
    if (::rename(temp.c_str(), path.c_str()) != 0) raise_errno("cannot replace", path);
  } catch (...) {
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    throw;
  }
}

void write_direct(const std::string& path, std::string_view content) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) raise_errno("cannot create", path);
  try {
    write_all(fd, content, path);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) raise_errno("cannot write", path);
}

}  // namespace morvi::reporter::markfolio::xml_files
