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
#include "text_writer.hpp"

namespace morvi::service::protocol {
namespace {

using json = Json;

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

void write_value(std::string& out, const Value& value) { TextWriter(out).value(value, 0); }

void write_map(std::string& out, const Map& map) { TextWriter(out).map(map, 0); }

// The records a reader asks for go through the same text.
json encode_value(const Value& value) {
  std::string text;
  write_value(text, value);
  return json::parse(text);
}

Value decode_value(const Json& json) { return Decoder().value(json, "", 0); }

Map decode_map(const Json& json) { return Decoder().map(json, "", 0); }

}  // namespace morvi::service::protocol
