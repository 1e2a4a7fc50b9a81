#include "xml_text.hpp"

namespace morvi::service::junit {

namespace {

void append_hex(std::string& out, unsigned char byte) {
  static constexpr char digits[] = "0123456789abcdef";
  out += "\\x";
  out += digits[byte >> 4];
  out += digits[byte & 0xF];
}

// Length of the well-formed UTF-8 sequence at `text[i]`, or 0 when there is none.
std::size_t sequence_length(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t length = 0;
  char32_t code = 0;
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) { length = 2; code = lead & 0x1F; }
  else if ((lead & 0xF0) == 0xE0) { length = 3; code = lead & 0x0F; }
  else if ((lead & 0xF8) == 0xF0) { length = 4; code = lead & 0x07; }
  else return 0;
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3F);
  }
  static constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  if (code == 0xFFFE || code == 0xFFFF) return 0;
  return length;
}

}  // namespace

void append_xml_text(std::string& out, std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    switch (byte) {
      case '&': out += "&amp;"; ++i; continue;
      case '<': out += "&lt;"; ++i; continue;
      case '>': out += "&gt;"; ++i; continue;
      case '"': out += "&quot;"; ++i; continue;
      case '\t': case '\n': case '\r': out += static_cast<char>(byte); ++i; continue;
      default: break;
    }
    if (byte < 0x20 || byte == 0x7F) {
      append_hex(out, byte);
      ++i;
      continue;
    }
    const std::size_t length = sequence_length(text, i);
    if (length == 0) {
      append_hex(out, byte);
      ++i;
      continue;
    }
    out.append(text.substr(i, length));
    i += length;
  }
}

std::size_t utf8_cut(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t cut = limit;
  // Step back over continuation bytes so a character is never split.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

}  // namespace morvi::service::junit
