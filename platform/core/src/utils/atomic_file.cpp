#include "morvi/utils/atomic_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <system_error>

namespace morvi::utils {
namespace {

[[noreturn]] void raise_errno(int error, const std::string& action, const std::string& path) {
  throw std::system_error(error, std::generic_category(), action + " " + path);
}

// Links are followed this many times at most, as the kernel does.
constexpr int kMaxLinks = 40;

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Where the links starting at `path` lead, followed one by one so that a link to a file not
// there yet still names it.
std::string resolve_links(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::string destination(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    const ssize_t n = ::readlink(current.c_str(), destination.data(), destination.size());
    if (n < 0) raise_errno(errno, "cannot read the link", current);
    destination.resize(static_cast<std::size_t>(n));
    current = destination.starts_with('/') ? destination : folder_of(current) + "/" + destination;
  }
  raise_errno(ELOOP, "cannot follow the links of", path);
}

// "<base>.tmp.<pid>.<n>" gives the pid; 0 for any other name.
pid_t temporary_owner(std::string_view name, std::string_view base) {
  const std::string_view marker = ".tmp.";
  if (!name.starts_with(base) || name.substr(base.size(), marker.size()) != marker) return 0;
  name.remove_prefix(base.size() + marker.size());
  const std::size_t dot = name.find('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return 0;
  long pid = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + dot, pid);
  if (error != std::errc() || end != name.data() + dot || pid <= 0) return 0;
  unsigned long serial = 0;
  const char* last = name.data() + name.size();
  const auto [serial_end, serial_error] = std::from_chars(name.data() + dot + 1, last, serial);
  if (serial_error != std::errc() || serial_end != last) return 0;
  return static_cast<pid_t>(pid);
}

// Removes the temporary files of `target` whose writer is no longer alive. Best effort: a
// folder that cannot be listed keeps them.
void remove_stale_temporaries(const std::string& target) {
  const std::string folder = folder_of(target);
  const std::string base = target.substr(target.rfind('/') == std::string::npos ? 0 : target.rfind('/') + 1);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const pid_t owner = temporary_owner(entry->d_name, base);
    if (owner == 0 || owner == ::getpid()) continue;
    if (::kill(owner, 0) == 0 || errno != ESRCH) continue;
    ::unlinkat(::dirfd(dir), entry->d_name, 0);
  }
  ::closedir(dir);
}

void sync_folder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) raise_errno(errno, "cannot open the folder", folder);
  const int synced = ::fsync(fd);
  const int error = errno;
  ::close(fd);
  // Some file systems cannot sync a folder; the rename is in place all the same.
  if (synced != 0 && error != EINVAL && error != EROFS) raise_errno(error, "cannot sync", folder);
}

}  // namespace

AtomicFile::AtomicFile(const std::string& path, LinkTarget links)
    : path_(path), target_(links == LinkTarget::follow ? resolve_links(path) : path) {
  static std::atomic<unsigned long> serial{0};
  remove_stale_temporaries(target_);
  struct stat existing {};
  const bool replaces = ::lstat(target_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
  int fd = -1;
  while (fd < 0) {
    temporary_ = target_ + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(serial++);
    fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) raise_errno(errno, "cannot create", target_);
  }
  if (replaces && ::fchmod(fd, existing.st_mode & 07777) != 0) {
    const int error = errno;
    ::close(fd);
    ::unlink(temporary_.c_str());
    raise_errno(error, "cannot set the permissions of", temporary_);
  }
  stream_ = ::fdopen(fd, "wb");
  if (stream_ == nullptr) {
    const int error = errno;
    ::close(fd);
    ::unlink(temporary_.c_str());
    raise_errno(error, "cannot write", temporary_);
  }
}

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::discard() noexcept {
  if (stream_ == nullptr && !closed_) return;
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
  closed_ = false;
  ::unlink(temporary_.c_str());
}

void AtomicFile::write(std::string_view bytes) {
  if (stream_ == nullptr) raise_errno(EBADF, "cannot write", path_);
  if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size()) {
    const int error = errno;
    discard();
    raise_errno(error, "cannot write", path_);
  }
}

void AtomicFile::close() {
  if (stream_ == nullptr) raise_errno(EBADF, "cannot write", path_);
  int error = 0;
  if (std::fflush(stream_) != 0 || ::fsync(::fileno(stream_)) != 0) error = errno;
  const int closed = std::fclose(stream_);
  stream_ = nullptr;
  if (error == 0 && closed != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary_.c_str());
    raise_errno(error, "cannot write", path_);
  }
  closed_ = true;
}

void AtomicFile::commit() {
  if (stream_ != nullptr) close();
  if (!closed_) raise_errno(EBADF, "cannot write", path_);
  closed_ = false;
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary_.c_str());
    raise_errno(error, "cannot write", path_);
  }
  sync_folder(folder_of(target_));
}

void write_file_atomically(const std::string& path, std::string_view content, LinkTarget links) {
  AtomicFile file(path, links);
  file.write(content);
  file.commit();
}

}  // namespace morvi::utils
