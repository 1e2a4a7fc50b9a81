#include "morvi/service/protocol/value_codec.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "morvi/datetime.hpp"
#include "morvi/results.hpp"
#include "codec_parts.hpp"

namespace morvi::service::protocol {

std::size_t utf8_length(const unsigned char* p, std::size_t left) {
  const unsigned char c = p[0];
  std::size_t n;
  unsigned char low = 0x80, high = 0xBF;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < n || p[1] < low || p[1] > high) return 0;
  for (std::size_t i = 2; i < n; ++i)
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  return n;
}

namespace {

using json = Json;

void check_depth(int depth) {
  if (depth > kMaxDepth)
    throw SerializationError("a value nested deeper than " + std::to_string(kMaxDepth) +
                             " levels cannot be encoded");
}

class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}

  void text(std::string_view s) {
    static constexpr char kHex[] = "0123456789abcdef";
    out_.push_back('"');
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    std::size_t i = 0;
    while (i < s.size()) {
      // Runs of plain characters go out whole.
      std::size_t j = i;
      while (j < s.size() && p[j] >= 0x20 && p[j] < 0x80 && p[j] != '"' && p[j] != '\\') ++j;
      out_.append(s.data() + i, j - i);
      i = j;
      if (i == s.size()) break;
      const unsigned char c = p[i];
      if (c >= 0x80) {
        const std::size_t n = utf8_length(p + i, s.size() - i);
        if (n == 0)
          throw SerializationError("a text with invalid UTF-8 at byte " + std::to_string(i) +
                                   " cannot be encoded");
        out_.append(s.data() + i, n);
        i += n;
        continue;
      }
      out_.push_back('\\');
      switch (c) {
        case '"': out_.push_back('"'); break;
        case '\\': out_.push_back('\\'); break;
        case '\b': out_.push_back('b'); break;
        case '\t': out_.push_back('t'); break;
        case '\n': out_.push_back('n'); break;
        case '\f': out_.push_back('f'); break;
        case '\r': out_.push_back('r'); break;
        default:
          out_ += "u00";
          out_.push_back(kHex[c >> 4]);
          out_.push_back(kHex[c & 0xF]);
      }
      ++i;
    }
    out_.push_back('"');
  }

  void integer(std::int64_t n) {
    char buffer[24];
    const char* end = std::to_chars(buffer, buffer + sizeof buffer, n).ptr;
    out_.append(buffer, static_cast<std::size_t>(end - buffer));
  }

  // The shortest text that reads back as the same double, in the JSON library's own form
  // ("1.0", "1e+20"), so that lines written before stay byte-identical.
  void real(double x) {
    if (!std::isfinite(x)) {
      out_ += R"({"$":"float","v":")";
      out_ += std::isnan(x) ? "nan" : (x > 0 ? "inf" : "-inf");
      out_ += "\"}";
      return;
    }
    char buffer[64];
    const char* end = nlohmann::detail::to_chars(buffer, buffer + sizeof buffer, x);
    out_.append(buffer, static_cast<std::size_t>(end - buffer));
  }

  void tag(const char* name) {
    out_ += R"({"$":")";
    out_ += name;
    out_.push_back('"');
  }

  // `,"key":` inside a tagged object.
  void member(const char* key) {
    out_ += ",\"";
    out_ += key;
    out_ += "\":";
  }

  void map_at(const Map& map, int depth) {
    check_depth(depth);
    if (!map.contains("$")) {
      out_.push_back('{');
      bool first = true;
      for (const auto& [key, item] : map) {
        if (!first) out_.push_back(',');
        first = false;
        text(key);
        out_.push_back(':');
        value(item, depth + 1);
      }
      out_.push_back('}');
      return;
    }
    tag("map");
    member("v");
    out_.push_back('[');
    bool first = true;
    for (const auto& [key, item] : map) {
      if (!first) out_.push_back(',');
      first = false;
      out_.push_back('[');
      text(key);
      out_.push_back(',');
      value(item, depth + 1);
      out_.push_back(']');
    }
    out_ += "]}";
  }

  void list(const List& list, int depth) {
    check_depth(depth);
    out_.push_back('[');
    bool first = true;
    for (const Value& item : list) {
      if (!first) out_.push_back(',');
      first = false;
      value(item, depth + 1);
    }
    out_.push_back(']');
  }

  void value(const Value& value, int depth) {
    switch (value.kind()) {
      case Kind::None: out_ += "null"; return;
      case Kind::Bool: out_ += value.as_bool() ? "true" : "false"; return;
      case Kind::Int: integer(value.as_int()); return;
      case Kind::Float: real(value.as_number()); return;
      case Kind::Text: text(value.as_text()); return;
      case Kind::List: list(value.as_list(), depth); return;
      case Kind::Tuple:
        tag("tuple");
        member("v");
        list(value.as_list(), depth + 1);
        out_.push_back('}');
        return;
      case Kind::Map: map_at(value.as_map(), depth); return;
      case Kind::AttrMap:
        tag("attrmap");
        member("v");
        map_at(value.as_map(), depth + 1);
        out_.push_back('}');
        return;
      case Kind::DateTime: {
        const DateTime& d = value.as_datetime();
        tag("datetime");
        member("v");
        const int parts[] = {d.year(),   d.month(),  d.day(),        d.hour(),
                             d.minute(), d.second(), d.microsecond()};
        char separator = '[';
        for (const int part : parts) {
          out_.push_back(separator);
          separator = ',';
          integer(part);
        }
        out_.push_back(']');
        if (d.aware()) {
          member("offset");
          integer(*d.utc_offset_minutes());
        }
        out_.push_back('}');
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
          map_at(r.data(), depth + 1);
        }
        out_.push_back('}');
        return;
      }
      case Kind::Tally: {
        const results::ResultCounter& c = value.as_tally();
        tag("tally");
        member("counts");
        out_.push_back('[');
        bool first = true;
        for (const auto& [key, n] : c.items()) {
          if (!first) out_.push_back(',');
          first = false;
          out_.push_back('[');
          text(key);
          out_.push_back(',');
          integer(n);
          out_.push_back(']');
        }
        out_.push_back(']');
        member("weight");
        real(c.weight());
        out_.push_back('}');
        return;
      }
      case Kind::Error: {
        const ErrorValue& e = value.as_error();
        tag("error");
        member("kind");
        text(e.kind);
        member("args");
        list(e.args, depth + 1);
        out_.push_back('}');
        return;
      }
      case Kind::Opaque: {
        const auto& object = value.as_object();
        tag("opaque");
        member("type");
        text(object->type_name());
        member("repr");
        text(object->repr());
        out_.push_back('}');
        return;
      }
      case Kind::Node: break;
    }
    throw SerializationError("a report node cannot travel as a value; nodes are named by handle");
  }

 private:
  std::string& out_;
};

// Decoding keeps the JSON pointer of the value it reads, for the messages.
class Decoder {
 public:
  Value value(const json& j, const std::string& at, int depth) {
    switch (j.type()) {
      case json::value_t::null: return Value();
      case json::value_t::boolean: return Value(j.get<bool>());
      case json::value_t::number_integer: return Value(j.get<std::int64_t>());
      case json::value_t::number_unsigned: {
        const auto n = j.get<std::uint64_t>();
        if (n > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
          fail(at, "an integer past the 64-bit range");
        return Value(static_cast<std::int64_t>(n));
      }
      case json::value_t::number_float: return Value(j.get<double>());
      case json::value_t::string: return Value(j.get<std::string>());
      case json::value_t::array: return Value(list(j, at, depth));
      case json::value_t::object: return object(j, at, depth);
      default: fail(at, "not an encoded value");
    }
  }

  Map map(const json& j, const std::string& at, int depth) {
    enter(at, depth);
    if (!j.is_object()) fail(at, "a map must be a JSON object");
    Map out;
    const auto tag = j.find("$");
    if (tag == j.end()) {
      out.reserve(j.size());
      for (const auto& [key, item] : j.items()) out.set(key, value(item, at + "/" + key, depth + 1));
      return out;
    }
    if (*tag != "map") fail(at, "a map must be a JSON object or a tagged map");
    const json& entries = member(j, "v", at);
    if (!entries.is_array()) fail(at + "/v", "the entries of a map must be a list");
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const std::string here = at + "/v/" + std::to_string(i);
      const json& entry = entries[i];
      if (!entry.is_array() || entry.size() != 2 || !entry[0].is_string())
        fail(here, "a map entry must be [key, value]");
      out.set(entry[0].get<std::string>(), value(entry[1], here + "/1", depth + 1));
    }
    return out;
  }

 private:
  [[noreturn]] static void fail(const std::string& at, const std::string& reason) {
    throw ProtocolError("value at '" + (at.empty() ? std::string("/") : at) + "': " + reason);
  }

  static void enter(const std::string& at, int depth) {
    if (depth > kMaxDepth)
      fail(at, "nested deeper than " + std::to_string(kMaxDepth) + " levels");
  }

  static const json& member(const json& j, const char* key, const std::string& at) {
    const auto it = j.find(key);
    if (it == j.end()) fail(at, std::string("missing '") + key + "'");
    return *it;
  }

  static const std::string& text(const json& j, const char* key, const std::string& at) {
    const json& m = member(j, key, at);
    if (!m.is_string()) fail(at + "/" + key, "must be a text");
    return m.get_ref<const std::string&>();
  }

  static std::int64_t integer(const json& j, const std::string& at) {
    if (!j.is_number_integer()) fail(at, "must be an integer");
    if (j.is_number_unsigned() &&
        j.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
      fail(at, "an integer past the 64-bit range");
    return j.get<std::int64_t>();
  }

  List list(const json& j, const std::string& at, int depth) {
    enter(at, depth);
    if (!j.is_array()) fail(at, "must be a list");
    List out;
    out.reserve(j.size());
    for (std::size_t i = 0; i < j.size(); ++i)
      out.push_back(value(j[i], at + "/" + std::to_string(i), depth + 1));
    return out;
  }

  double real(const json& j, const std::string& at) {
    if (j.is_number()) return j.get<double>();
    if (j.is_object() && j.value("$", "") == "float") {
      const std::string& v = text(j, "v", at);
      if (v == "nan") return std::numeric_limits<double>::quiet_NaN();
      if (v == "inf") return std::numeric_limits<double>::infinity();
      if (v == "-inf") return -std::numeric_limits<double>::infinity();
      fail(at + "/v", "a float must be \"nan\", \"inf\" or \"-inf\"");
    }
    fail(at, "must be a float");
  }

  Value object(const json& j, const std::string& at, int depth) {
    const auto tag_it = j.find("$");
    if (tag_it == j.end()) return Value(map(j, at, depth));
    if (!tag_it->is_string()) fail(at + "/$", "a type tag must be a text");
    const std::string& tag = tag_it->get_ref<const std::string&>();
    if (tag == "map") return Value(map(j, at, depth));
    if (tag == "float") return Value(real(j, at));
    if (tag == "tuple") return Value::tuple(list(member(j, "v", at), at + "/v", depth + 1));
    if (tag == "attrmap") return Value::attr_map(map(member(j, "v", at), at + "/v", depth + 1));
    if (tag == "datetime") return datetime(j, at);
    if (tag == "result") return result(j, at, depth);
    if (tag == "tally") return tally(j, at);
    if (tag == "error") {
      std::string kind = text(j, "kind", at);
      return Value::error(std::move(kind), list(member(j, "args", at), at + "/args", depth + 1));
    }
    if (tag == "opaque")
      return Value::opaque(std::make_shared<RemoteObject>(text(j, "type", at), text(j, "repr", at)));
    fail(at + "/$", "unknown type tag '" + tag + "'");
  }

  Value datetime(const json& j, const std::string& at) {
    const json& v = member(j, "v", at);
    if (!v.is_array() || v.size() != 7) fail(at + "/v", "a date-time must be 7 integers");
    int parts[7];
    for (int i = 0; i < 7; ++i) {
      const std::int64_t n = integer(v[i], at + "/v/" + std::to_string(i));
      if (n < -1000000 || n > 1000000) fail(at + "/v/" + std::to_string(i), "out of range");
      parts[i] = static_cast<int>(n);
    }
    std::optional<int> offset;
    if (const auto it = j.find("offset"); it != j.end()) {
      const std::int64_t n = integer(*it, at + "/offset");
      if (n < -1439 || n > 1439) fail(at + "/offset", "an offset must be -1439..1439 minutes");
      offset = static_cast<int>(n);
    }
    try {
      return Value(DateTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6],
                            offset));
    } catch (const ArgumentError& e) {
      fail(at, e.what());
    }
  }

  Value result(const json& j, const std::string& at, int depth) {
    results::TestResult r;
    try {
      r = results::TestResult::from_str(text(j, "code", at));
    } catch (const ArgumentError& e) {
      fail(at + "/code", e.what());
    }
    if (const auto it = j.find("reason"); it != j.end()) {
      if (!it->is_string()) fail(at + "/reason", "must be a text");
      r.set_reason(it->get<std::string>());
    }
    if (const auto it = j.find("data"); it != j.end()) r.set_data(map(*it, at + "/data", depth + 1));
    return Value(std::move(r));
  }

  Value tally(const json& j, const std::string& at) {
    const json& counts = member(j, "counts", at);
    if (!counts.is_array()) fail(at + "/counts", "must be a list");
    results::ResultCounter c;
    for (std::size_t i = 0; i < counts.size(); ++i) {
      const std::string here = at + "/counts/" + std::to_string(i);
      const json& entry = counts[i];
      if (!entry.is_array() || entry.size() != 2 || !entry[0].is_string())
        fail(here, "a count must be [key, n]");
      c.set_count(entry[0].get<std::string>(), integer(entry[1], here + "/1"));
    }
    c.set_weight(real(member(j, "weight", at), at + "/weight"));
    return Value(std::move(c));
  }
};

}  // namespace

void write_value(std::string& out, const Value& value) { Writer(out).value(value, 0); }

void write_map(std::string& out, const Map& map) { Writer(out).map_at(map, 0); }

// The records a reader asks for go through the same text.
json encode_value(const Value& value) {
  std::string text;
  write_value(text, value);
  return json::parse(text);
}

Value decode_value(const Json& json) { return Decoder().value(json, "", 0); }

Map decode_map(const Json& json) { return Decoder().map(json, "", 0); }

}  // namespace morvi::service::protocol
