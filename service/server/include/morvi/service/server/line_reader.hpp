#pragma once
// Splits a byte stream into lines, holding at most `max_line` bytes of an unfinished line.
//
// A line longer than that is not kept: its bytes are dropped as they come, and when its
// newline arrives it is reported as oversize, so a peer can never make the reader buffer
// more than one line's limit.
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#pragma GCC visibility push(default)
namespace morvi::service::server {

class LineReader {
 public:
  explicit LineReader(std::size_t max_line) : max_line_(max_line) {}

  // Calls on_line(line, oversize) for each line `data` completes, without its newline; an
  // oversize line comes with an empty view. Stops early, keeping nothing of the rest, when
  // on_line returns false.
  template <class OnLine>
  void feed(const char* data, std::size_t size, OnLine&& on_line) {
    const char* end = data + size;
    while (data < end) {
      const char* newline = static_cast<const char*>(std::memchr(data, '\n', end - data));
      const char* stop = newline ? newline : end;
      keep(data, stop);
      data = stop;
      if (!newline) break;
      ++data;
      bool more;
      if (oversize_) {
        more = on_line(std::string_view(), true);
      } else if (partial_.empty()) {
        more = on_line(std::string_view(line_start_, newline - line_start_), false);
      } else {
        more = on_line(std::string_view(partial_), false);
      }
      partial_.clear();
      oversize_ = false;
      line_start_ = nullptr;
      if (!more) return;
    }
    // What is left of an unfinished line is copied, as `data` does not outlive this call.
    if (line_start_ != nullptr) partial_.append(line_start_, end - line_start_);
    line_start_ = nullptr;
  }

  // Bytes held of the line not yet finished.
  std::size_t pending() const noexcept { return partial_.size(); }
  // True while the line not yet finished is over the limit.
  bool oversize() const noexcept { return oversize_; }

 private:
  // Notes the bytes [from, to) of the current line: in place while they are all in this
  // chunk, in `partial_` once the line spans chunks.
  void keep(const char* from, const char* to) {
    if (oversize_) return;
    if (partial_.size() + static_cast<std::size_t>(to - from) > max_line_) {
      oversize_ = true;
      partial_.clear();
      partial_.shrink_to_fit();
      line_start_ = nullptr;
      return;
    }
    if (!partial_.empty()) {
      partial_.append(from, to);
    } else if (line_start_ == nullptr) {
      line_start_ = from;
    }
  }

  std::size_t max_line_;
  std::string partial_;
  const char* line_start_ = nullptr;
  bool oversize_ = false;
};

}  // namespace morvi::service::server
#pragma GCC visibility pop
