#pragma once
// A results file as nlohmann's parser reads it: read in large pieces and handed on through a
// stdio stream of its own, with the non-finite literals the results writer writes (NaN,
// Infinity, -Infinity), which the parser does not know, handed on outside strings as a 0
// padded with spaces to the same length, so positions in the parser's messages stay true. Each patched literal is kept by the ordinal of the number it
// stands for, and the reader puts the real value back in place of that 0.
#include <cstddef>
#include <cstdio>
#include <deque>
#include <optional>
#include <sys/types.h>
#include <vector>

namespace morvi::json_stream {

class FileInput {
 public:
  // `in` stays open and is read through stream(), which lives as long as this object.
  explicit FileInput(std::FILE* in);
  ~FileInput();
  FileInput(const FileInput&) = delete;
  FileInput& operator=(const FileInput&) = delete;

  // The patched bytes, for the parser; ftell() tells how many it has read.
  std::FILE* stream() const noexcept { return stream_; }

  // The real value of number `ordinal` (counted from 0 in document order) when it was
  // patched; asked for every number in turn.
  std::optional<double> patched(std::size_t ordinal);

  // Reading failed: errno then, EIO when it held none; 0 otherwise.
  int error() const noexcept { return error_; }

 private:
  struct Patch {
    std::size_t ordinal;
    double value;
  };

  static ssize_t read(void* cookie, char* to, std::size_t size);
  static int seek(void* cookie, off64_t* offset, int whence);
  bool refill();
  void scan();

  std::FILE* in_;
  std::FILE* stream_ = nullptr;
  std::vector<char> buffer_;
  std::size_t next_ = 0;    // the next byte handed out
  std::size_t ready_ = 0;   // bytes scanned and fit to hand out; the rest waits for more text
  std::size_t filled_ = 0;  // bytes in the buffer
  std::size_t handed_ = 0;  // bytes handed out in all
  std::deque<Patch> patches_;
  std::size_t numbers_ = 0;  // number tokens scanned
  bool in_string_ = false;
  bool escaped_ = false;
  bool in_token_ = false;
  bool eof_ = false;
  int error_ = 0;
};

}  // namespace morvi::json_stream
