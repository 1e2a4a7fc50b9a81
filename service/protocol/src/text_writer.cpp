#include "text_writer.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
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

void check_depth(int depth) {
  if (depth > kMaxDepth)
    throw SerializationError("a value nested deeper than " + std::to_string(kMaxDepth) +
                             " levels cannot be encoded");
}

}  // namespace

TextWriter::TextWriter(std::string& out) : out_(out) {
  const std::size_t used = out_.size();
  out_.resize(used + kStep);
  at_ = out_.data() + used;
  end_ = out_.data() + out_.size();
}

TextWriter::~TextWriter() { out_.resize(static_cast<std::size_t>(at_ - out_.data())); }

void TextWriter::grow(std::size_t n) {
  const auto used = static_cast<std::size_t>(at_ - out_.data());
  out_.resize(used + std::max(n, std::max(kStep, used)));
  at_ = out_.data() + used;
  end_ = out_.data() + out_.size();
}

void TextWriter::text(std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  put('"');
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  std::size_t i = 0;
  while (i < s.size()) {
    // Runs of plain characters go out whole.
    std::size_t j = i;
    while (j < s.size() && kPlainByte[p[j]]) ++j;
    raw(s.substr(i, j - i));
    i = j;
    if (i == s.size()) break;
    const unsigned char c = p[i];
    if (c >= 0x80) {
      const std::size_t n = utf8_length(p + i, s.size() - i);
      if (n == 0)
        throw SerializationError("a text with invalid UTF-8 at byte " + std::to_string(i) +
                                 " cannot be encoded");
      raw(s.substr(i, n));
      i += n;
      continue;
    }
    need(6);
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
    ++i;
  }
  put('"');
}

void TextWriter::integer(std::int64_t n) {
  if (n < 0) {
    need(20);
    at_ = std::to_chars(at_, end_, n).ptr;
    return;
  }
  whole(static_cast<std::uint64_t>(n));
}

void TextWriter::whole(std::uint64_t n) {
  need(20);
  // Most numbers on a line are the fields of a date-time and handles: short ones.
  if (n < 10) {
    *at_++ = static_cast<char>('0' + n);
    return;
  }
  if (n < 100) {
    *at_++ = static_cast<char>('0' + n / 10);
    *at_++ = static_cast<char>('0' + n % 10);
    return;
  }
  at_ = std::to_chars(at_, end_, n).ptr;
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
  if (!map.contains("$")) {
    put('{');
    bool first = true;
    for (const auto& [key, item] : map) {
      if (!first) put(',');
      first = false;
      text(key);
      put(':');
      value(item, depth + 1);
    }
    put('}');
    return;
  }
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
    case Kind::DateTime: {
      const DateTime& d = value.as_datetime();
      tag("datetime");
      member("v");
      const int parts[] = {d.year(),   d.month(),  d.day(),        d.hour(),
                           d.minute(), d.second(), d.microsecond()};
      char separator = '[';
      for (const int part : parts) {
        put(separator);
        separator = ',';
        integer(part);
      }
      put(']');
      if (d.aware()) {
        member("offset");
        integer(*d.utc_offset_minutes());
      }
      put('}');
      return;
    }
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
