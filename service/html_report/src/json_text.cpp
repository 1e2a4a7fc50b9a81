#include "json_text.hpp"

#include <cstdint>

namespace morvi::service::html_report {

namespace {

// Length of the valid UTF-8 sequence starting at `text[i]`, 0 when it is not one.
std::size_t utf8_length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  std::uint32_t min = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2, min = 0x80;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3, min = 0x800;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4, min = 0x10000;
  else return 0;
  if (i + length > text.size()) return 0;
  std::uint32_t code = lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

void append_escape(std::string& out, unsigned char c) {
  static constexpr char hex[] = "0123456789abcdef";
  out += "\\u00";
  out += hex[c >> 4];
  out += hex[c & 15];
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t length = utf8_length(text, i);
      if (length == 0) {
        out += "\\ufffd";
        ++i;
      } else {
        out.append(text.substr(i, length));
        i += length;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '<': case '>': case '&': append_escape(out, c); break;
      default:
        if (c < 0x20 || c == 0x7F) append_escape(out, c);
        else out += static_cast<char>(c);
    }
    ++i;
  }
  out += '"';
}

std::string embeddable_json(const nlohmann::json& value) {
  // Outside strings JSON holds none of the three characters, so escaping each one wherever it
  // stands keeps the text the same JSON.
  const std::string dumped = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::string out;
  out.reserve(dumped.size());
  for (const char c : dumped) {
    if (c == '<' || c == '>' || c == '&') append_escape(out, static_cast<unsigned char>(c));
    else out += c;
  }
  return out;
}

std::string display_text(const nlohmann::json& value) {
  if (value.is_string()) return value.get<std::string>();
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string html_escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        // Control characters have no place in a title; each shows as a replacement mark.
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') || c == 0x7F) out += "\xef\xbf\xbd";
        else out += c;
    }
  }
  return out;
}

}  // namespace morvi::service::html_report
