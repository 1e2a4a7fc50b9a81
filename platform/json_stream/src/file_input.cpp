#include "file_input.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <system_error>

#include <stdio_ext.h>

namespace morvi::json_stream {

namespace {

constexpr std::size_t kPiece = 1 << 16;
// "-Infinity", the longest literal looked for: at most this many bytes are held back.
constexpr std::size_t kLongestLiteral = 9;

constexpr auto kDelimiters = [] {
  std::array<bool, 256> table{};
  for (const unsigned char c : std::string_view(" \t\n\r,:[]{}\"")) table[c] = true;
  return table;
}();

bool is_delimiter(char c) { return kDelimiters[static_cast<unsigned char>(c)]; }

std::optional<double> non_finite(std::string_view token) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  if (token == "NaN") return std::numeric_limits<double>::quiet_NaN();
  if (token == "Infinity") return inf;
  if (token == "-Infinity") return -inf;
  return std::nullopt;
}

}  // namespace

FileInput::FileInput(std::FILE* in) : in_(in), buffer_(kPiece + kLongestLiteral + 1) {
  stream_ = ::fopencookie(this, "rb", {&FileInput::read, nullptr, &FileInput::seek, nullptr});
  if (stream_ == nullptr) throw std::system_error(errno, std::generic_category(), "fopencookie");
  // One thread reads it: the parser's getc need not lock the stream for every byte.
  ::__fsetlocking(stream_, FSETLOCKING_BYCALLER);
}

FileInput::~FileInput() { std::fclose(stream_); }

std::optional<double> FileInput::patched(std::size_t ordinal) {
  if (patches_.empty() || patches_.front().ordinal != ordinal) return std::nullopt;
  const double value = patches_.front().value;
  patches_.pop_front();
  return value;
}

ssize_t FileInput::read(void* cookie, char* to, std::size_t size) {
  auto& self = *static_cast<FileInput*>(cookie);
  if (self.next_ == self.ready_ && !self.refill()) {
    if (self.error_ == 0) return 0;
    errno = self.error_;
    return -1;
  }
  const std::size_t n = std::min(size, self.ready_ - self.next_);
  std::memcpy(to, self.buffer_.data() + self.next_, n);
  self.next_ += n;
  self.handed_ += n;
  return static_cast<ssize_t>(n);
}

// Only tells the position, which is all ftell() asks.
int FileInput::seek(void* cookie, off64_t* offset, int whence) {
  if (whence != SEEK_CUR || *offset != 0) {
    errno = ESPIPE;
    return -1;
  }
  *offset = static_cast<off64_t>(static_cast<FileInput*>(cookie)->handed_);
  return 0;
}

// Moves the bytes held back (the start of a literal the last piece cut) to the front, reads
// the next piece after them and scans it.
bool FileInput::refill() {
  if (eof_ && ready_ == filled_) return false;
  const std::size_t held = filled_ - ready_;
  std::memmove(buffer_.data(), buffer_.data() + ready_, held);
  next_ = 0;
  filled_ = held;
  if (!eof_) {
    const std::size_t got = std::fread(buffer_.data() + held, 1, kPiece, in_);
    filled_ += got;
    if (got < kPiece) {
      eof_ = true;
      if (std::ferror(in_)) error_ = errno != 0 ? errno : EIO;
    }
  }
  scan();
  return ready_ > 0;
}

namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101u;
constexpr std::uint64_t kHighs = 0x8080808080808080u;

// Whether any byte of `word` is a quote or a backslash.
bool has_quote_or_backslash(std::uint64_t word) {
  const std::uint64_t quotes = word ^ (kOnes * '"');
  const std::uint64_t backslashes = word ^ (kOnes * '\\');
  return (((quotes - kOnes) & ~quotes) | ((backslashes - kOnes) & ~backslashes)) & kHighs;
}

}  // namespace

// Counts number tokens outside strings and patches the non-finite literals among them. A
// token that may be such a literal and reaches the end of the piece is held back until the
// next piece (or the end of the file) shows where it ends.
void FileInput::scan() {
  std::size_t i = 0;
  while (i < filled_) {
    const char c = buffer_[i];
    if (in_string_) {
      if (escaped_) {
        escaped_ = false;
        ++i;
        continue;
      }
      // Most of a results file is text: run to its closing quote or a backslash, a word at a
      // time while none is in sight.
      for (std::uint64_t word; i + 8 <= filled_; i += 8) {
        std::memcpy(&word, buffer_.data() + i, 8);
        if (has_quote_or_backslash(word)) break;
      }
      while (i < filled_ && buffer_[i] != '"' && buffer_[i] != '\\') ++i;
      if (i < filled_) {
        escaped_ = buffer_[i] == '\\';
        in_string_ = escaped_;
        ++i;
      }
      continue;
    }
    if (is_delimiter(c)) {
      in_token_ = false;
      in_string_ = c == '"';
      ++i;
      continue;
    }
    if (in_token_) {
      while (i < filled_ && !is_delimiter(buffer_[i])) ++i;
      continue;
    }
    in_token_ = true;
    if (c != 'N' && c != 'I' && c != '-') {
      if (c >= '0' && c <= '9') ++numbers_;
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < filled_ && end - i <= kLongestLiteral && !is_delimiter(buffer_[end])) ++end;
    if (end == filled_ && end - i <= kLongestLiteral && !eof_) {
      in_token_ = false;
      break;
    }
    if (const auto value = non_finite({buffer_.data() + i, end - i})) {
      patches_.push_back({numbers_, *value});
      buffer_[i] = '0';
      std::memset(buffer_.data() + i + 1, ' ', end - i - 1);
      ++numbers_;
      in_token_ = false;
    } else if (c == '-') {
      ++numbers_;
    }
    i = end;
  }
  ready_ = i;
}

}  // namespace morvi::json_stream
