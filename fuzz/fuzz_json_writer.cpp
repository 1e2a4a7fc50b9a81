// The JSON writer on values built from the input: the text is ASCII, parses back with
// nlohmann/json, and, when every text was well-formed UTF-8, to the same data.
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "fuzz_input.hpp"
#include "morvi/reporter/trialkit/json.hpp"

namespace {

using morvi::Value;
using nlohmann::json;

json expected(const Value& v) {
  switch (v.kind()) {
    case morvi::Kind::None: return nullptr;
    case morvi::Kind::Bool: return v.as_bool();
    case morvi::Kind::Int: return v.as_int();
    case morvi::Kind::Float: return v.as_number();
    case morvi::Kind::Text: return v.as_text();
    case morvi::Kind::List:
    case morvi::Kind::Tuple: {
      json a = json::array();
      for (const Value& item : v.as_list()) a.push_back(expected(item));
      return a;
    }
    case morvi::Kind::Map:
    case morvi::Kind::AttrMap: {
      json o = json::object();
      for (const auto& [key, item] : v.as_map()) o[key] = expected(item);
      return o;
    }
    case morvi::Kind::Result: {
      const auto& r = v.as_result();
      json o = {{"value", std::string(r.value())}};
      if (!r.reason().empty()) o["reason"] = r.reason();
      return o;
    }
    default: std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  morvi::fuzz::FuzzInput input(data, size);
  const Value v = input.value(6, true);
  const std::string text = morvi::reporter::trialkit::JSONDumper::encode(v);
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80 || c == '\n') std::abort();
  const json parsed = json::parse(text);  // throws, and so crashes the target, on bad JSON
  if (morvi::fuzz::all_texts_valid(v) && parsed != expected(v)) std::abort();
  return 0;
}
