// JSONDumper::default_: what a value the JSON writer cannot write by itself is written as.
#include <string>

#include "morvi/errors.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/reporter/trialkit/json.hpp"
#include "morvi/results.hpp"

namespace morvi::reporter::trialkit {
namespace {

Map node_replacement(const ReportObjectBase& node) {
  Map r;
  const auto names = node.arg_order();
  for (std::size_t i = 0; i < names.size(); ++i) {
    const FieldRef field = node.listed_field(i);
    if (!is_ignored(*field)) r.set(names[i], *field);
  }
  return r;
}

Map result_replacement(const results::TestResult& result) {
  Map r{{"value", Value(result.value())}};
  if (!result.reason().empty()) r.set("reason", result.reason());
  if (!result.data().empty()) r.set("data", result.data());
  return r;
}

Map tally_replacement(const results::ResultCounter& tally) {
  Map r = tally.data();
  r.set("total", tally.total());
  r.set("success_rate", tally.success_rate());
  return r;
}

// The kind, and for objects and errors their type, as the refusal names them.
std::string described(const Value& obj) {
  std::string what = std::string("a value of kind '") + obj.kind_name() + "'";
  if (obj.is_node() || obj.is_opaque()) what += " (" + obj.as_object()->type_name() + ")";
  return what;
}

}  // namespace

Value JSONDumper::default_(const Value& obj) {
  Value replacement;
  switch (obj.kind()) {
    case Kind::Node: replacement = node_replacement(node_of(obj)); break;
    case Kind::Result: replacement = result_replacement(obj.as_result()); break;
    case Kind::Tally: replacement = tally_replacement(obj.as_tally()); break;
    case Kind::DateTime: replacement = obj.as_datetime().to_text(); break;
    case Kind::Error: replacement = obj.to_repr(); break;
    default: throw SerializationError("cannot write " + described(obj) + " as JSON");
  }
  if (!replacement.truthy())
    throw SerializationError("cannot write " + described(obj) + " as JSON: its replacement is empty");
  return replacement;
}

}  // namespace morvi::reporter::trialkit
