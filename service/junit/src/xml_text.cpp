#include "xml_text.hpp"

#include "morvi/utils/utf8.hpp"

namespace morvi::service::junit {

namespace {

void append_hex(std::string& out, unsigned char byte) {
  static constexpr char digits[] = "0123456789abcdef";
  out += "\\x";
  out += digits[byte >> 4];
  out += digits[byte & 0xF];
}

// Length of the well-formed UTF-8 sequence at `text[i]` that XML can hold, or 0 when there is
// none.
std::size_t sequence_length(std::string_view text, std::size_t i) {
  const utils::utf8::CodePoint c = utils::utf8::decode(text, i);
  if (!c.valid || c.value == 0xFFFE || c.value == 0xFFFF) return 0;
  return c.size;
}

void append_escaped(std::string& out, std::string_view text, bool attribute) {
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    switch (byte) {
      case '&': out += "&amp;"; ++i; continue;
      case '<': out += "&lt;"; ++i; continue;
      case '>': out += "&gt;"; ++i; continue;
      case '"': out += "&quot;"; ++i; continue;
      case '\r': out += "&#13;"; ++i; continue;
      case '\t': out += attribute ? "&#9;" : "\t"; ++i; continue;
      case '\n': out += attribute ? "&#10;" : "\n"; ++i; continue;
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

}  // namespace

void append_xml_text(std::string& out, std::string_view text) { append_escaped(out, text, false); }

void append_xml_attribute(std::string& out, std::string_view text) { append_escaped(out, text, true); }

std::size_t utf8_cut(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t cut = limit;
  // Step back over continuation bytes so a character is never split.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

}  // namespace morvi::service::junit
