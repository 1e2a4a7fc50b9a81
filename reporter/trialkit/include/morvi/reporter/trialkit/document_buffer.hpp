#pragma once
// The one growing buffer a document is written into: a cursor into a block of memory, so that
// writers append small pieces (a quote, a key, a number) without a bounds check per piece.
// Writers reserve what a piece needs, then put it.
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace morvi::reporter::trialkit {

class DocumentBuffer {
 public:
  DocumentBuffer() = default;
  DocumentBuffer(const DocumentBuffer&) = delete;
  DocumentBuffer& operator=(const DocumentBuffer&) = delete;
  ~DocumentBuffer();

  // What was written, as text.
  std::string str() const;
  std::size_t size() const noexcept { return static_cast<std::size_t>(cur_ - data_); }
  // Drops what was written after the first `n` bytes.
  void truncate(std::size_t n) noexcept { cur_ = data_ + n; }

  void reserve(std::size_t n) {
    if (static_cast<std::size_t>(end_ - cur_) < n) grow(n);
  }

  // Unchecked: the caller has reserved room.
  void put(char c) noexcept { *cur_++ = c; }
  void put(std::string_view s) noexcept {
    const std::size_t n = s.size();
    // Most pieces are a few bytes: two overlapping fixed-size copies beat a call to memcpy.
    if (n >= 8 && n <= 16) {
      std::memcpy(cur_, s.data(), 8);
      std::memcpy(cur_ + n - 8, s.data() + n - 8, 8);
    } else if (n >= 4 && n < 8) {
      std::memcpy(cur_, s.data(), 4);
      std::memcpy(cur_ + n - 4, s.data() + n - 4, 4);
    } else if (n < 4) {
      for (std::size_t i = 0; i < n; ++i) cur_[i] = s[i];
    } else {
      std::memcpy(cur_, s.data(), n);
    }
    cur_ += n;
  }
  void fill(char c, std::size_t n) noexcept {
    std::memset(cur_, c, n);
    cur_ += n;
  }

  // Checked.
  void append(std::string_view s) {
    reserve(s.size());
    put(s);
  }
  void append(char c) {
    reserve(1);
    put(c);
  }

 private:
  void grow(std::size_t n);

  char* data_ = nullptr;
  char* cur_ = nullptr;
  char* end_ = nullptr;
};

}  // namespace morvi::reporter::trialkit
