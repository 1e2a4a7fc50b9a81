#pragma once
// The framework's clock and its reading of file sizes. Tests substitute the clock with
// ScopedClock instead of sleeping; a rebuilt report substitutes both with the readings the
// runner took.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "morvi/datetime.hpp"

#pragma GCC visibility push(default)
namespace morvi::utils {

using ClockSource = std::function<DateTime()>;

// The local wall-clock time with its UTC offset, from the current clock source.
DateTime get_time();

// The system clock: local time with microseconds and the local offset.
DateTime system_time();

// Replaces the clock source for its lifetime, then puts the previous one back.
class ScopedClock {
 public:
  explicit ScopedClock(ClockSource source);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  ClockSource previous_;
};

using FileSizeSource = std::function<std::optional<std::int64_t>(const std::string& path)>;

// The size in bytes of the file at `path`, from the current file-size source; nothing when it
// cannot be told (a missing or unreadable file).
std::optional<std::int64_t> file_size(const std::string& path);

// The operating system's answer.
std::optional<std::int64_t> system_file_size(const std::string& path);

// Replaces the file-size source for its lifetime, then puts the previous one back.
class ScopedFileSize {
 public:
  explicit ScopedFileSize(FileSizeSource source);
  ~ScopedFileSize();
  ScopedFileSize(const ScopedFileSize&) = delete;
  ScopedFileSize& operator=(const ScopedFileSize&) = delete;

 private:
  FileSizeSource previous_;
};

}  // namespace morvi::utils
#pragma GCC visibility pop
