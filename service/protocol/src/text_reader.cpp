#include "text_reader.hpp"

#include <charconv>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "morvi/datetime.hpp"
#include "morvi/results.hpp"
#include "morvi/utils/utf8.hpp"
#include "codec_parts.hpp"

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

class Reader {
 public:
  explicit Reader(std::string_view text) : s_(text), levels_(members_by_level()) {}

  std::optional<Event> event() {
    open('{');
    std::optional<EventKind> kind;
    std::optional<Handle> node, child;
    std::optional<Map> args;
    bool first = true;
    while (!take('}')) {
      if (!first) expect(',');
      first = false;
      const std::string_view key = plain_key();
      expect(':');
      if (key == "event" && !kind) {
        std::string name = text();
        kind = event_kind(name);
        if (!kind) throw GiveUp{};
      } else if (key == "node" && !node) {
        node = handle();
      } else if (key == "child" && !child) {
        child = handle();
      } else if (key == "args" && !args) {
        args = map(0);
      } else {
        throw GiveUp{};
      }
    }
    skip_space();
    if (pos_ != s_.size() || !kind || !node || !args || child.has_value() != creates_node(*kind))
      throw GiveUp{};
    return Event{*kind, *node, child.value_or(0), std::move(*args)};
  }

 private:
  void skip_space() {
    while (pos_ < s_.size() &&
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
      while (pos_ < size && kPlainByte[p[pos_]]) ++pos_;
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
    return s_.substr(start, pos_++ - start);
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
    const bool negative = pos_ < s_.size() && s_[pos_] == '-';
    if (negative) ++pos_;
    const std::size_t start = pos_;
    std::int64_t n = 0;
    while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9')
      n = n * 10 + (s_[pos_++] - '0');
    const std::size_t digits = pos_ - start;
    if (digits == 0 || digits > 18 || (digits > 1 && s_[start] == '0') || (negative && n == 0))
      throw GiveUp{};
    if (pos_ < s_.size() && (s_[pos_] == '.' || s_[pos_] == 'e' || s_[pos_] == 'E'))
      throw GiveUp{};
    return negative ? -n : n;
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
      case '"': return Value(text());
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
    expect(',');
    if (plain_key() != key) throw GiveUp{};
    expect(':');
  }

  // `,"key":` when the next member is `key`.
  bool optional_member(std::string_view key) {
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
    const std::string tag = text();
    Value out = tagged(tag, depth);
    expect('}');
    return out;
  }

  Value tagged(const std::string& tag, int depth) {
    // The commonest tag in event lines first.
    if (tag == "datetime") {
      member("v");
      open('[');
      int parts[7];
      for (int i = 0; i < 7; ++i) {
        if (i > 0) expect(',');
        const std::int64_t n = integer();
        if (n < -1000000 || n > 1000000) throw GiveUp{};
        parts[i] = static_cast<int>(n);
      }
      expect(']');
      std::optional<int> offset;
      if (optional_member("offset")) {
        const std::int64_t n = integer();
        if (n < -1439 || n > 1439) throw GiveUp{};
        offset = static_cast<int>(n);
      }
      try {
        return Value(DateTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5],
                              parts[6], offset));
      } catch (const ArgumentError&) {
        throw GiveUp{};
      }
    }
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

  std::string_view s_;
  std::size_t pos_ = 0;
  int raw_depth_ = 0;
  std::vector<Members>& levels_;
};

}  // namespace

std::optional<Event> read_event_text(std::string_view line) {
  try {
    return Reader(line).event();
  } catch (const GiveUp&) {
    return std::nullopt;
  }
}

}  // namespace morvi::service::protocol
