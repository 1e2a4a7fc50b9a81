#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "morvi/errors.hpp"
#include "morvi/service/journal/journal.hpp"

namespace morvi::service::journal {
namespace {

// Lines held back before they are written, under the batch and never policies.
constexpr std::size_t kHoldBack = 1 << 16;

[[noreturn]] void fail(const std::string& what, const std::string& path) {
  throw std::system_error(errno, std::generic_category(), what + " '" + path + "'");
}

// Appends the event's line and its newline. A line longer than a reader takes would make the
// whole journal unreadable, so it is refused as a value that cannot travel is, with `pending`
// left as it was.
template <class Event>
void append_line(std::string& pending, const Event& event) {
  const std::size_t start = pending.size();
  protocol::append_event(pending, event);
  const std::size_t length = pending.size() - start;
  if (length > protocol::kMaxFrameSize) {
    pending.resize(start);
    pending.shrink_to_fit();
    throw SerializationError("an event line of " + std::to_string(length) +
                             " bytes, longer than a journal's lines may be (" +
                             std::to_string(protocol::kMaxFrameSize) + ")");
  }
  pending += '\n';
}

}  // namespace

JournalWriter::JournalWriter(const std::string& path, FsyncPolicy policy,
                             std::uint64_t first_event)
    : path_(path), policy_(policy), last_sync_(std::chrono::steady_clock::now()) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) fail("cannot open the journal", path);
  struct stat info {};
  if (::fstat(fd_, &info) != 0) {
    ::close(fd_);
    fail("cannot read the size of the journal", path);
  }
  if (info.st_size == 0) {
    pending_ = std::string("{\"format\":\"") + std::string(protocol::kFormat) +
               "\",\"version\":" + std::to_string(protocol::kVersion) +
               (first_event == 1 ? std::string() : ",\"first\":" + std::to_string(first_event)) +
               "}\n";
    write_out();
    if (policy_ != FsyncPolicy::never) ::fsync(fd_);
  }
}

JournalWriter::~JournalWriter() {
  try {
    flush();
  } catch (const std::system_error&) {
    // A journal that can no longer be written loses what was held back; the close still runs.
  }
  ::close(fd_);
}

void JournalWriter::write_out() {
  std::size_t done = 0;
  while (done < pending_.size()) {
    const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      pending_.erase(0, done);
      fail("cannot write the journal", path_);
    }
    done += static_cast<std::size_t>(n);
  }
  pending_.clear();
}

void JournalWriter::send(const protocol::Event& event) {
  append_line(pending_, event);
  appended();
}

void JournalWriter::send_draft(const protocol::EventDraft& draft) {
  append_line(pending_, draft);
  appended();
}

void JournalWriter::append(std::string_view line) {
  pending_ += line;
  pending_ += '\n';
  appended();
}

void JournalWriter::appended() {
  switch (policy_) {
    case FsyncPolicy::always:
      write_out();
      if (::fdatasync(fd_) != 0) fail("cannot sync the journal", path_);
      return;
    case FsyncPolicy::batch: {
      const auto now = std::chrono::steady_clock::now();
      if (now - last_sync_ >= kBatchInterval) {
        write_out();
        if (::fdatasync(fd_) != 0) fail("cannot sync the journal", path_);
        last_sync_ = now;
      } else if (pending_.size() >= kHoldBack) {
        write_out();
      }
      return;
    }
    case FsyncPolicy::never:
      if (pending_.size() >= kHoldBack) write_out();
      return;
  }
}

void JournalWriter::flush() {
  write_out();
  if (policy_ != FsyncPolicy::never && ::fdatasync(fd_) != 0)
    fail("cannot sync the journal", path_);
  last_sync_ = std::chrono::steady_clock::now();
}

}  // namespace morvi::service::journal
