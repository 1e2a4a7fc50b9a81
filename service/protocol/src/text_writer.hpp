#pragma once
// The writer of the typed encoding: values straight to text, into the end of a string.
//
// It writes through a cursor into room it makes ahead in the string, a little at a time, rather
// than growing the string byte by byte: an event line is made of many short pieces, and a
// sender appends line after line to one string.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "morvi/service/protocol/event.hpp"
#include "morvi/value.hpp"

namespace morvi::service::protocol {

class TextWriter {
 public:
  // Appends to `out`; what was written is in `out` once the writer is gone.
  explicit TextWriter(std::string& out);
  // Appends to the lines of `out`, in its room, which it grows when it must and keeps.
  explicit TextWriter(LineBuffer& out);
  ~TextWriter();
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;

  // SerializationError for a report node, nesting past kMaxDepth or a text that is not valid
  // UTF-8; what was written before stays.
  void value(const Value& value, int depth);
  void map(const Map& map, int depth);
  void text(std::string_view s);
  void integer(std::int64_t n);
  void whole(std::uint64_t n);

  // Bytes that need no escaping, as they are.
  template <std::size_t N>
  void raw(const char (&s)[N]) {
    need(N - 1);
    std::memcpy(at_, s, N - 1);
    at_ += N - 1;
  }
  void raw(std::string_view s) {
    need(s.size());
    std::memcpy(at_, s.data(), s.size());
    at_ += s.size();
  }
  void put(char c) {
    need(1);
    *at_++ = c;
  }

 private:
  // Makes room for `n` more bytes at the cursor.
  void need(std::size_t n) {
    if (static_cast<std::size_t>(end_ - at_) < n) grow(n);
  }
  void grow(std::size_t n);
  // The rest of text(): the text and its closing quote, with the room for them as it is made,
  // escaped where it must be.
  void escaped(std::string_view s);
  void real(double x);
  void datetime(const DateTime& d);
  void tagged_map(const Map& map, int depth);
  void tag(std::string_view name);
  void member(std::string_view key);
  void list(const List& list, int depth);

  std::string& out_;
  std::size_t start_;  // where this writer's text begins in out_
  LineBuffer* lines_ = nullptr;  // out_'s buffer, when it writes into one
  char* at_;
  char* end_;
};

}  // namespace morvi::service::protocol
