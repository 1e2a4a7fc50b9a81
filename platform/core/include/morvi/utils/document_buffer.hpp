#pragma once
// The one growing buffer documents are written into (the JSON and YAML documents, the XML
// reports): a cursor into a block of memory, so that writers append small pieces (a quote, a
// key, a number) without a bounds check per piece. Writers reserve what a piece needs, then
// put it. Large buffers are their own mappings on huge pages (document_buffer.cpp).
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#pragma GCC visibility push(default)
namespace morvi::utils {

class DocumentBuffer {
 public:
  DocumentBuffer() = default;
  DocumentBuffer(const DocumentBuffer&) = delete;
  DocumentBuffer& operator=(const DocumentBuffer&) = delete;
  DocumentBuffer(DocumentBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        cur_(std::exchange(other.cur_, nullptr)),
        end_(std::exchange(other.end_, nullptr)) {}
  DocumentBuffer& operator=(DocumentBuffer&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(cur_, other.cur_);
    std::swap(end_, other.end_);
    return *this;
  }
  ~DocumentBuffer();

  // What was written: a view valid until the buffer next grows, or a copy.
  std::string_view view() const noexcept { return {data_, size()}; }
  std::string str() const;
  // The text moved out, the buffer left empty. A large buffer gives its pages back as they
  // are copied, so that the text is never in memory twice.
  std::string take();
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

}  // namespace morvi::utils
#pragma GCC visibility pop
