#include "fields.hpp"

#include <cmath>

#include "morvi/errors.hpp"

namespace morvi::reporter::markfolio::fields {
namespace {

zorbel::Time time_of(const Node& node, std::string_view name, const Value& value) {
  if (value.is_datetime()) return value.as_datetime();
  if (!value.truthy()) return std::nullopt;
  throw TypeError(describe(node) + ": " + std::string(name) + " is a " + value.kind_name() +
                  ", not a date-time");
}

}  // namespace

std::string describe(const Node& node) {
  return node.type_name() + " " + node.fullid().to_text();
}

trialkit::FieldRef required(const Node& node, std::string_view name) {
  trialkit::FieldRef field = node.field(name);
  if (!field) throw LookupError(describe(node) + " has no field '" + std::string(name) + "'");
  return field;
}

bool present(const trialkit::FieldRef& field) { return field && field->truthy(); }

const Map& optional_map(const Node& node, std::string_view name) {
  static const Map none;
  // Both fields are stored ones, so the reference outlives this read.
  const trialkit::FieldRef field = node.field(name);
  if (!field || field->is_none()) return none;
  if (!field->is_map()) {
    throw TypeError(describe(node) + ": " + std::string(name) + " is a " + field->kind_name() +
                    ", not a map");
  }
  return field->as_map();
}

Value entry_or(const Map& map, std::string_view key, Value fallback) {
  const Value* found = map.find(key);
  return found ? *found : std::move(fallback);
}

std::string escaped(const Node& node, std::string_view what, const Value& value) {
  if (!value.is_text()) {
    throw TypeError("escape takes text, but " + std::string(what) + " of " + describe(node) +
                    " is a " + value.kind_name());
  }
  return escape(value.as_text());
}

void copy_times(zorbel::Timed& legacy, const Node& node) {
  legacy.starttime = time_of(node, "starttime", node.starttime());
  legacy.stoptime = time_of(node, "stoptime", node.stoptime());
  if (legacy.starttime && legacy.stoptime) {
    const double seconds = legacy.stoptime->truncated_to_seconds().seconds_since(
        legacy.starttime->truncated_to_seconds());
    legacy.runtime = std::llround(seconds);
  }
}

}  // namespace morvi::reporter::markfolio::fields
