#include "morvi/utils/xml_chars.hpp"

#include "morvi/errors.hpp"
#include "morvi/utils/utf8.hpp"

namespace morvi::utils {
namespace {

constexpr char kHex[] = "0123456789abcdef";

bool continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

unsigned char byte_at(std::string_view text, std::size_t i) {
  return i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
}

// ED A0..BF xx: the three bytes a surrogate code point would take, which strict decoding
// refuses but which stand for one character of the text.
bool encoded_surrogate_at(std::string_view text, std::size_t i) {
  return byte_at(text, i) == 0xED && byte_at(text, i + 1) >= 0xA0 &&
         continuation(byte_at(text, i + 1)) && continuation(byte_at(text, i + 2));
}

bool is_noncharacter(char32_t cp) { return cp == 0xFFFE || cp == 0xFFFF; }

}  // namespace

XmlUnsafe find_xml_unsafe(std::string_view text, std::size_t from) noexcept {
  for (std::size_t i = from; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      if (b < 0x20 && b != '\t' && b != '\n' && b != '\r') return {i, text.substr(i, 1)};
      ++i;
      continue;
    }
    const utf8::CodePoint c = utf8::decode(text, i);
    if (c.valid) {
      if (is_noncharacter(c.value)) return {i, text.substr(i, c.size)};
      i += c.size;
      continue;
    }
    return {i, text.substr(i, encoded_surrogate_at(text, i) ? 3 : 1)};
  }
  return {std::string_view::npos, {}};
}

std::string xml_unsafe_notation(std::string_view found) {
  const XmlUnsafe match = find_xml_unsafe(found);
  if (match.pos == 0 && match.text.size() == found.size()) {
    if (found.size() == 1) {
      const auto b = static_cast<unsigned char>(found[0]);
      return {'\\', 'x', kHex[b >> 4], kHex[b & 0xF]};
    }
    const unsigned code = ((static_cast<unsigned char>(found[0]) & 0x0Fu) << 12) |
                          ((static_cast<unsigned char>(found[1]) & 0x3Fu) << 6) |
                          (static_cast<unsigned char>(found[2]) & 0x3Fu);
    return {'\\', 'u', kHex[code >> 12], kHex[(code >> 8) & 0xF], kHex[(code >> 4) & 0xF],
            kHex[code & 0xF]};
  }
  throw ArgumentError("not a character XML cannot carry: a text of " +
                      std::to_string(found.size()) + " bytes");
}

std::string escape_xml_unsafe(std::string_view text) {
  XmlUnsafe match = find_xml_unsafe(text);
  if (match.pos == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size() + 8);
  std::size_t done = 0;
  while (match.pos != std::string_view::npos) {
    out.append(text.substr(done, match.pos - done));
    out.append(xml_unsafe_notation(match.text));
    done = match.pos + match.text.size();
    match = find_xml_unsafe(text, done);
  }
  out.append(text.substr(done));
  return out;
}

}  // namespace morvi::utils
