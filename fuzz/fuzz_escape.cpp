// escape and escape_data on arbitrary bytes: every text that comes out is well-formed UTF-8
// holding only characters XML 1.0 allows.
#include <cstdlib>

#include "fuzz_input.hpp"
#include "morvi/reporter/markfolio/escape.hpp"

namespace {

using morvi::Value;

bool xml_char(std::uint32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

void check_text(std::string_view s) {
  if (!morvi::fuzz::valid_utf8(s)) std::abort();
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : 4;
    std::uint32_t cp = len == 1 ? b : b & (0x7f >> len);
    for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3f);
    if (!xml_char(cp)) std::abort();
    i += len;
  }
}

void check_value(const Value& v) {
  if (v.is_text()) {
    check_text(v.as_text());
  } else if (v.is_sequence()) {
    for (const Value& item : v.as_list()) check_value(item);
  } else if (v.is_map()) {
    for (const auto& [key, item] : v.as_map()) {
      check_text(key);
      check_value(item);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace morvi::reporter::markfolio;
  check_text(escape(std::string_view(reinterpret_cast<const char*>(data), size)));
  morvi::fuzz::FuzzInput input(data, size);
  check_value(escape_data(input.value(4, false)));
  return 0;
}
