#include "json_reader.hpp"

#include <emmintrin.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "morvi/reporter/schema.hpp"
#include "morvi/utils/utf8.hpp"

namespace morvi::reporter::client {

namespace {

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// The bytes that end a bare word, as the results reader delimits NaN and Infinity.
bool is_delimiter(char c) noexcept {
  switch (c) {
    case ' ': case '\t': case '\n': case '\r': case ',': case ':':
    case '[': case ']': case '{': case '}': case '"':
      return true;
    default:
      return false;
  }
}


}  // namespace

JsonReader::JsonReader(std::string_view text, std::size_t offset, std::size_t depth,
                       const PassedText* passed, LongValues* long_values)
    : begin_(text.data()),
      p_(text.data() + offset),
      end_(text.data() + text.size()),
      depth_(depth),
      passed_(passed),
      long_values_(long_values),
      reported_(offset) {}

void JsonReader::skip_space() noexcept {
  while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
}

char JsonReader::peek() {
  skip_space();
  return here();
}

void JsonReader::skip_bom() {
  if (end_ - p_ >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0) p_ += 3;
}

void JsonReader::expect_end() {
  skip_space();
  if (p_ != end_) fail();
}

void JsonReader::check_passed() {
  if (passed_ == nullptr || offset() - reported_ < kPassedEvery) return;
  passed_->passed(reported_, offset());
  reported_ = offset();
}

bool JsonReader::enter(char open) {
  if (peek() != open) fail();
  ++p_;
  if (++depth_ > schema::MAX_DEPTH) fail();
  if (peek() == (open == '{' ? '}' : ']')) {
    ++p_;
    --depth_;
    return false;
  }
  return true;
}

bool JsonReader::next(char close) {
  check_passed();
  const char c = peek();
  if (c == ',') {
    ++p_;
    return true;
  }
  if (c != close) fail();
  ++p_;
  --depth_;
  return false;
}

std::string_view JsonReader::key() {
  if (peek() != '"') fail();
  key_.clear();
  string(&key_);
  if (peek() != ':') fail();
  ++p_;
  return key_;
}

void JsonReader::skip_value() {
  // The levels opened here, each with its closing bracket and where it began; nothing but
  // text is held.
  struct Open {
    char close;
    std::size_t begin;
  };
  std::vector<Open> open;
  do {
    const char c = peek();
    const std::size_t begin = offset();
    const std::size_t known_end =
        long_values_ && (c == '{' || c == '[') ? long_values_->end_of(begin) : 0;
    if (known_end != 0) {
      p_ = begin_ + known_end;  // checked whole on the first pass
    } else if (c == '{' || c == '[') {
      if (enter(c)) {
        open.push_back({c == '{' ? '}' : ']', begin});
        if (c == '{') key();
        continue;
      }
    } else {
      scalar(false);
    }
    // A value is complete: close the levels that end here, up to the next element.
    while (!open.empty()) {
      if (next(open.back().close)) {
        if (open.back().close == '}') key();
        break;
      }
      if (long_values_) long_values_->passed(open.back().begin, offset());
      open.pop_back();
    }
  } while (!open.empty());
}

Value JsonReader::read_value() {
  // The containers being filled, each with its closing bracket. A container only grows while
  // it is the innermost one, so the slots of the outer ones stay where they are.
  struct Open {
    Value* target;
    char close;
  };
  std::vector<Open> open;
  Value top;
  Value* slot = &top;
  const auto element = [&](const Open& level) {
    return level.close == '}' ? &level.target->as_map()[key()]
                              : &level.target->as_list().emplace_back();
  };
  for (;;) {
    const char c = peek();
    if (c == '{' || c == '[') {
      *slot = c == '{' ? Value(Map()) : Value(List());
      if (enter(c)) {
        open.push_back({slot, c == '{' ? '}' : ']'});
        slot = element(open.back());
        continue;
      }
    } else {
      *slot = scalar(true);
    }
    for (;;) {
      if (open.empty()) return top;
      if (next(open.back().close)) {
        slot = element(open.back());
        break;
      }
      open.pop_back();
    }
  }
}

bool JsonReader::word(std::string_view w) noexcept {
  if (static_cast<std::size_t>(end_ - p_) < w.size() || std::memcmp(p_, w.data(), w.size()) != 0) {
    return false;
  }
  p_ += w.size();
  return true;
}

bool JsonReader::non_finite(double& x) noexcept {
  if (p_ != begin_ && !is_delimiter(p_[-1])) return false;
  constexpr double inf = std::numeric_limits<double>::infinity();
  const struct {
    std::string_view word;
    double value;
  } literals[] = {{"NaN", std::numeric_limits<double>::quiet_NaN()}, {"Infinity", inf},
                  {"-Infinity", -inf}};
  for (const auto& literal : literals) {
    const std::size_t n = literal.word.size();
    if (static_cast<std::size_t>(end_ - p_) >= n && std::memcmp(p_, literal.word.data(), n) == 0 &&
        (p_ + n == end_ || is_delimiter(p_[n]))) {
      p_ += n;
      x = literal.value;
      return true;
    }
  }
  return false;
}

Value JsonReader::number(bool build) {
  const char* start = p_;
  if (here() == '-') ++p_;
  if (here() == '0') {
    ++p_;
  } else if (is_digit(here())) {
    while (is_digit(here())) ++p_;
  } else {
    fail();
  }
  bool integral = true;
  if (here() == '.') {
    ++p_;
    if (!is_digit(here())) fail();
    while (is_digit(here())) ++p_;
    integral = false;
  }
  bool exponent = false;
  if (here() == 'e' || here() == 'E') {
    ++p_;
    if (here() == '+' || here() == '-') ++p_;
    if (!is_digit(here())) fail();
    while (is_digit(here())) ++p_;
    integral = false;
    exponent = true;
  }
  // Only an exponent or some 300 digits can take a number past a double.
  if (!build && !exponent && p_ - start < 300) return {};
  if (integral && build) {
    // As the results reader reads whole numbers: 64-bit when they fit, an unsigned one past
    // the signed range as a real, and anything longer as a real.
    if (*start == '-') {
      std::int64_t i = 0;
      if (std::from_chars(start, p_, i).ec == std::errc()) return Value(i);
    } else {
      std::uint64_t u = 0;
      if (std::from_chars(start, p_, u).ec == std::errc()) {
        if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
          return Value(static_cast<std::int64_t>(u));
        }
        return Value(static_cast<double>(u));
      }
    }
  }
  const std::string token(start, p_);
  const double x = std::strtod(token.c_str(), nullptr);
  if (std::isinf(x)) throw NotJson{static_cast<std::size_t>(start - begin_)};
  return build ? Value(x) : Value();
}

Value JsonReader::scalar(bool build) {
  switch (here()) {
    case '"': {
      if (!build) {
        string(nullptr);
        return {};
      }
      std::string text;
      string(&text);
      return Value(std::move(text));
    }
    case 't':
      if (word("true")) return Value(true);
      break;
    case 'f':
      if (word("false")) return Value(false);
      break;
    case 'n':
      if (word("null")) return Value();
      break;
    default: {
      double x = 0;
      if (non_finite(x)) return Value(x);
      return number(build);
    }
  }
  fail();
}

void JsonReader::string(std::string* out) {
  ++p_;  // the opening quote
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i space = _mm_set1_epi8(0x20);
  for (;;) {
    // Runs of plain ASCII go sixteen bytes at a time: a quote, a backslash, a control byte or
    // a byte of a longer UTF-8 sequence (negative as a signed byte) ends the run.
    const char* run = p_;
    while (end_ - p_ >= 16) {
      const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p_));
      const __m128i special = _mm_or_si128(
          _mm_or_si128(_mm_cmpeq_epi8(chunk, quote), _mm_cmpeq_epi8(chunk, backslash)),
          _mm_cmplt_epi8(chunk, space));
      const auto mask = static_cast<unsigned>(_mm_movemask_epi8(special));
      if (mask != 0) {
        p_ += __builtin_ctz(mask);
        break;
      }
      p_ += 16;
    }
    while (p_ < end_ && *p_ != '"' && *p_ != '\\' && static_cast<signed char>(*p_) >= 0x20) ++p_;
    if (out) out->append(run, p_);
    if (p_ == end_) fail();
    const auto c = static_cast<unsigned char>(*p_);
    if (c == '"') {
      ++p_;
      return;
    }
    if (c == '\\') {
      escape(out);
    } else if (c >= 0x80) {
      const char* sequence = p_;
      utf8_sequence();
      if (out) out->append(sequence, p_);
      continue;
    } else {
      fail();  // a control character must be escaped
    }
  }
}

void JsonReader::escape(std::string* out) {
  ++p_;  // the backslash
  const char e = here();
  char plain = 0;
  switch (e) {
    case '"': plain = '"'; break;
    case '\\': plain = '\\'; break;
    case '/': plain = '/'; break;
    case 'b': plain = '\b'; break;
    case 'f': plain = '\f'; break;
    case 'n': plain = '\n'; break;
    case 'r': plain = '\r'; break;
    case 't': plain = '\t'; break;
    case 'u': break;
    default: fail();
  }
  ++p_;
  if (e != 'u') {
    if (out) *out += plain;
    return;
  }
  const auto code = utils::utf8::decode_json_escape(
      std::string_view(p_, static_cast<std::size_t>(end_ - p_)), 0);
  if (!code.valid) fail();
  p_ += code.size;
  if (out) utils::utf8::append_code_point(*out, code.value);
}

void JsonReader::utf8_sequence() {
  const auto c = utils::utf8::decode(std::string_view(p_, static_cast<std::size_t>(end_ - p_)), 0);
  if (!c.valid) fail();
  p_ += c.size;
}

}  // namespace morvi::reporter::client
