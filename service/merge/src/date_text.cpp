#include <cstddef>
#include <optional>
#include <string_view>

#include "json_nodes.hpp"
#include "morvi/errors.hpp"

namespace morvi::service::merge {
namespace {

// Reads `count` digits at `pos` into `out`, advancing `pos`; false when they are not there.
bool digits(std::string_view text, std::size_t& pos, std::size_t count, int& out) {
  if (pos + count > text.size()) return false;
  out = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char c = text[pos + i];
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  pos += count;
  return true;
}

bool literal(std::string_view text, std::size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

}  // namespace

std::optional<DateTime> parse_datetime(std::string_view text) {
  std::size_t pos = 0;
  int year, month, day, hour, minute, second;
  if (!digits(text, pos, 4, year) || !literal(text, pos, '-') || !digits(text, pos, 2, month) ||
      !literal(text, pos, '-') || !digits(text, pos, 2, day) || !literal(text, pos, ' ') ||
      !digits(text, pos, 2, hour) || !literal(text, pos, ':') || !digits(text, pos, 2, minute) ||
      !literal(text, pos, ':') || !digits(text, pos, 2, second)) {
    return std::nullopt;
  }
  int microsecond = 0;
  if (literal(text, pos, '.') && !digits(text, pos, 6, microsecond)) return std::nullopt;
  std::optional<int> offset;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    const int sign = text[pos++] == '-' ? -1 : 1;
    int hours, minutes;
    if (!digits(text, pos, 2, hours) || !literal(text, pos, ':') || !digits(text, pos, 2, minutes))
      return std::nullopt;
    offset = sign * (hours * 60 + minutes);
  }
  if (pos != text.size()) return std::nullopt;
  try {
    return DateTime(year, month, day, hour, minute, second, microsecond, offset);
  } catch (const ArgumentError&) {
    return std::nullopt;
  }
}

}  // namespace morvi::service::merge
