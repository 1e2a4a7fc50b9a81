#pragma once
// What the writer and the fast reader of the typed encoding share.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "morvi/utils/utf8.hpp"
#include "morvi/value.hpp"

namespace morvi::service::protocol {

// An object of the runner's that reached us as its type name and representation.
class RemoteObject : public Object {
 public:
  RemoteObject(std::string type, std::string repr)
      : type_(std::move(type)), repr_(std::move(repr)) {}
  std::string type_name() const override { return type_; }
  std::string repr() const override { return repr_; }

 private:
  std::string type_;
  std::string repr_;
};

// Printable ASCII but the quote and the backslash: the bytes a text holds as they are, on the
// line and in the value.
inline constexpr std::array<bool, 256> kPlainByte = [] {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 0x80; ++c) plain[static_cast<std::size_t>(c)] = c != '"' && c != '\\';
  return plain;
}();

// The high bit of each byte of the eight in `w` that is not a plain one: below 0x20, a quote, a
// backslash or past ASCII; 0 when all eight are plain. A borrow only runs towards later bytes,
// so the lowest bit set marks the first such byte exactly.
inline std::uint64_t non_plain_bytes(std::uint64_t w) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  const std::uint64_t quote = w ^ (kOnes * '"');
  const std::uint64_t backslash = w ^ (kOnes * '\\');
  return (((w - kOnes * 0x20) & ~w) | ((quote - kOnes) & ~quote) |
          ((backslash - kOnes) & ~backslash) | w) &
         (kOnes * 0x80);
}

// The length of the UTF-8 sequence that starts at `p`, or 0 when it is not a valid one
// (overlong forms, surrogates and code points past U+10FFFF are not), as the package's one
// decoder reads it.
inline std::size_t utf8_length(const unsigned char* p, std::size_t left) {
  const utils::utf8::CodePoint c =
      utils::utf8::decode(std::string_view(reinterpret_cast<const char*>(p), left), 0);
  return c.valid ? c.size : 0;
}

}  // namespace morvi::service::protocol
