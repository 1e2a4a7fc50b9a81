#include "text_reader.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "morvi/datetime.hpp"
#include "morvi/results.hpp"
#include "morvi/utils/utf8.hpp"
#include "codec_parts.hpp"
#include "event_args.hpp"

namespace morvi::service::protocol {
namespace {

// Thrown to leave the fast reader; never seen outside this file.
struct GiveUp {};

// The members of the maps being read, one list per nesting level. They are kept from line to
// line, so a map is made once at its size rather than grown member by member.
using Members = std::vector<std::pair<std::string_view, Value>>;

std::vector<Members>& members_by_level() {
  thread_local std::vector<Members> levels(kMaxDepth + 1);
  return levels;
}

// The end of the run of plain bytes (kPlainByte) that starts at `i`, found eight bytes at a
// time while eight are left.
std::size_t plain_run(const unsigned char* p, std::size_t i, std::size_t size) {
  while (i + 8 <= size) {
    std::uint64_t x;
    std::memcpy(&x, p + i, 8);
    const std::uint64_t stop = non_plain_bytes(x);
    if (stop != 0) {
      const int bit = std::endian::native == std::endian::little ? std::countr_zero(stop)
                                                                 : std::countl_zero(stop);
      return i + static_cast<std::size_t>(bit >> 3);
    }
    i += 8;
  }
  while (i < size && kPlainByte[p[i]]) ++i;
  return i;
}

class Reader {
 public:
  explicit Reader(std::string_view text) : s_(text), levels_(members_by_level()) {}

  void operation(Operation& out) {
    if (encoder_head(out)) {
      arguments(out);
      expect('}');
      skip_space();
      if (pos_ != s_.size()) throw GiveUp{};
      return;
    }
    open('{');
    bool kind = false, node = false, child = false, args = false;
    bool first = true;
    while (!take('}')) {
      if (!first) expect(',');
      first = false;
      const std::string_view key = plain_key();
      expect(':');
      if (key == "event" && !kind) {
        const std::optional<EventKind> named = event_kind(plain_key());
        if (!named) throw GiveUp{};
        out.kind = *named;
        kind = true;
      } else if (key == "node" && !node) {
        out.node = handle();
        node = true;
      } else if (key == "child" && !child) {
        out.child = handle();
        child = true;
      } else if (key == "args" && !args && kind) {
        // The arguments are read into their places, which the kind names.
        arguments(out);
        args = true;
      } else {
        throw GiveUp{};
      }
    }
    skip_space();
    if (pos_ != s_.size() || !kind || !node || !args || child != creates_node(out.kind))
      throw GiveUp{};
  }

 private:
  // `{"event":"<kind>","node":N[,"child":N],"args":` as the encoder writes it, read with no
  // token by token parsing; false, with the reader back at the start, for any other layout.
  bool encoder_head(Operation& out) {
    if (!skip_exact(R"({"event":")")) return false;
    const char* const name = s_.data() + pos_;
    const auto* quote = static_cast<const char*>(std::memchr(name, '"', s_.size() - pos_));
    if (quote == nullptr) throw GiveUp{};
    const std::optional<EventKind> kind = event_kind({name, static_cast<std::size_t>(quote - name)});
    if (!kind) return restart();
    pos_ += static_cast<std::size_t>(quote - name) + 1;
    ++raw_depth_;  // the line's own brace
    out.kind = *kind;
    if (!skip_exact(R"(,"node":)")) return restart();
    out.node = handle();
    if (creates_node(out.kind)) {
      if (!skip_exact(R"(,"child":)")) return restart();
      out.child = handle();
    }
    if (!skip_exact(R"(,"args":)")) return restart();
    return true;
  }

  bool restart() {
    pos_ = 0;
    raw_depth_ = 0;
    return false;
  }

  // Moves past `text` when the line goes on with exactly these bytes, which hold no bracket.
  bool skip_exact(std::string_view text) {
    if (s_.size() - pos_ < text.size() ||
        std::memcmp(s_.data() + pos_, text.data(), text.size()) != 0)
      return false;
    pos_ += text.size();
    return true;
  }

  // Moves past `,"key":` when the line goes on with exactly it, as the encoder writes it.
  bool skip_member(std::string_view key) {
    const std::size_t n = key.size();
    const char* const p = s_.data() + pos_;
    if (s_.size() - pos_ < n + 4 || p[0] != ',' || p[1] != '"' ||
        std::memcmp(p + 2, key.data(), n) != 0 || p[n + 2] != '"' || p[n + 3] != ':')
      return false;
    pos_ += n + 4;
    return true;
  }

  void skip_space() {
    // The encoder writes no white space: one comparison passes over most tokens.
    while (pos_ < s_.size() && static_cast<unsigned char>(s_[pos_]) <= ' ' &&
           (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
      ++pos_;
  }

  bool take(char c) {
    skip_space();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      if (c == '}' || c == ']') --raw_depth_;
      return true;
    }
    return false;
  }

  void expect(char c) {
    if (!take(c)) throw GiveUp{};
  }

  // Brackets are counted as the line's nesting limit counts them.
  void open(char c) {
    expect(c);
    if (++raw_depth_ > 2 * kMaxDepth + 4) throw GiveUp{};
  }

  char peek() {
    skip_space();
    if (pos_ == s_.size()) throw GiveUp{};
    return s_[pos_];
  }

  // Moves past the bytes of a text that stand for themselves: plain ASCII and whole UTF-8
  // sequences. Stops at a quote, a backslash, a control character or the end.
  void skip_plain() {
    const auto* p = reinterpret_cast<const unsigned char*>(s_.data());
    const std::size_t size = s_.size();
    for (;;) {
      pos_ = plain_run(p, pos_, size);
      if (pos_ == size || p[pos_] < 0x80) return;
      const std::size_t n = utf8_length(p + pos_, size - pos_);
      if (n == 0) throw GiveUp{};
      pos_ += n;
    }
  }

  // A key with no escapes, as a view of the line.
  std::string_view plain_key() {
    expect('"');
    const std::size_t start = pos_;
    skip_plain();
    if (pos_ == s_.size() || s_[pos_] != '"') throw GiveUp{};
    return {s_.data() + start, pos_++ - start};
  }

  // A text value; one with no escapes is made straight from its bytes in the line.
  Value text_value() {
    const std::size_t at = pos_;
    expect('"');
    const std::size_t start = pos_;
    skip_plain();
    if (pos_ < s_.size() && s_[pos_] == '"')
      return Value(std::string_view(s_.data() + start, pos_++ - start));
    pos_ = at;
    return Value(text());
  }

  std::string text() {
    expect('"');
    std::string out;
    for (;;) {
      const std::size_t start = pos_;
      skip_plain();
      out.append(s_.data() + start, pos_ - start);
      if (pos_ == s_.size() || static_cast<unsigned char>(s_[pos_]) < 0x20) throw GiveUp{};
      if (s_[pos_++] == '"') return out;
      if (pos_ == s_.size()) throw GiveUp{};
      switch (s_[pos_++]) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '/': out.push_back('/'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
          const auto code = utils::utf8::decode_json_escape(s_, pos_);
          if (!code.valid) throw GiveUp{};
          pos_ += code.size;
          utils::utf8::append_code_point(out, code.value);
          break;
        }
        default: throw GiveUp{};
      }
    }
  }

  // A number token; `integral` tells whether it has neither fraction nor exponent.
  std::string_view number(bool& integral) {
    skip_space();
    const std::size_t start = pos_;
    auto digit = [&] { return pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9'; };
    auto digits = [&] {
      if (!digit()) throw GiveUp{};
      while (digit()) ++pos_;
    };
    if (pos_ < s_.size() && s_[pos_] == '-') ++pos_;
    if (pos_ < s_.size() && s_[pos_] == '0') ++pos_;
    else digits();
    integral = true;
    if (pos_ < s_.size() && s_[pos_] == '.') {
      ++pos_;
      digits();
      integral = false;
    }
    if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
      digits();
      integral = false;
    }
    return s_.substr(start, pos_ - start);
  }

  // A whole number, read digit by digit; a fraction, an exponent, -0 or more than 18 digits
  // give up (the JSON path reads the last).
  std::int64_t integer() {
    skip_space();
    // On locals, which stay in registers through the loop.
    const char* const text = s_.data();
    const std::size_t size = s_.size();
    std::size_t i = pos_;
    const bool negative = i < size && text[i] == '-';
    if (negative) ++i;
    const std::size_t start = i;
    // Unsigned and at most 19 digits, so a longer number cannot overflow before it is refused.
    std::uint64_t n = 0;
    while (i < size && i - start < 19 && static_cast<unsigned char>(text[i] - '0') < 10)
      n = n * 10 + static_cast<unsigned char>(text[i++] - '0');
    const std::size_t digits = i - start;
    if (digits == 0 || digits > 18 || (digits > 1 && text[start] == '0') || (negative && n == 0))
      throw GiveUp{};
    if (i < size && (text[i] == '.' || text[i] == 'e' || text[i] == 'E')) throw GiveUp{};
    pos_ = i;
    const auto value = static_cast<std::int64_t>(n);
    return negative ? -value : value;
  }

  Handle handle() {
    const std::int64_t n = integer();
    if (n < 0) throw GiveUp{};
    return static_cast<Handle>(n);
  }

  double real_number(std::string_view token) {
    double x = 0;
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), x);
    if (error != std::errc()) throw GiveUp{};
    return x;
  }

  void literal(std::string_view word) {
    if (s_.substr(pos_, word.size()) != word) throw GiveUp{};
    pos_ += word.size();
  }

  Value value(int depth) {
    switch (peek()) {
      case '{': return object(depth);
      case '[': return Value(list(depth));
      case '"': return text_value();
      case 't': literal("true"); return Value(true);
      case 'f': literal("false"); return Value(false);
      case 'n': literal("null"); return Value();
      default: {
        bool integral = false;
        const std::string_view token = number(integral);
        if (!integral) return Value(real_number(token));
        std::int64_t n = 0;
        const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), n);
        if (error != std::errc() || token == "-0") throw GiveUp{};
        return Value(n);
      }
    }
  }

  static void enter(int depth) {
    if (depth > kMaxDepth) throw GiveUp{};
  }

  List list(int depth) {
    enter(depth);
    open('[');
    List out;
    if (take(']')) return out;
    do out.push_back(value(depth + 1));
    while (take(','));
    expect(']');
    return out;
  }

  // The members of a plain map after its first key, which is read already.
  Map map_from(std::string_view first_key, int depth) {
    // The maps inside this one are read at deeper levels, so this level's list stays ours.
    Members& members = levels_[static_cast<std::size_t>(depth)];
    members.clear();
    std::string_view key = first_key;
    for (;;) {
      if (key == "$") throw GiveUp{};
      expect(':');
      members.emplace_back(key, value(depth + 1));
      if (take('}')) break;
      expect(',');
      key = plain_key();
    }
    const std::size_t count = members.size();
    Map out;
    out.reserve(count);
    for (auto& [name, member] : members) out.set(name, std::move(member));
    members.clear();
    // A key given twice replaced its first value.
    if (out.size() != count) throw GiveUp{};
    return out;
  }

  Map map(int depth) {
    enter(depth);
    open('{');
    if (take('}')) return Map();
    return map_from(plain_key(), depth);
  }

  // `,"key":`
  void member(std::string_view key) {
    if (skip_member(key)) return;
    expect(',');
    if (plain_key() != key) throw GiveUp{};
    expect(':');
  }

  // `,"key":` when the next member is `key`.
  bool optional_member(std::string_view key) {
    if (skip_member(key)) return true;
    const std::size_t at = pos_;
    const int raw = raw_depth_;
    if (!take(',')) return false;
    if (plain_key() == key) {
      expect(':');
      return true;
    }
    pos_ = at;
    raw_depth_ = raw;
    return false;
  }

  double real() {
    if (peek() == '{') {
      open('{');
      if (plain_key() != "$") throw GiveUp{};
      expect(':');
      if (text() != "float") throw GiveUp{};
      member("v");
      const std::string v = text();
      expect('}');
      if (v == "nan") return std::numeric_limits<double>::quiet_NaN();
      if (v == "inf") return std::numeric_limits<double>::infinity();
      if (v == "-inf") return -std::numeric_limits<double>::infinity();
      throw GiveUp{};
    }
    bool integral = false;
    return real_number(number(integral));
  }

  Value object(int depth) {
    // A plain map's depth is checked as a map's; tags check their own.
    open('{');
    if (take('}')) {
      enter(depth);
      return Value(Map());
    }
    const std::string_view first = plain_key();
    if (first != "$") {
      enter(depth);
      return Value(map_from(first, depth));
    }
    expect(':');
    Value out = tagged(plain_key(), depth);
    expect('}');
    return out;
  }

  // `,"v":[y,m,d,H,M,S,us][,"offset":N]`, after the tag.
  DateTime datetime() {
    member("v");
    open('[');
    int parts[7];
    if (!plain_parts(parts)) {
      for (int i = 0; i < 7; ++i) {
        if (i > 0) expect(',');
        const std::int64_t n = integer();
        if (n < -1000000 || n > 1000000) throw GiveUp{};
        parts[i] = static_cast<int>(n);
      }
    }
    expect(']');
    std::optional<int> offset;
    if (optional_member("offset")) {
      const std::int64_t n = integer();
      if (n < -1439 || n > 1439) throw GiveUp{};
      offset = static_cast<int>(n);
    }
    try {
      return DateTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6],
                      offset);
    } catch (const ArgumentError&) {
      throw GiveUp{};
    }
  }

  // The seven parts of a date-time as the encoder writes them, numbers of up to six digits
  // between commas; false, with nothing read, for any other text.
  bool plain_parts(int (&parts)[7]) {
    const char* const text = s_.data();
    const std::size_t size = s_.size();
    std::size_t i = pos_;
    for (int part = 0; part < 7; ++part) {
      if (part > 0) {
        if (i == size || text[i] != ',') return false;
        ++i;
      }
      const std::size_t start = i;
      int n = 0;
      while (i < size && i - start < 7 && static_cast<unsigned char>(text[i] - '0') < 10)
        n = n * 10 + (text[i++] - '0');
      if (i == start || i - start > 6 || (i - start > 1 && text[start] == '0')) return false;
      parts[part] = n;
    }
    if (i == size || text[i] != ']') return false;
    pos_ = i;
    return true;
  }

  // A tagged value's members after its tag, which has no escapes (a tag with escapes is read
  // by the JSON path).
  Value tagged(std::string_view tag, int depth) {
    // The commonest tag in event lines first.
    if (tag == "datetime") return Value(datetime());
    if (tag == "float") {
      member("v");
      const std::string v = text();
      if (v == "nan") return Value(std::numeric_limits<double>::quiet_NaN());
      if (v == "inf") return Value(std::numeric_limits<double>::infinity());
      if (v == "-inf") return Value(-std::numeric_limits<double>::infinity());
      throw GiveUp{};
    }
    if (tag == "map") {
      enter(depth);
      member("v");
      Map out;
      open('[');
      if (take(']')) return Value(std::move(out));
      do {
        open('[');
        std::string key = text();
        if (out.contains(key)) throw GiveUp{};
        expect(',');
        out.set(key, value(depth + 1));
        expect(']');
      } while (take(','));
      expect(']');
      return Value(std::move(out));
    }
    if (tag == "tuple") {
      member("v");
      return Value::tuple(list(depth + 1));
    }
    if (tag == "attrmap") {
      member("v");
      return Value::attr_map(map(depth + 1));
    }
    if (tag == "result") {
      member("code");
      results::TestResult r;
      try {
        r = results::TestResult::from_str(text());
      } catch (const ArgumentError&) {
        throw GiveUp{};
      }
      if (optional_member("reason")) r.set_reason(text());
      if (optional_member("data")) r.set_data(map(depth + 1));
      return Value(std::move(r));
    }
    if (tag == "tally") {
      member("counts");
      results::ResultCounter c;
      open('[');
      if (!take(']')) {
        do {
          open('[');
          const std::string key = text();
          expect(',');
          c.set_count(key, integer());
          expect(']');
        } while (take(','));
        expect(']');
      }
      member("weight");
      c.set_weight(real());
      return Value(std::move(c));
    }
    if (tag == "error") {
      member("kind");
      std::string kind = text();
      member("args");
      return Value::error(std::move(kind), list(depth + 1));
    }
    if (tag == "opaque") {
      member("type");
      std::string type = text();
      member("repr");
      return Value::opaque(std::make_shared<RemoteObject>(std::move(type), text()));
    }
    throw GiveUp{};
  }

  // The arguments of each kind, one bit each.
  static constexpr unsigned kId = 1u << 0;
  static constexpr unsigned kSeqNum = 1u << 1;
  static constexpr unsigned kType = 1u << 2;
  static constexpr unsigned kOptions = 1u << 3;
  static constexpr unsigned kTime = 1u << 4;
  static constexpr unsigned kFileSizes = 1u << 5;
  static constexpr unsigned kData = 1u << 6;
  static constexpr unsigned kListExtend = 1u << 7;
  static constexpr unsigned kDetail = 1u << 8;
  static constexpr unsigned kResult = 1u << 9;
  struct Takes {
    unsigned allowed;
    unsigned required;
  };

  static constexpr unsigned arg_of(std::string_view key) {
    switch (key.size()) {
      case 2: return key == "id" ? kId : 0;
      case 4: return key == "type" ? kType : key == "time" ? kTime : key == "data" ? kData : 0;
      case 6: return key == "detail" ? kDetail : key == "result" ? kResult : 0;
      case 7: return key == "seq_num" ? kSeqNum : key == "options" ? kOptions : 0;
      case 10: return key == "file_sizes" ? kFileSizes : 0;
      case 11: return key == "list_extend" ? kListExtend : 0;
      default: return 0;
    }
  }

  // The kind's arguments as bits, from the table the JSON path checks by.
  static constexpr Takes takes(EventKind kind) {
    Takes out{0, 0};
    for (const Arg& arg : expected_args(kind)) {
      out.allowed |= arg_of(arg.key);
      if (arg.required) out.required |= arg_of(arg.key);
    }
    return out;
  }

  // The args map, at the depth the JSON path reads it at: each argument the kind takes, once,
  // and those it needs.
  void arguments(Operation& out) {
    enter(0);
    open('{');
    // Made once, by the compiler.
    static constexpr auto kTakes = [] {
      std::array<Takes, static_cast<std::size_t>(EventKind::roll_up) + 1> all{};
      for (std::size_t k = 0; k < all.size(); ++k) all[k] = takes(static_cast<EventKind>(k));
      return all;
    }();
    const Takes kind = kTakes[static_cast<std::size_t>(out.kind)];
    unsigned seen = 0;
    if (!take('}')) {
      do {
        const unsigned arg = arg_of(plain_key());
        if ((arg & kind.allowed) == 0 || (arg & seen) != 0) throw GiveUp{};
        seen |= arg;
        expect(':');
        argument(out, arg);
      } while (take(','));
      expect('}');
    }
    if ((seen & kind.required) != kind.required) throw GiveUp{};
  }

  void argument(Operation& out, unsigned arg) {
    switch (arg) {
      case kId: out.id = value(1); return;
      case kSeqNum: out.seq_num = value(1); return;
      case kType: out.type = value(1); return;
      case kOptions:
      case kData: out.map = map_value(1); return;
      case kTime: out.time = datetime_value(); return;
      case kFileSizes: {
        Map sizes = map_value(1);
        for (const auto& [path, size] : sizes)
          if (!size.is_int() && !size.is_none()) throw GiveUp{};
        out.file_sizes = std::move(sizes);
        return;
      }
      case kListExtend:
        if (peek() == 't') {
          literal("true");
          out.list_extend = true;
        } else {
          literal("false");
          out.list_extend = false;
        }
        return;
      case kDetail:
      case kResult: out.value = value(1); return;
      default: throw GiveUp{};
    }
  }

  // A value that must be a map, made as the map itself rather than as a Value holding one.
  Map map_value(int depth) {
    if (peek() != '{') throw GiveUp{};
    open('{');
    if (take('}')) {
      enter(depth);
      return Map();
    }
    const std::string_view first = plain_key();
    if (first != "$") {
      enter(depth);
      return map_from(first, depth);
    }
    expect(':');
    Value tagged_map = tagged(plain_key(), depth);
    expect('}');
    if (!tagged_map.is_map()) throw GiveUp{};
    return std::move(tagged_map.as_map());
  }

  // A value that must be a date-time, read as one.
  DateTime datetime_value() {
    if (skip_exact(R"({"$":"datetime")")) {
      ++raw_depth_;  // its brace
    } else {
      open('{');
      if (plain_key() != "$") throw GiveUp{};
      expect(':');
      if (plain_key() != "datetime") throw GiveUp{};
    }
    const DateTime out = datetime();
    expect('}');
    return out;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  int raw_depth_ = 0;
  std::vector<Members>& levels_;
};

}  // namespace

bool read_operation_text(std::string_view line, Operation& out) {
  try {
    Reader(line).operation(out);
    return true;
  } catch (const GiveUp&) {
    return false;
  }
}

}  // namespace morvi::service::protocol
