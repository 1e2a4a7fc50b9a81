// Writes Values as JSON text into one growing buffer. Report nodes, results, tallies, date-times
// and error objects are written as the replacements JSONDumper::default_ defines, in place,
// without building the replacement maps; everything else the hook cannot convert goes to the
// hook itself, which refuses it.
#include <array>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

#include "../text/utf8.hpp"
#include "morvi/errors.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/reporter/trialkit/json.hpp"
#include "morvi/results.hpp"

namespace morvi::reporter::trialkit {
namespace {

// Bytes copied unchanged into a JSON string: printable ASCII except the quote and backslash.
constexpr std::array<bool, 256> kVerbatim = [] {
  std::array<bool, 256> t{};
  for (int c = 0x20; c < 0x7F; ++c) t[c] = c != '"' && c != '\\';
  return t;
}();

class JsonWriter {
 public:
  explicit JsonWriter(std::string& out) : out_(out) {}

  void value(const Value& v) {
    switch (v.kind()) {
      case Kind::None: out_ += "null"; return;
      case Kind::Bool: out_ += v.as_bool() ? "true" : "false"; return;
      case Kind::Int: integer(v.as_int()); return;
      case Kind::Float: real(v.as_number()); return;
      case Kind::Text: text(v.as_text()); return;
      case Kind::List:
      case Kind::Tuple: list(v.as_list()); return;
      case Kind::Map:
      case Kind::AttrMap: map(v.as_map()); return;
      case Kind::DateTime:
        out_.push_back('"');
        v.as_datetime().append_text(out_);
        out_.push_back('"');
        return;
      case Kind::Result: result(v.as_result()); return;
      case Kind::Tally: tally(v.as_tally()); return;
      case Kind::Node: node(v); return;
      case Kind::Error: text(v.to_repr()); return;
      case Kind::Opaque: break;
    }
    value(JSONDumper::default_(v));
  }

 private:
  void map(const Map& m) {
    enter();
    out_.push_back('{');
    bool first = true;
    for (const auto& [key, item] : m) {
      separator(first);
      member(key);
      value(item);
    }
    out_.push_back('}');
    leave();
  }

  void enter() {
    if (++depth_ > JSONDumper::max_depth)
      throw SerializationError("cannot write the document as JSON: it nests containers deeper than " +
                               std::to_string(JSONDumper::max_depth) + " levels");
  }
  void leave() noexcept { --depth_; }

  void separator(bool& first) {
    if (!first) out_ += ", ";
    first = false;
  }

  void member(std::string_view key) {
    text(key);
    out_ += ": ";
  }

  void integer(std::int64_t i) {
    char buf[24];
    out_.append(buf, std::to_chars(buf, buf + sizeof buf, i).ptr);
  }

  void real(double x) {
    if (std::isnan(x))
      out_ += "NaN";
    else if (std::isinf(x))
      out_ += x < 0 ? "-Infinity" : "Infinity";
    else
      append_float_repr(out_, x);
  }

  void text(std::string_view s) {
    out_.push_back('"');
    std::size_t run = 0;
    for (std::size_t i = 0; i < s.size();) {
      const auto c = static_cast<unsigned char>(s[i]);
      if (kVerbatim[c]) {
        ++i;
        continue;
      }
      out_.append(s.data() + run, i - run);
      if (c < 0x80) {
        escape_ascii(c);
        ++i;
      } else {
        const utf8::CodePoint cp = utf8::decode(s, i);
        if (cp.value >= 0x10000) {
          const char32_t v = cp.value - 0x10000;
          escape_unit(0xD800 + (v >> 10));
          escape_unit(0xDC00 + (v & 0x3FF));
        } else {
          escape_unit(cp.value);
        }
        i += cp.size;
      }
      run = i;
    }
    out_.append(s.data() + run, s.size() - run);
    out_.push_back('"');
  }

  void escape_ascii(unsigned char c) {
    switch (c) {
      case '"': out_ += "\\\""; return;
      case '\\': out_ += "\\\\"; return;
      case '\b': out_ += "\\b"; return;
      case '\f': out_ += "\\f"; return;
      case '\n': out_ += "\\n"; return;
      case '\r': out_ += "\\r"; return;
      case '\t': out_ += "\\t"; return;
      default: escape_unit(c); return;
    }
  }

  void escape_unit(char32_t unit) {
    static constexpr char kHex[] = "0123456789abcdef";
    const char esc[6] = {'\\', 'u', kHex[(unit >> 12) & 0xF], kHex[(unit >> 8) & 0xF],
                         kHex[(unit >> 4) & 0xF], kHex[unit & 0xF]};
    out_.append(esc, sizeof esc);
  }

  void list(const List& items) {
    enter();
    out_.push_back('[');
    bool first = true;
    for (const Value& item : items) {
      separator(first);
      value(item);
    }
    out_.push_back(']');
    leave();
  }

  void node(const Value& v) {
    const ReportObjectBase& n = node_of(v);
    enter();
    const std::size_t mark = out_.size();
    out_.push_back('{');
    bool first = true;
    for (std::string_view name : n.arg_order()) {
      const FieldRef field = n.field(name);
      if (is_ignored(*field)) continue;
      separator(first);
      member(name);
      value(*field);
    }
    leave();
    if (first) {
      // Nothing to write: the hook decides what an empty replacement means.
      out_.resize(mark);
      value(JSONDumper::default_(v));
      return;
    }
    out_.push_back('}');
  }

  void result(const results::TestResult& r) {
    enter();
    out_ += "{\"value\": ";
    text(r.value());
    if (!r.reason().empty()) {
      out_ += ", \"reason\": ";
      text(r.reason());
    }
    if (!r.data().empty()) {
      out_ += ", \"data\": ";
      map(r.data());
    }
    out_.push_back('}');
    leave();
  }

  void tally(const results::ResultCounter& c) {
    enter();
    out_.push_back('{');
    for (const auto& [key, count] : c.items()) {
      member(key);
      integer(count);
      out_ += ", ";
    }
    out_ += "\"total\": ";
    integer(c.total());
    out_ += ", \"success_rate\": ";
    real(c.success_rate());
    out_.push_back('}');
    leave();
  }

  std::string& out_;
  std::size_t depth_ = 0;
};

}  // namespace

std::string JSONDumper::encode(const Value& value) {
  std::string out;
  JsonWriter(out).value(value);
  return out;
}

}  // namespace morvi::reporter::trialkit
