#include "json_text.hpp"

#include "morvi/utils/utf8.hpp"

namespace morvi::service::html_report {

namespace {

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
      // An ill-formed sequence shows as one replacement mark, as a browser decodes it.
      const utils::utf8::CodePoint point = utils::utf8::decode(text, i);
      if (point.valid) out.append(text.substr(i, point.size));
      else out += "\\ufffd";
      i += point.size;
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
