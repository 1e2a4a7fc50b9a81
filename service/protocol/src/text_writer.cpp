#include "text_writer.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>

#include <nlohmann/json.hpp>

#include "codec_parts.hpp"
#include "morvi/datetime.hpp"
#include "morvi/results.hpp"
#include "morvi/service/protocol/protocol.hpp"

namespace morvi::service::protocol {
namespace {

// Room made ahead of the cursor at least: most lines fit in one step.
constexpr std::size_t kStep = 256;

// True when each of the eight bytes of `w` is a plain one (kPlainByte).
bool plain_word(std::uint64_t w) { return non_plain_bytes(w) == 0; }

// "00" to "99".
constexpr std::array<char, 200> kPairs = [] {
  std::array<char, 200> pairs{};
  for (int n = 0; n < 100; ++n) {
    pairs[static_cast<std::size_t>(2 * n)] = static_cast<char>('0' + n / 10);
    pairs[static_cast<std::size_t>(2 * n + 1)] = static_cast<char>('0' + n % 10);
  }
  return pairs;
}();

void put_pair(char* at, std::uint64_t n) { std::memcpy(at, &kPairs[2 * n], 2); }

// The digits of `n`, below 10,000, without leading zeros; returns their end.
char* put_small(char* at, std::uint64_t n) {
  if (n < 10) {
    *at = static_cast<char>('0' + n);
    return at + 1;
  }
  if (n < 100) {
    put_pair(at, n);
    return at + 2;
  }
  if (n < 1000) {
    *at = static_cast<char>('0' + n / 100);
    put_pair(at + 1, n % 100);
    return at + 3;
  }
  put_pair(at, n / 100);
  put_pair(at + 2, n % 100);
  return at + 4;
}

// The decimal digits of `n` at `at`, which has room for 20; returns their end. The numbers on
// a line are short ones (handles, a date-time's fields), written four digits at a time.
char* put_digits(char* at, std::uint64_t n) {
  if (n < 10000) return put_small(at, n);
  if (n < 100000000) {
    at = put_small(at, n / 10000);
    put_pair(at, n % 10000 / 100);
    put_pair(at + 2, n % 100);
    return at + 4;
  }
  return std::to_chars(at, at + 20, n).ptr;
}

char* put_integer(char* at, std::int64_t n) {
  if (n >= 0) return put_digits(at, static_cast<std::uint64_t>(n));
  *at = '-';
  return put_digits(at + 1, std::uint64_t{0} - static_cast<std::uint64_t>(n));
}

std::uint64_t load8(const unsigned char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

std::uint32_t load4(const unsigned char* p) {
  std::uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}

// Copies the `n` bytes at `p` to `at` when each is plain, a word at a time (the last word
// overlapping the one before it); false when one is not, with what was copied left to be
// written over.
bool copy_plain(char* at, const unsigned char* p, std::size_t n) {
  if (n >= 8) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      const std::uint64_t w = load8(p + i);
      if (!plain_word(w)) return false;
      std::memcpy(at + i, &w, 8);
    }
    if (i == n) return true;
    const std::uint64_t w = load8(p + n - 8);
    if (!plain_word(w)) return false;
    std::memcpy(at + n - 8, &w, 8);
    return true;
  }
  if (n >= 4) {
    const std::uint32_t low = load4(p);
    const std::uint32_t high = load4(p + n - 4);
    if (!plain_word(low | std::uint64_t{high} << 32)) return false;
    std::memcpy(at, &low, 4);
    std::memcpy(at + n - 4, &high, 4);
    return true;
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (!kPlainByte[p[i]]) return false;
    at[i] = static_cast<char>(p[i]);
  }
  return true;
}

template <std::size_t N>
char* put_raw(char* at, const char (&s)[N]) {
  std::memcpy(at, s, N - 1);
  return at + N - 1;
}

void check_depth(int depth) {
  if (depth > kMaxDepth)
    throw SerializationError("a value nested deeper than " + std::to_string(kMaxDepth) +
                             " levels cannot be encoded");
}

}  // namespace

TextWriter::TextWriter(std::string& out) : out_(out), start_(out.size()) {
  out_.resize(start_ + kStep);
  at_ = out_.data() + start_;
  end_ = out_.data() + out_.size();
}

TextWriter::TextWriter(LineBuffer& out) : out_(out.bytes_), start_(out.size_), lines_(&out) {
  at_ = out_.data() + start_;
  end_ = out_.data() + out_.size();
}

TextWriter::~TextWriter() {
  const auto used = static_cast<std::size_t>(at_ - out_.data());
  if (lines_ != nullptr) lines_->size_ = used;
  else out_.resize(used);
}

// A line buffer's room doubles with the whole buffer, and stays. A string's doubles with what
// this writer wrote, not with the whole string, which may hold many lines before this one: its
// room is given back once the line is written.
void TextWriter::grow(std::size_t n) {
  const auto used = static_cast<std::size_t>(at_ - out_.data());
  out_.resize(lines_ != nullptr ? std::max(used + std::max(n, kStep), 2 * out_.size())
                                : used + std::max({n, kStep, used - start_}));
  at_ = out_.data() + used;
  end_ = out_.data() + out_.size();
}

void TextWriter::text(std::string_view s) {
  const auto* const begin = reinterpret_cast<const unsigned char*>(s.data());
  // The room is kept at what the rest takes as it is, and the closing quote.
  need(s.size() + 2);
  *at_++ = '"';
  // Most texts are plain throughout.
  if (copy_plain(at_, begin, s.size())) {
    at_ += s.size();
    *at_++ = '"';
    return;
  }
  escaped(s);
}

void TextWriter::escaped(std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  const auto* const begin = reinterpret_cast<const unsigned char*>(s.data());
  const auto* const end = begin + s.size();
  const auto* p = begin;
  for (;;) {
    // Plain characters go out eight at a time, then one at a time up to the first that is not.
    while (end - p >= 8) {
      std::uint64_t w;
      std::memcpy(&w, p, 8);
      if (!plain_word(w)) break;
      std::memcpy(at_, &w, 8);
      at_ += 8;
      p += 8;
    }
    while (p < end && kPlainByte[*p]) *at_++ = static_cast<char>(*p++);
    if (p == end) break;
    const unsigned char c = *p;
    if (c >= 0x80) {
      const std::size_t n = utf8_length(p, static_cast<std::size_t>(end - p));
      if (n == 0)
        throw SerializationError("a text with invalid UTF-8 at byte " +
                                 std::to_string(p - begin) + " cannot be encoded");
      std::memcpy(at_, p, n);
      at_ += n;
      p += n;
      continue;
    }
    // An escape takes up to six bytes for one.
    need(static_cast<std::size_t>(end - p) + 6);
    *at_++ = '\\';
    switch (c) {
      case '"': *at_++ = '"'; break;
      case '\\': *at_++ = '\\'; break;
      case '\b': *at_++ = 'b'; break;
      case '\t': *at_++ = 't'; break;
      case '\n': *at_++ = 'n'; break;
      case '\f': *at_++ = 'f'; break;
      case '\r': *at_++ = 'r'; break;
      default:
        *at_++ = 'u';
        *at_++ = '0';
        *at_++ = '0';
        *at_++ = kHex[c >> 4];
        *at_++ = kHex[c & 0xF];
    }
    ++p;
  }
  *at_++ = '"';
}

void TextWriter::integer(std::int64_t n) {
  need(21);
  at_ = put_integer(at_, n);
}

void TextWriter::whole(std::uint64_t n) {
  need(20);
  at_ = put_digits(at_, n);
}

// The shortest text that reads back as the same double, in the JSON library's own form
// ("1.0", "1e+20"), so that lines written before stay byte-identical.
void TextWriter::real(double x) {
  if (!std::isfinite(x)) {
    raw(R"({"$":"float","v":")");
    raw(std::isnan(x) ? std::string_view("nan") : (x > 0 ? "inf" : "-inf"));
    raw("\"}");
    return;
  }
  need(64);
  at_ = nlohmann::detail::to_chars(at_, end_, x);
}

void TextWriter::tag(std::string_view name) {
  raw(R"({"$":")");
  raw(name);
  put('"');
}

// `,"key":` inside a tagged object.
void TextWriter::member(std::string_view key) {
  raw(",\"");
  raw(key);
  raw("\":");
}

void TextWriter::map(const Map& map, int depth) {
  check_depth(depth);
  // As a JSON object, unless a key turns out to be "$": then again from the start, tagged.
  const auto start = static_cast<std::size_t>(at_ - out_.data());
  put('{');
  bool first = true;
  for (const auto& [key, item] : map) {
    if (key.size() == 1 && key[0] == '$') {
      at_ = out_.data() + start;
      tagged_map(map, depth);
      return;
    }
    if (!first) put(',');
    first = false;
    text(key);
    put(':');
    value(item, depth + 1);
  }
  put('}');
}

void TextWriter::tagged_map(const Map& map, int depth) {
  tag("map");
  member("v");
  put('[');
  bool first = true;
  for (const auto& [key, item] : map) {
    if (!first) put(',');
    first = false;
    put('[');
    text(key);
    put(',');
    value(item, depth + 1);
    put(']');
  }
  raw("]}");
}

void TextWriter::list(const List& list, int depth) {
  check_depth(depth);
  put('[');
  bool first = true;
  for (const Value& item : list) {
    if (!first) put(',');
    first = false;
    value(item, depth + 1);
  }
  put(']');
}

// `year,month,day,` of the last day a date-time was written for on this thread: the clock
// readings of a runner mostly fall on one day, and the calendar is what costs.
struct LastDate {
  std::int64_t day = std::numeric_limits<std::int64_t>::min();
  std::array<char, 40> text{};
  std::size_t size = 0;
};

void TextWriter::datetime(const DateTime& d) {
  constexpr std::int64_t kUsPerSecond = 1'000'000;
  constexpr std::int64_t kUsPerDay = 86'400 * kUsPerSecond;
  static thread_local LastDate last;
  // Ticks count microseconds from the first day of the value's own wall clock.
  const std::int64_t ticks = d.ticks();
  std::int64_t day = ticks / kUsPerDay;
  if (ticks % kUsPerDay < 0) --day;
  if (day != last.day) {
    char* at = last.text.data();
    for (const int part : {d.year(), d.month(), d.day()}) {
      at = put_integer(at, part);
      *at++ = ',';
    }
    last.day = day;
    last.size = static_cast<std::size_t>(at - last.text.data());
  }
  const std::int64_t time = ticks - day * kUsPerDay;
  const std::int64_t seconds = time / kUsPerSecond;
  // The tag (21 bytes), the date (36 at most), three fields of two digits with their commas,
  // the microseconds (20 at most), the offset (22) and the ends.
  need(128);
  char* at = put_raw(at_, R"({"$":"datetime","v":[)");
  std::memcpy(at, last.text.data(), last.size);
  at += last.size;
  for (const std::int64_t part : {seconds / 3600, seconds / 60 % 60, seconds % 60}) {
    at = put_small(at, static_cast<std::uint64_t>(part));
    *at++ = ',';
  }
  at = put_digits(at, static_cast<std::uint64_t>(time % kUsPerSecond));
  *at++ = ']';
  if (d.aware()) {
    at = put_raw(at, R"(,"offset":)");
    at = put_integer(at, *d.utc_offset_minutes());
  }
  *at++ = '}';
  at_ = at;
}

void TextWriter::value(const Value& value, int depth) {
  switch (value.kind()) {
    case Kind::None: raw("null"); return;
    case Kind::Bool:
      if (value.as_bool()) raw("true");
      else raw("false");
      return;
    case Kind::Int: integer(value.as_int()); return;
    case Kind::Float: real(value.as_number()); return;
    case Kind::Text: text(value.as_text()); return;
    case Kind::List: list(value.as_list(), depth); return;
    case Kind::Tuple:
      tag("tuple");
      member("v");
      list(value.as_list(), depth + 1);
      put('}');
      return;
    case Kind::Map: map(value.as_map(), depth); return;
    case Kind::AttrMap:
      tag("attrmap");
      member("v");
      map(value.as_map(), depth + 1);
      put('}');
      return;
    case Kind::DateTime: datetime(value.as_datetime()); return;
    case Kind::Result: {
      const results::TestResult& r = value.as_result();
      tag("result");
      member("code");
      text(r.value());
      if (!r.reason().empty()) {
        member("reason");
        text(r.reason());
      }
      if (!r.data().empty()) {
        member("data");
        map(r.data(), depth + 1);
      }
      put('}');
      return;
    }
    case Kind::Tally: {
      const results::ResultCounter& c = value.as_tally();
      tag("tally");
      member("counts");
      put('[');
      bool first = true;
      for (const auto& [key, n] : c.items()) {
        if (!first) put(',');
        first = false;
        put('[');
        text(key);
        put(',');
        integer(n);
        put(']');
      }
      put(']');
      member("weight");
      real(c.weight());
      put('}');
      return;
    }
    case Kind::Error: {
      const ErrorValue& e = value.as_error();
      tag("error");
      member("kind");
      text(e.kind);
      member("args");
      list(e.args, depth + 1);
      put('}');
      return;
    }
    case Kind::Opaque: {
      const auto& object = value.as_object();
      tag("opaque");
      member("type");
      text(object->type_name());
      member("repr");
      text(object->repr());
      put('}');
      return;
    }
    case Kind::Node: break;
  }
  throw SerializationError("a report node cannot travel as a value; nodes are named by handle");
}

}  // namespace morvi::service::protocol
