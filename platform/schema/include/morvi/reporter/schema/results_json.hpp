#pragma once
// Reading results JSON documents from text and from files.
#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#pragma GCC visibility push(default)
namespace morvi::reporter::schema {

// What read_text_file reads at most unless told otherwise: 1 GiB.
inline constexpr std::size_t DEFAULT_MAX_READ_BYTES = std::size_t{1} << 30;

// The whole content of the file at `path`; "-" reads standard input. Pipes and devices are
// read to their end, so process substitution works. std::system_error naming the path when it
// cannot be opened or read, and std::errc::file_too_large when it holds more than `max_bytes`
// (an endless input such as /dev/zero is refused once the limit is passed).
std::string read_text_file(const std::string& path,
                           std::size_t max_bytes = DEFAULT_MAX_READ_BYTES);

// Text in memory mapped for it alone, asking for huge pages: a large file costs one copy and a
// few page faults, where fresh small pages would each be faulted in and cleared first (on a
// virtual machine that costs more than reading the text). The memory goes back when the
// buffer goes.
class TextBuffer {
 public:
  TextBuffer() noexcept = default;
  TextBuffer(TextBuffer&& other) noexcept;
  TextBuffer& operator=(TextBuffer&& other) noexcept;
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;
  ~TextBuffer();

  std::string_view view() const noexcept { return {data_, size_}; }
  std::size_t size() const noexcept { return size_; }
  // Capacity for `total` bytes in all; std::bad_alloc when the system has none.
  void reserve(std::size_t total);
  // Room for `n` more bytes after the text; commit(k) makes the first k of them part of it.
  char* room(std::size_t n);
  void commit(std::size_t n) noexcept { size_ += n; }

 private:
  void grow_to(std::size_t capacity);
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// read_text_file into a TextBuffer, with the same errors.
TextBuffer read_text_buffer(const std::string& path, std::size_t max_bytes = DEFAULT_MAX_READ_BYTES);

// Parses a results JSON document. NaN, Infinity and -Infinity are read as the non-finite reals
// the results writer writes them for. Text that is not JSON, that nests deeper than
// MAX_DEPTH, holds a NUL byte outside a string or a number too large for a double, is a
// ParseError whose message starts with "<origin>: line L, column C: ".
nlohmann::json parse_results_json(std::string_view text, std::string_view origin);
// The same, keeping every object's members in the order the document gives them.
nlohmann::ordered_json parse_results_json_ordered(std::string_view text, std::string_view origin);

}  // namespace morvi::reporter::schema
#pragma GCC visibility pop
