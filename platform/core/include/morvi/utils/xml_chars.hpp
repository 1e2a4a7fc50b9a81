#pragma once
// Characters XML 1.0 cannot carry, and the visible notation that stands for them:
//   - the control characters 0-8, 11, 12 and 14-31: "\x" and two lowercase hexadecimal
//     digits, e.g. "\x0b";
//   - a UTF-8-encoded lone surrogate (U+D800 to U+DFFF), or one of the noncharacters U+FFFE
//     and U+FFFF: "\u" and four digits, e.g. "\ud800", "\ufffe";
//   - a byte that is not part of valid UTF-8: "\x" and its two digits, e.g. "\xff".
// Tab, line feed, carriage return, DEL and every other character are XML character data.
#include <cstddef>
#include <string>
#include <string_view>

#pragma GCC visibility push(default)
namespace morvi::utils {

// One place in a text that XML cannot carry.
struct XmlUnsafe {
  std::size_t pos;        // npos when the text holds none
  std::string_view text;  // a control byte, a stray byte, an encoded surrogate or noncharacter
};

// The first such place at or after `from`.
XmlUnsafe find_xml_unsafe(std::string_view text, std::size_t from = 0) noexcept;

// True when every character of `text` is XML character data.
inline bool is_xml_safe(std::string_view text) noexcept {
  return find_xml_unsafe(text).pos == std::string_view::npos;
}

// The notation for one place found by find_xml_unsafe; ArgumentError for any other text.
std::string xml_unsafe_notation(std::string_view found);

// `text` with every place XML cannot carry written in its notation; valid text unchanged.
std::string escape_xml_unsafe(std::string_view text);

}  // namespace morvi::utils
#pragma GCC visibility pop
