#include "oracle_cases.hpp"

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <unistd.h>

#include "morvi/reporter/trialkit.hpp"
#include "morvi/results.hpp"
#include "morvi/testing/scratch_dir.hpp"

namespace morvi::testing {
namespace {

std::string hex(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    out.push_back(kHex[static_cast<unsigned char>(c) >> 4]);
    out.push_back(kHex[static_cast<unsigned char>(c) & 0xF]);
  }
  return out;
}

nlohmann::json tagged_real(double x) {
  std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
  std::string big_endian(8, '\0');
  for (int i = 7; i >= 0; --i, bits >>= 8) big_endian[static_cast<std::size_t>(i)] = static_cast<char>(bits & 0xFF);
  return {"float", hex(big_endian)};
}

nlohmann::json tagged_entries(const Map& m) {
  nlohmann::json entries = nlohmann::json::array();
  for (const auto& [key, value] : m) entries.push_back({hex(key), tagged(value)});
  return entries;
}

nlohmann::json tagged_node(const reporter::trialkit::ReportObjectBase& node) {
  nlohmann::json order = nlohmann::json::array(), fields = nlohmann::json::array();
  for (std::string_view name : node.arg_order()) {
    order.push_back(name);
    const reporter::trialkit::FieldRef field = node.field(name);
    if (field.exists()) fields.push_back({name, tagged(*field)});
  }
  return {"node", node.type_name(), order, fields, hex(node.repr())};
}

}  // namespace

nlohmann::json tagged(const Value& v) {
  using nlohmann::json;
  switch (v.kind()) {
    case Kind::None: return json::array({"none"});
    case Kind::Bool: return {"bool", v.as_bool()};
    case Kind::Int: return {"int", v.as_int()};
    case Kind::Float: return tagged_real(v.as_number());
    case Kind::Text: return {"str", hex(v.as_text())};
    case Kind::List:
    case Kind::Tuple: {
      json items = json::array();
      for (const Value& item : v.as_list()) items.push_back(tagged(item));
      return {v.is_list() ? "list" : "tuple", items};
    }
    case Kind::Map:
    case Kind::AttrMap: return {v.kind() == Kind::Map ? "dict" : "attrdict", tagged_entries(v.as_map())};
    case Kind::DateTime: {
      const DateTime& d = v.as_datetime();
      const auto offset = d.utc_offset_minutes();
      return {"datetime", d.year(), d.month(), d.day(), d.hour(), d.minute(), d.second(),
              d.microsecond(), offset ? json(*offset) : json()};
    }
    case Kind::Result: {
      const results::TestResult& r = v.as_result();
      return {"result", r.value(), hex(r.reason()), tagged(Value(r.data()))};
    }
    case Kind::Tally: {
      const results::ResultCounter& c = v.as_tally();
      json items = json::array();
      for (const auto& [key, count] : c.items()) items.push_back({key, count});
      return {"tally", items, c.total(), tagged_real(c.success_rate())};
    }
    case Kind::Node: return tagged_node(reporter::trialkit::node_of(v));
    case Kind::Error: {
      json args = json::array();
      for (const Value& arg : v.as_error().args) args.push_back(tagged(arg));
      return {"error", v.as_error().kind, args};
    }
    case Kind::Opaque: return {"object", v.as_object()->type_name(), hex(v.as_object()->repr())};
  }
  throw std::logic_error("unknown kind");
}

std::vector<OracleDocuments> run_oracle(const std::vector<nlohmann::json>& cases) {
  const std::string source = morvi::testing::source_dir().string();
  const morvi::testing::ScratchDir dir;
  const auto in = dir / "cases.jsonl", out = dir / "documents.jsonl";
  {
    std::ofstream file(in);
    for (const auto& c : cases) file << c.dump() << '\n';
  }
  const std::string command = "/usr/bin/python3 '" + std::string(source) +
                              "/tests/oracle/documents_oracle.py' '" + in.string() + "' '" +
                              out.string() + "'";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("the oracle failed: " + command);
  std::vector<OracleDocuments> documents;
  std::ifstream file(out);
  for (std::string line; std::getline(file, line);) {
    const auto j = nlohmann::json::parse(line);
    OracleDocuments d;
    if (!j["json"].is_null()) d.json = j["json"].get<std::string>();
    if (!j["yaml"].is_null()) d.yaml = j["yaml"].get<std::string>();
    documents.push_back(std::move(d));
  }
  if (documents.size() != cases.size()) throw std::runtime_error("the oracle wrote too few documents");
  return documents;
}

}  // namespace morvi::testing
