// YAML 1.1 implicit resolution of plain scalars: the patterns a reader applies to decide that
// "3.4" is a float, "yes" a bool or "~" a null, tried by the text's first character in the
// order the resolvers are registered. Each pattern is anchored at both ends, where the end may
// also fall just before one final line feed.
#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "scalar_analysis.hpp"

namespace morvi::reporter::trialkit::yaml_detail {
namespace {

using Pattern = bool (*)(std::string_view);

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_sign(char c) { return c == '-' || c == '+'; }

// The bytes of a text of up to eight bytes as one number, so that a text is compared with a
// few words of its length in one comparison each.
consteval std::uint64_t packed(std::string_view s) {
  std::uint64_t w = 0;
  for (std::size_t i = s.size(); i-- > 0;) w = w << 8 | static_cast<unsigned char>(s[i]);
  return w;
}

template <std::size_t N>
std::uint64_t load(std::string_view s) {
  std::uint64_t w = 0;
  std::memcpy(&w, s.data(), N);
  return w;
}

// `s`, of length N, is one of `words`, each of length N.
template <std::size_t N>
bool one_of(std::string_view s, std::initializer_list<std::uint64_t> words) {
  const std::uint64_t w = load<N>(s);
  for (const std::uint64_t word : words)
    if (w == word) return true;
  return false;
}

// Skips characters of `set` from s[j]; returns the new position.
template <class Pred>
std::size_t skip(std::string_view s, std::size_t j, Pred in_set) {
  while (j < s.size() && in_set(s[j])) ++j;
  return j;
}

bool digit_or_underscore(char c) { return is_digit(c) || c == '_'; }

// (:[0-5]?[0-9])+ from s[j]; returns the position after the groups, or npos.
std::size_t sexagesimal_groups(std::string_view s, std::size_t j) {
  if (j >= s.size() || s[j] != ':') return std::string_view::npos;
  while (j < s.size() && s[j] == ':') {
    const std::size_t end = skip(s, j + 1, is_digit);
    const std::size_t k = end - (j + 1);
    if (k == 0 || k > 2 || (k == 2 && s[j + 1] > '5')) return std::string_view::npos;
    j = end;
  }
  return j;
}

// ([eE][-+][0-9]+)?$ from s[j].
bool exponent_to_end(std::string_view s, std::size_t j) {
  if (j == s.size()) return true;
  if (s[j] != 'e' && s[j] != 'E') return false;
  if (j + 1 >= s.size() || !is_sign(s[j + 1])) return false;
  const std::size_t end = skip(s, j + 2, is_digit);
  return end > j + 2 && end == s.size();
}

bool is_bool(std::string_view s) {
  switch (s.size()) {
    case 2:
      return one_of<2>(s, {packed("no"), packed("No"), packed("NO"), packed("on"), packed("On"), packed("ON")});
    case 3:
      return one_of<3>(s, {packed("yes"), packed("Yes"), packed("YES"), packed("off"), packed("Off"), packed("OFF")});
    case 4: return one_of<4>(s, {packed("true"), packed("True"), packed("TRUE")});
    case 5: return one_of<5>(s, {packed("false"), packed("False"), packed("FALSE")});
    default: return false;
  }
}

bool is_float(std::string_view s) {
  const bool sign = !s.empty() && is_sign(s[0]);
  const std::string_view r = sign ? s.substr(1) : s;
  if (r.size() == 4 && one_of<4>(r, {packed(".inf"), packed(".Inf"), packed(".INF")})) return true;
  if (r.starts_with('.')) {
    if (sign) return false;
    if (r.size() == 4 && one_of<4>(r, {packed(".nan"), packed(".NaN"), packed(".NAN")})) return true;
    if (r.size() < 2 || !is_digit(r[1])) return false;
    return exponent_to_end(r, skip(r, 2, digit_or_underscore));
  }
  if (r.empty() || !is_digit(r[0])) return false;
  std::size_t j = skip(r, 1, digit_or_underscore);
  if (j < r.size() && r[j] == '.') return exponent_to_end(r, skip(r, j + 1, digit_or_underscore));
  j = sexagesimal_groups(r, j);
  if (j == std::string_view::npos || j >= r.size() || r[j] != '.') return false;
  return skip(r, j + 1, digit_or_underscore) == r.size();
}

bool is_int(std::string_view s) {
  const std::string_view r = !s.empty() && is_sign(s[0]) ? s.substr(1) : s;
  if (r.empty() || !is_digit(r[0])) return false;
  const auto all_from = [&](std::size_t j, auto in_set) {
    return j < r.size() && skip(r, j, in_set) == r.size();
  };
  if (r[0] == '0') {
    if (r.size() == 1) return true;
    if (r[1] == 'b') return all_from(2, [](char c) { return c == '0' || c == '1' || c == '_'; });
    if (r[1] == 'x')
      return all_from(2, [](char c) {
        return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == '_';
      });
    return all_from(1, [](char c) { return (c >= '0' && c <= '7') || c == '_'; });
  }
  const std::size_t j = skip(r, 1, digit_or_underscore);
  return j == r.size() || sexagesimal_groups(r, j) == r.size();
}

bool is_merge(std::string_view s) { return s == "<<"; }
bool is_null(std::string_view s) {
  if (s.size() <= 1) return s.empty() || s == "~";
  return s.size() == 4 && one_of<4>(s, {packed("null"), packed("Null"), packed("NULL")});
}
bool is_value(std::string_view s) { return s == "="; }
bool is_yaml(std::string_view s) { return s.size() == 1 && one_of<1>(s, {packed("!"), packed("&"), packed("*")}); }

// One or two digits from s[j]; returns the position after them, or npos.
std::size_t one_or_two_digits(std::string_view s, std::size_t j) {
  const std::size_t end = skip(s, j, is_digit);
  return end > j && end - j <= 2 ? end : std::string_view::npos;
}

bool is_timestamp(std::string_view s) {
  const auto digits = [&](std::size_t j, std::size_t count) {
    if (j + count > s.size()) return false;
    for (std::size_t k = j; k < j + count; ++k)
      if (!is_digit(s[k])) return false;
    return true;
  };
  if (!digits(0, 4) || s.size() < 5 || s[4] != '-') return false;
  if (s.size() == 10 && digits(5, 2) && s[7] == '-' && digits(8, 2)) return true;
  std::size_t j = one_or_two_digits(s, 5);
  if (j == std::string_view::npos || j >= s.size() || s[j] != '-') return false;
  j = one_or_two_digits(s, j + 1);
  if (j == std::string_view::npos || j >= s.size()) return false;
  if (s[j] == 'T' || s[j] == 't') {
    ++j;
  } else {
    const std::size_t end = skip(s, j, [](char c) { return c == ' ' || c == '\t'; });
    if (end == j) return false;
    j = end;
  }
  j = one_or_two_digits(s, j);
  if (j == std::string_view::npos || j >= s.size() || s[j] != ':' || !digits(j + 1, 2)) return false;
  j += 3;
  if (j >= s.size() || s[j] != ':' || !digits(j + 1, 2)) return false;
  j += 3;
  if (j < s.size() && s[j] == '.') j = skip(s, j + 1, is_digit);
  if (j == s.size()) return true;
  j = skip(s, j, [](char c) { return c == ' ' || c == '\t'; });
  if (j >= s.size()) return false;
  if (s[j] == 'Z') return j + 1 == s.size();
  if (!is_sign(s[j])) return false;
  j = one_or_two_digits(s, j + 1);
  if (j == std::string_view::npos) return false;
  return j == s.size() || (s[j] == ':' && j + 3 == s.size() && digits(j + 1, 2));
}

struct Resolver {
  std::string_view tag;
  Pattern matches;
  std::string_view first;  // the first characters the resolver is tried for
};

// In registration order; the empty text is tried against the null resolver only.
constexpr Resolver kResolvers[] = {
    {"tag:yaml.org,2002:bool", is_bool, "yYnNtTfFoO"},
    {"tag:yaml.org,2002:float", is_float, "-+0123456789."},
    {"tag:yaml.org,2002:int", is_int, "-+0123456789"},
    {"tag:yaml.org,2002:merge", is_merge, "<"},
    {"tag:yaml.org,2002:null", is_null, "~nN"},
    {"tag:yaml.org,2002:timestamp", is_timestamp, "0123456789"},
    {"tag:yaml.org,2002:value", is_value, "="},
    {"tag:yaml.org,2002:yaml", is_yaml, "!&*"},
};

// For each first character, the resolvers tried, as bits in registration order.
constexpr std::array<std::uint8_t, 256> kResolversByFirst = [] {
  std::array<std::uint8_t, 256> table{};
  for (std::size_t r = 0; r < std::size(kResolvers); ++r)
    for (const char c : kResolvers[r].first) table[static_cast<unsigned char>(c)] |= std::uint8_t(1u << r);
  return table;
}();

}  // namespace

std::string_view resolve_plain(std::string_view text) {
  if (text.empty()) return "tag:yaml.org,2002:null";
  const std::uint8_t tried = kResolversByFirst[static_cast<unsigned char>(text[0])];
  if (tried == 0) return kStrTag;
  for (std::size_t r = 0; r < std::size(kResolvers); ++r) {
    if (!(tried & (1u << r))) continue;
    const Resolver& resolver = kResolvers[r];
    if (resolver.matches(text) ||
        (text.ends_with('\n') && resolver.matches(text.substr(0, text.size() - 1))))
      return resolver.tag;
  }
  return kStrTag;
}

}  // namespace morvi::reporter::trialkit::yaml_detail
