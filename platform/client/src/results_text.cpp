#include "results_text.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

namespace morvi::reporter::client {

namespace {

const std::size_t kPage = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));

}  // namespace

std::unique_ptr<ResultsText> ResultsText::open(const std::string& path) {
  std::unique_ptr<ResultsText> text(new ResultsText);
  struct stat info {};
  if (path != "-" && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot open " + path);
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
      const auto size = static_cast<std::size_t>(info.st_size);
      void* mapped = size == 0 ? nullptr : ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
      const int error = errno;
      ::close(fd);
      if (mapped == MAP_FAILED) {
        throw std::system_error(error, std::generic_category(), "cannot read " + path);
      }
      text->mapped_ = mapped;
      text->mapped_size_ = size;
      text->view_ = std::string_view(static_cast<const char*>(mapped), size);
      return text;
    }
    ::close(fd);  // it was replaced by something else meanwhile: read it as a stream
  }
  text->buffer_ = schema::read_text_buffer(path);
  text->view_ = text->buffer_.view();
  return text;
}

std::unique_ptr<ResultsText> ResultsText::in_memory(std::string content) {
  std::unique_ptr<ResultsText> text(new ResultsText);
  text->text_ = std::move(content);
  text->view_ = text->text_;
  return text;
}

ResultsText::~ResultsText() {
  if (mapped_ != nullptr) ::munmap(mapped_, mapped_size_);
}

void ResultsText::passed(std::size_t from, std::size_t to) const {
  const std::size_t first = (from + kPage - 1) / kPage * kPage;
  const std::size_t last = std::min(to, mapped_size_) / kPage * kPage;
  // Only a hint: a page given back is read from the page cache again when it is needed.
  if (mapped_ != nullptr && last > first) {
    ::madvise(static_cast<char*>(mapped_) + first, last - first, MADV_DONTNEED);
  }
}

}  // namespace morvi::reporter::client
