// Text forms and printable representations of values, spelled as a dynamic language prints
// them: ids joined into full ids, parameter texts, error objects and the YAML fallback all
// depend on these exact spellings.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "morvi/printable.hpp"
#include "morvi/results.hpp"
#include "morvi/utils/utf8.hpp"
#include "morvi/value.hpp"

namespace morvi {

namespace {

constexpr std::uint64_t kIntPowersOfTen[] = {1, 10, 100, 1000, 10000, 100000, 1000000};

// `scaled` / 10^places, negated when `negative`, as a decimal: the whole part, a point and the
// fraction less its trailing zeros, or one zero where the fraction is none.
// Inline, so that the six places of the common case divide by a constant.
[[gnu::always_inline]] inline char* write_decimal(char* out, bool negative, std::uint64_t scaled,
                                                  int places) noexcept {
  if (negative) *out++ = '-';
  const std::uint64_t scale = kIntPowersOfTen[places];
  out = std::to_chars(out, out + 20, scaled / scale).ptr;
  *out++ = '.';
  std::uint64_t fraction = scaled % scale;
  if (fraction == 0) {
    *out++ = '0';
    return out;
  }
  int digits = places;
  while (fraction % 10 == 0) {
    fraction /= 10;
    --digits;
  }
  for (int k = digits - 1; k >= 0; --k) {
    out[k] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  return out + digits;
}

// `x`, a zero or of at least 1e-4 and below 1e9 in magnitude, written with six decimals less
// their trailing zeros, when that decimal reads back as `x`: false where it does not. Such a
// decimal has at most fifteen digits, and two decimals of fifteen digits never read back as one
// double, so no shorter text reads back as `x`: it is the shortest text, found without the
// general shortest-digits search. Report times and rates are mostly of this kind.
bool write_six_places(char*& out, double x) noexcept {
  const double magnitude = std::fabs(x);
  if (!(magnitude >= 1e-4 && magnitude < 1e9) && magnitude != 0) return false;
  const double micros = std::nearbyint(magnitude * 1e6);
  // Whole numbers below 2^53 and the power of ten are exact, so the quotient is the double
  // nearest the decimal.
  if (micros / 1e6 != magnitude) return false;
  out = write_decimal(out, std::signbit(x), static_cast<std::uint64_t>(micros), 6);
  return true;
}

char* put(char* out, std::string_view text) noexcept {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

}  // namespace

char* write_float_repr(char* out, double x) noexcept {
  if (std::isnan(x)) return put(out, "nan");
  if (std::isinf(x)) return put(out, x < 0 ? "-inf" : "inf");
  if (write_six_places(out, x)) return out;
  char buf[40];
  const auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
  const char* p = buf;
  if (*p == '-') {
    *out++ = '-';
    ++p;
  }
  // Shortest digits d1.d2d3...e±XX: collect the digits and the decimal exponent.
  char digits[24];
  int ndigits = 0;
  const char* e = p;
  while (*e != 'e') {
    if (*e != '.') digits[ndigits++] = *e;
    ++e;
  }
  int exponent = 0;
  std::from_chars(e[1] == '+' ? e + 2 : e + 1, res.ptr, exponent);
  const std::string_view all(digits, static_cast<std::size_t>(ndigits));
  const int decpt = exponent + 1;  // digits before the decimal point
  if (decpt > -4 && decpt <= 16) {
    if (decpt <= 0) {
      out = put(out, "0.");
      out = std::fill_n(out, -decpt, '0');
      return put(out, all);
    }
    if (decpt >= ndigits) {
      out = put(out, all);
      out = std::fill_n(out, decpt - ndigits, '0');
      return put(out, ".0");
    }
    out = put(out, all.substr(0, static_cast<std::size_t>(decpt)));
    *out++ = '.';
    return put(out, all.substr(static_cast<std::size_t>(decpt)));
  }
  *out++ = digits[0];
  if (ndigits > 1) {
    *out++ = '.';
    out = put(out, all.substr(1));
  }
  *out++ = 'e';
  *out++ = exponent < 0 ? '-' : '+';
  const int mag = exponent < 0 ? -exponent : exponent;
  if (mag < 10) *out++ = '0';
  return std::to_chars(out, out + 4, mag).ptr;
}

void append_float_repr(std::string& out, double x) {
  char buf[kFloatReprMax];
  out.append(buf, write_float_repr(buf, x));
}

std::string float_repr(double x) {
  std::string out;
  append_float_repr(out, x);
  return out;
}

namespace {

constexpr double kPowersOfTen[] = {1.0, 10.0, 100.0, 1000.0, 10000.0};

// x * 10^ndigits rounded to a whole number, ties to even, when that can be decided in double
// arithmetic: false for other precisions, non-finite values, products of 2^52 and more, and
// products within a hair of a tie, which go the long way.
bool scaled_to_whole(double x, int ndigits, double& whole) noexcept {
  if (ndigits < 0 || ndigits > 4 || !std::isfinite(x)) return false;
  const double scale = kPowersOfTen[ndigits];
  const double scaled = x * scale;
  if (!(std::fabs(scaled) < 0x1p52)) return false;
  whole = std::nearbyint(scaled);
  // The exact product less the whole number, rounded once: clear of one half, `whole` is the
  // correctly rounded one.
  return std::fabs(std::fma(x, scale, -whole)) < 0.4999;
}

}  // namespace

double round_decimals(double x, int ndigits) {
  // Dividing exact whole numbers by an exact power of ten rounds once, to the nearest double.
  if (double whole; scaled_to_whole(x, ndigits, whole)) return whole / kPowersOfTen[ndigits];
  if (!std::isfinite(x)) return x;
  // Fixed notation with a precision is correctly rounded from the exact binary value, ties to
  // even; reading it back gives the nearest double to the rounded decimal.
  char buf[400];
  const auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, ndigits);
  if (res.ec != std::errc()) return x;
  double rounded = x;
  std::from_chars(buf, res.ptr, rounded);
  return rounded;
}

char* write_rounded_float_repr(char* out, double x, int ndigits) {
  double whole;
  if (!scaled_to_whole(x, ndigits, whole)) {
    return write_float_repr(out, round_decimals(x, ndigits));
  }
  // Below 2^52 / 10^ndigits two decimals of that many places lie further apart than the
  // doubles near them, so the shortest text that reads back is the rounded decimal itself,
  // less trailing zeros after the point.
  return write_decimal(out, std::signbit(whole), static_cast<std::uint64_t>(std::fabs(whole)), ndigits);
}

namespace {

void append_hex(std::string& out, char prefix, std::uint32_t v, int width) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('\\');
  out.push_back(prefix);
  for (int shift = (width - 1) * 4; shift >= 0; shift -= 4) out.push_back(kHex[(v >> shift) & 0xf]);
}

// Length of the valid UTF-8 sequence at s[i], its code point in `cp`; 0 when invalid.
std::size_t utf8_sequence(std::string_view s, std::size_t i, std::uint32_t& cp) {
  const utils::utf8::CodePoint c = utils::utf8::decode(s, i);
  if (!c.valid) return 0;
  cp = c.value;
  return c.size;
}

// Characters a representation shows escaped although they are valid: format and separator
// characters that would otherwise be invisible.
bool invisible(std::uint32_t cp) {
  return (cp >= 0x80 && cp <= 0xa0) || cp == 0xad || (cp >= 0x200b && cp <= 0x200f) ||
         (cp >= 0x2028 && cp <= 0x202e) || (cp >= 0x2060 && cp <= 0x2064) || cp == 0xfeff;
}

}  // namespace

namespace {

// The body of a text's representation: `quote` and backslashes escaped (quote 0: neither),
// control characters, invisible characters and bytes that are not UTF-8 as escapes.
void append_escaped_body(std::string& out, std::string_view text, char quote) {
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x80) {
      if (quote != 0 && (c == quote || c == '\\')) {
        out.push_back('\\');
        out.push_back(c);
      } else if (c == '\n') {
        out += "\\n";
      } else if (c == '\r') {
        out += "\\r";
      } else if (c == '\t') {
        out += "\\t";
      } else if (u < 0x20 || u == 0x7f) {
        append_hex(out, 'x', u, 2);
      } else {
        out.push_back(c);
      }
      ++i;
      continue;
    }
    std::uint32_t cp = 0;
    const std::size_t len = utf8_sequence(text, i, cp);
    if (len == 0) {
      append_hex(out, 'x', u, 2);
      ++i;
    } else {
      if (invisible(cp))
        cp <= 0xff ? append_hex(out, 'x', cp, 2) : append_hex(out, 'u', cp, 4);
      else
        out.append(text.substr(i, len));
      i += len;
    }
  }
}

}  // namespace

void append_text_repr(std::string& out, std::string_view text) {
  const bool has_single = text.find('\'') != std::string_view::npos;
  const bool has_double = text.find('"') != std::string_view::npos;
  const char quote = has_single && !has_double ? '"' : '\'';
  out.push_back(quote);
  append_escaped_body(out, text, quote);
  out.push_back(quote);
}

std::string printable_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  append_escaped_body(out, text, 0);
  return out;
}

namespace {

void append_tally_repr(std::string& out, const results::ResultCounter& c) {
  out.push_back('{');
  bool first = true;
  for (const auto& [key, count] : c.items()) {
    if (!first) out += ", ";
    first = false;
    append_text_repr(out, key);
    out += ": " + std::to_string(count);
  }
  out.push_back('}');
}

}  // namespace

namespace {

// One open container of a representation being written: its value, the next element to
// write, and whether an error's arguments are written as a bare tuple (an error's text).
struct ReprFrame {
  const Value* value;
  std::size_t next;
  bool bare_args;
};

std::size_t element_count(const Value& v) {
  if (v.is_error()) return v.as_error().args.size();
  return v.is_map() ? v.as_map().size() : v.as_list().size();
}

void open_container(std::string& out, const ReprFrame& frame) {
  const Value& v = *frame.value;
  if (v.is_error()) {
    if (!frame.bare_args) out += v.as_error().kind;
    out.push_back('(');
  } else {
    out.push_back(v.is_list() ? '[' : v.is_tuple() ? '(' : '{');
  }
}

void close_container(std::string& out, const ReprFrame& frame) {
  const Value& v = *frame.value;
  if (v.is_map()) {
    out.push_back('}');
  } else if (v.is_list()) {
    out.push_back(']');
  } else {
    if ((v.is_tuple() || frame.bare_args) && element_count(v) == 1) out.push_back(',');
    out.push_back(')');
  }
}

// The element `i` of an open container; a map's key is written before its value.
const Value& element(std::string& out, const Value& v, std::size_t i) {
  if (v.is_error()) return v.as_error().args[i];
  if (!v.is_map()) return v.as_list()[i];
  const auto& [key, item] = *(v.as_map().begin() + static_cast<std::ptrdiff_t>(i));
  append_text_repr(out, key);
  out += ": ";
  return item;
}

bool is_container(const Value& v) { return v.is_sequence() || v.is_map() || v.is_error(); }

// Writes the representation of `root` with an explicit stack of open containers, so that a
// value nested thousands of levels deep is written without deep recursion.
void append_repr_of(std::string& out, const Value& root, bool bare_args) {
  std::vector<ReprFrame> open;
  const Value* next = &root;
  while (next != nullptr) {
    if (is_container(*next)) {
      open.push_back({next, 0, bare_args});
      open_container(out, open.back());
    } else {
      next->append_repr(out);
    }
    bare_args = false;
    next = nullptr;
    while (!open.empty()) {
      ReprFrame& frame = open.back();
      if (frame.next < element_count(*frame.value)) {
        if (frame.next > 0) out += ", ";
        next = &element(out, *frame.value, frame.next++);
        break;
      }
      close_container(out, frame);
      open.pop_back();
    }
  }
}

}  // namespace

void Value::append_repr(std::string& out) const {
  switch (kind_) {
    case Kind::Text: append_text_repr(out, as_text()); return;
    case Kind::List:
    case Kind::Tuple:
    case Kind::Map:
    case Kind::AttrMap:
    case Kind::Error: append_repr_of(out, *this, false); return;
    case Kind::DateTime: out += as_datetime().to_repr(); return;
    case Kind::Tally: append_tally_repr(out, *c_); return;
    default: append_text(out); return;
  }
}

void Value::append_text(std::string& out) const {
  // An error's text is its single argument's text, or the representation of its arguments;
  // followed in a loop, since errors can hold errors.
  const Value* v = this;
  while (v->kind_ == Kind::Error && v->e_->args.size() == 1) v = &v->e_->args[0];
  switch (v->kind_) {
    case Kind::None: out += "None"; return;
    case Kind::Bool: out += v->b_ ? "True" : "False"; return;
    case Kind::Int: {
      char buf[24];
      out.append(buf, std::to_chars(buf, buf + sizeof buf, v->i_).ptr);
      return;
    }
    case Kind::Float: append_float_repr(out, v->f_); return;
    case Kind::Text: out += v->as_text(); return;
    case Kind::DateTime: v->as_datetime().append_text(out); return;
    case Kind::Result: out += v->r_->value(); return;
    case Kind::Node:
    case Kind::Opaque: out += (*v->o_)->repr(); return;
    case Kind::Error:
      if (!v->e_->args.empty()) append_repr_of(out, *v, true);
      return;
    default: v->append_repr(out); return;
  }
}

std::string Value::to_text() const {
  std::string out;
  append_text(out);
  return out;
}

std::string Value::to_repr() const {
  std::string out;
  append_repr(out);
  return out;
}

}  // namespace morvi
