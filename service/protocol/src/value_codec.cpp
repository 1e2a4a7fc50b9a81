#include "morvi/service/protocol/value_codec.hpp"

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <utility>

#include "morvi/datetime.hpp"
#include "morvi/results.hpp"

namespace morvi::service::protocol {
namespace {

using json = Json;

// An object of the runner's that reached us as its type name and representation.
class RemoteObject : public Object {
 public:
  RemoteObject(std::string type, std::string repr)
      : type_(std::move(type)), repr_(std::move(repr)) {}
  std::string type_name() const override { return type_; }
  std::string repr() const override { return repr_; }

 private:
  std::string type_;
  std::string repr_;
};

json tagged(const char* tag) {
  json out = json::object();
  out["$"] = tag;
  return out;
}

void check_depth(int depth) {
  if (depth > kMaxDepth)
    throw SerializationError("a value nested deeper than " + std::to_string(kMaxDepth) +
                             " levels cannot be encoded");
}

json encode(const Value& value, int depth);

json encode_map_at(const Map& map, int depth) {
  check_depth(depth);
  const bool plain = !map.contains("$");
  if (plain) {
    json out = json::object();
    // The keys of a Map are unique, so each member is appended without a search.
    auto& members = out.get_ref<json::object_t&>();
    members.reserve(map.size());
    for (const auto& [key, item] : map) members.emplace_back(key, encode(item, depth + 1));
    return out;
  }
  json out = tagged("map");
  json entries = json::array();
  for (const auto& [key, item] : map) entries.push_back(json::array({key, encode(item, depth + 1)}));
  out["v"] = std::move(entries);
  return out;
}

json encode_list(const List& list, int depth) {
  check_depth(depth);
  json out = json::array();
  for (const Value& item : list) out.push_back(encode(item, depth + 1));
  return out;
}

json encode_float(double x) {
  if (std::isfinite(x)) return json(x);
  json out = tagged("float");
  out["v"] = std::isnan(x) ? "nan" : (x > 0 ? "inf" : "-inf");
  return out;
}

json encode(const Value& value, int depth) {
  switch (value.kind()) {
    case Kind::None: return nullptr;
    case Kind::Bool: return value.as_bool();
    case Kind::Int: return value.as_int();
    case Kind::Float: return encode_float(value.as_number());
    case Kind::Text: return value.as_text();
    case Kind::List: return encode_list(value.as_list(), depth);
    case Kind::Tuple: {
      json out = tagged("tuple");
      out["v"] = encode_list(value.as_list(), depth + 1);
      return out;
    }
    case Kind::Map: return encode_map_at(value.as_map(), depth);
    case Kind::AttrMap: {
      json out = tagged("attrmap");
      out["v"] = encode_map_at(value.as_map(), depth + 1);
      return out;
    }
    case Kind::DateTime: {
      const DateTime& d = value.as_datetime();
      json out = tagged("datetime");
      out["v"] = json::array({d.year(), d.month(), d.day(), d.hour(), d.minute(), d.second(),
                              d.microsecond()});
      if (d.aware()) out["offset"] = *d.utc_offset_minutes();
      return out;
    }
    case Kind::Result: {
      const results::TestResult& r = value.as_result();
      json out = tagged("result");
      out["code"] = std::string(r.value());
      if (!r.reason().empty()) out["reason"] = r.reason();
      if (!r.data().empty()) out["data"] = encode_map_at(r.data(), depth + 1);
      return out;
    }
    case Kind::Tally: {
      const results::ResultCounter& c = value.as_tally();
      json out = tagged("tally");
      json counts = json::array();
      for (const auto& [key, n] : c.items()) counts.push_back(json::array({key, n}));
      out["counts"] = std::move(counts);
      out["weight"] = encode_float(c.weight());
      return out;
    }
    case Kind::Error: {
      const ErrorValue& e = value.as_error();
      json out = tagged("error");
      out["kind"] = e.kind;
      out["args"] = encode_list(e.args, depth + 1);
      return out;
    }
    case Kind::Opaque: {
      const auto& object = value.as_object();
      json out = tagged("opaque");
      out["type"] = object->type_name();
      out["repr"] = object->repr();
      return out;
    }
    case Kind::Node: break;
  }
  throw SerializationError("a report node cannot travel as a value; nodes are named by handle");
}

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

json encode_value(const Value& value) { return encode(value, 0); }

json encode_map(const Map& map) { return encode_map_at(map, 0); }

Value decode_value(const Json& json) { return Decoder().value(json, "", 0); }

Map decode_map(const Json& json) { return Decoder().map(json, "", 0); }

}  // namespace morvi::service::protocol
