#pragma once
// Strict UTF-8 decoding, the one decoder of the package: no overlong forms, no encoded
// surrogates, nothing past U+10FFFF. An ill-formed sequence is reported with the length of its
// maximal ill-formed subsequence, the unit that standard decoders replace by one U+FFFD.
#include <cstddef>
#include <string>
#include <string_view>

#pragma GCC visibility push(default)
namespace morvi::utils::utf8 {

inline constexpr char32_t kReplacement = 0xFFFD;

struct CodePoint {
  char32_t value;    // kReplacement for an ill-formed subsequence
  std::size_t size;  // bytes read, at least 1
  bool valid;
};

// The code point starting at s[i] (i < s.size()).
inline CodePoint decode(std::string_view s, std::size_t i) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const unsigned char lead = p[i];
  if (lead < 0x80) return {lead, 1, true};
  std::size_t trail;
  char32_t cp;
  // The second byte's range depends on the lead (no overlong forms, surrogates or values past
  // U+10FFFF); later bytes are plain continuation bytes.
  unsigned char lo = 0x80, hi = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trail = 1, cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trail = 2, cp = lead & 0x0F;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trail = 3, cp = lead & 0x07;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
  } else {
    return {kReplacement, 1, false};
  }
  for (std::size_t k = 1; k <= trail; ++k) {
    if (i + k >= s.size() || p[i + k] < lo || p[i + k] > hi) return {kReplacement, k, false};
    cp = (cp << 6) | (p[i + k] & 0x3F);
    lo = 0x80, hi = 0xBF;
  }
  return {cp, trail + 1, true};
}

inline bool is_valid(std::string_view s) noexcept {
  for (std::size_t i = 0; i < s.size();) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    const CodePoint c = decode(s, i);
    if (!c.valid) return false;
    i += c.size;
  }
  return true;
}

inline void append_code_point(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The code point of a JSON escape whose four hex digits start at s[i] (its "\u" already read),
// joined with the "\uXXXX" low half a high surrogate must be followed by. A bad digit, a lone
// surrogate or a text that ends early is not valid. `size` is the bytes read from i: 4, or 10
// for a pair.
inline CodePoint decode_json_escape(std::string_view s, std::size_t i) noexcept {
  const auto hex4 = [s](std::size_t at, char32_t& code) {
    if (s.size() < at + 4) return false;
    code = 0;
    for (std::size_t k = at; k < at + 4; ++k) {
      const char c = s[k];
      char32_t digit;
      if (c >= '0' && c <= '9') digit = static_cast<char32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') digit = static_cast<char32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') digit = static_cast<char32_t>(c - 'A' + 10);
      else return false;
      code = code * 16 + digit;
    }
    return true;
  };
  char32_t high = 0, low = 0;
  if (!hex4(i, high) || (high >= 0xDC00 && high <= 0xDFFF)) return {kReplacement, 4, false};
  if (high < 0xD800 || high > 0xDBFF) return {high, 4, true};
  if (s.size() < i + 6 || s[i + 4] != '\\' || s[i + 5] != 'u' || !hex4(i + 6, low) ||
      low < 0xDC00 || low > 0xDFFF) {
    return {kReplacement, 4, false};
  }
  return {0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00), 10, true};
}

// `s` with every ill-formed subsequence replaced by U+FFFD.
inline std::string sanitized(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 8);
  for (std::size_t i = 0; i < s.size();) {
    const CodePoint c = decode(s, i);
    append_code_point(out, c.value);
    i += c.size;
  }
  return out;
}

}  // namespace morvi::utils::utf8
#pragma GCC visibility pop
