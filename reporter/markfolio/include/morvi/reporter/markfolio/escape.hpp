#pragma once
// Escaping of text headed for the XML reports. escape() replaces every character that XML 1.0
// cannot carry, and every byte sequence that is not UTF-8, by a visible notation:
//   - the control characters 0-8, 11, 12 and 14-31 (ESC among them): "\x" and two lowercase
//     hexadecimal digits, e.g. "\x1b";
//   - a UTF-8-encoded lone surrogate (U+D800 to U+DFFF), or one of the noncharacters U+FFFE
//     and U+FFFF: "\u" and four digits, e.g. "\ud800", "\ufffe";
//   - a byte that is not part of valid UTF-8: "\x" and its two digits, e.g. "\xff".
// Tab, line feed, carriage return, DEL and all other characters are kept. Escaping is not
// reversible: a text already holding "\x00" and one holding NUL escape alike.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "morvi/value.hpp"

#pragma GCC visibility push(default)
namespace morvi::reporter::markfolio {

// What escape() looks for: every character XML 1.0 cannot carry (morvi/utils/xml_chars.hpp).
class EscapeSequence {
 public:
  // One place in a text that needs escaping.
  struct Match {
    std::size_t pos;
    std::string_view text;  // a control byte, a stray byte, an encoded surrogate or noncharacter
  };

  // The first match at or after `from`; a match whose `pos` is npos when there is none.
  Match search(std::string_view text, std::size_t from = 0) const noexcept;
};

inline constexpr EscapeSequence ESCAPE_SEQUENCE{};

// The replacement for one match: "\x1b" for a control or stray byte, "\ud800" for an encoded
// surrogate or noncharacter. ArgumentError for text that is not a match of ESCAPE_SEQUENCE.
std::string _escape_repl(std::string_view match);

// `string` with every match of ESCAPE_SEQUENCE replaced through _escape_repl.
std::string escape(std::string_view string);

// `data` with every text inside it escaped: texts, map keys included, lists, tuples and maps
// to any depth (walked with a work list). Maps of any kind come back as plain maps; when two
// keys escape alike, the later entry's value wins at the earlier one's place. Other values
// come back unchanged.
Value escape_data(const Value& data);
Map escape_data(const Map& data);
// escape_data of `data` without the entries under the keys `left_out`, read in place.
Map escape_data(const Map& data, std::initializer_list<std::string_view> left_out);

}  // namespace morvi::reporter::markfolio
#pragma GCC visibility pop
