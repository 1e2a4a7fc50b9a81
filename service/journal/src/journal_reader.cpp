#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include <nlohmann/json.hpp>

#include "morvi/service/journal/journal.hpp"
#include "morvi/service/protocol/operation.hpp"
#include "morvi/service/protocol/protocol.hpp"

namespace morvi::service::journal {
namespace {

using protocol::ProtocolError;

// The journal is read this much at a time: a replay never holds the whole file, nor more than
// one decoded event.
constexpr std::size_t kChunk = 4 << 20;

[[noreturn]] void unreadable(const std::string& path, int error) {
  throw std::system_error(error, std::generic_category(), "cannot read the journal '" + path + "'");
}

// The header's number of the first event (1 when it names none).
std::uint64_t check_header(std::string_view line, const std::string& path) {
  nlohmann::json header;
  try {
    header = nlohmann::json::parse(line);
  } catch (const nlohmann::json::exception&) {
    throw ProtocolError(path + ":1: not a journal: the header line is not JSON", 1);
  }
  if (!header.is_object() || header.value("format", "") != protocol::kFormat)
    throw ProtocolError(path + ":1: not a journal: the header does not name the format '" +
                            std::string(protocol::kFormat) + "'", 1);
  const auto version = header.find("version");
  if (version == header.end() || !version->is_number_integer() ||
      version->get<std::int64_t>() != protocol::kVersion)
    throw ProtocolError(path + ":1: journal version " + (version == header.end() ? "none" : version->dump()) +
                            " is not the version this program reads (" +
                            std::to_string(protocol::kVersion) + ")", 1);
  const auto first = header.find("first");
  if (first == header.end()) return 1;
  if (!first->is_number_unsigned() || first->get<std::uint64_t>() == 0)
    throw ProtocolError(path + ":1: the header's 'first' must be a whole number of 1 or more, "
                        "got " + first->dump(), 1);
  return first->get<std::uint64_t>();
}

// A journal's lines, read a chunk at a time. A line is handed out once it is known whether it
// is the last one: the last line may be torn, any other must be whole.
class LineSource {
 public:
  explicit LineSource(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) unreadable(path, errno);
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  ~LineSource() { ::close(fd_); }
  LineSource(const LineSource&) = delete;
  LineSource& operator=(const LineSource&) = delete;

  struct Line {
    std::string_view text;
    std::size_t offset;  // of its first byte in the file
    bool complete;       // ends with a newline
    bool last;
  };

  // The next line, valid until the next call; false at the end of the file.
  bool next(Line& line) {
    for (;;) {
      const char* from = data_.get() + begin_;
      const auto* newline = static_cast<const char*>(std::memchr(from, '\n', size_ - begin_));
      // A line is the last when nothing follows its newline; that is known once a byte past
      // it is read, or the file ends.
      if (newline != nullptr) {
        const auto end = static_cast<std::size_t>(newline - data_.get());
        if (end + 1 < size_ || ended_) {
          line = {std::string_view(from, end - begin_), base_ + begin_, true,
                  ended_ && end + 1 == size_};
          begin_ = end + 1;
          ++number_;
          return true;
        }
      }
      // No event line is longer than a frame: endless input such as /dev/zero ends here.
      if (newline == nullptr && size_ - begin_ > protocol::kMaxFrameSize) {
        throw ProtocolError(path_ + ":" + std::to_string(number_ + 1) + ": the line at byte " +
                                std::to_string(base_ + begin_) + " is longer than an event line " +
                                "may be (" + std::to_string(protocol::kMaxFrameSize) +
                                " bytes): the journal is damaged, or not a journal",
                            number_ + 1);
      }
      if (ended_) {
        if (begin_ == size_) return false;
        line = {std::string_view(from, size_ - begin_), base_ + begin_, false, true};
        begin_ = size_;
        ++number_;
        return true;
      }
      fill();
    }
  }

 private:
  // Moves the unread bytes to the front and reads more after them, growing the buffer for a
  // line longer than it.
  void fill() {
    const std::size_t kept = size_ - begin_;
    if (kept == capacity_) {
      auto larger = std::make_unique_for_overwrite<char[]>(capacity_ * 2);
      std::memcpy(larger.get(), data_.get() + begin_, kept);
      data_ = std::move(larger);
      capacity_ *= 2;
    } else {
      std::memmove(data_.get(), data_.get() + begin_, kept);
    }
    base_ += begin_;
    begin_ = 0;
    size_ = kept;
    ssize_t n;
    do n = ::read(fd_, data_.get() + size_, capacity_ - size_);
    while (n < 0 && errno == EINTR);
    if (n < 0) unreadable(path_, errno);
    size_ += static_cast<std::size_t>(n);
    ended_ = n == 0;
  }

  const std::string& path_;
  int fd_;
  std::size_t capacity_ = kChunk;
  std::unique_ptr<char[]> data_ = std::make_unique_for_overwrite<char[]>(kChunk);
  std::size_t begin_ = 0;  // of the first line not yet handed out
  std::size_t size_ = 0;   // bytes read into data_
  std::size_t base_ = 0;   // file offset of data_'s first byte
  std::size_t number_ = 0;  // of the lines handed out
  bool ended_ = false;
};

}  // namespace

Replay replay(const std::string& path) { return replay(std::vector<std::string>{path}); }

Replay replay(const std::vector<std::string>& paths) {
  Replay out;
  // The job's events applied so far, over every journal read.
  std::uint64_t held = 0;
  for (const std::string& path : paths) {
    LineSource lines(path);
    LineSource::Line line;
    if (!lines.next(line)) throw ProtocolError(path + ": not a journal: the file is empty");
    if (!line.complete) {
      out.warnings.push_back(path + ": the header line at byte 0 is torn; the journal is empty");
      continue;
    }
    const std::uint64_t first = check_header(line.text, path);
    if (first > held + 1) {
      throw ProtocolError(
          path + ":1: the journal starts at event " + std::to_string(first) +
          (held == 0 ? " of its job; give the journals holding the events before it first"
                     : " but the journals before it end at event " + std::to_string(held) +
                           "; the events between them are missing"),
          1);
    }
    // The job's number of the next line's event; those the journals before held are skipped.
    std::uint64_t number = first;
    for (std::size_t line_number = 2; lines.next(line); ++line_number, ++number) {
      protocol::Operation event;
      try {
        event = protocol::decode_operation(line.text);
      } catch (const ProtocolError& e) {
        if (!line.last)
          throw ProtocolError(path + ":" + std::to_string(line_number) + ": " + e.what(),
                              line_number);
        out.warnings.push_back(path + ": the last line, at byte " + std::to_string(line.offset) +
                               ", is torn and was left out (" + e.what() + ")");
        break;
      }
      if (number <= held) continue;
      try {
        out.builder.apply(std::move(event));
      } catch (const ProtocolError& e) {
        throw ProtocolError(path + ":" + std::to_string(line_number) + ": " + e.what(),
                            line_number);
      }
      ++held;
    }
  }
  return out;
}

}  // namespace morvi::service::journal
