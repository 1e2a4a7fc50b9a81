#pragma once
// Report nodes rebuilt from their results JSON form, so that the package's own roll-up and
// writers work on them as on the nodes the runner built.
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "morvi/datetime.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/value.hpp"

namespace morvi::service::merge {

using Json = nlohmann::ordered_json;

// Objects become maps (member order kept), arrays lists, numbers ints or floats. The reader
// refuses documents nested deeper than the schema's limit, which bounds the recursion.
Value plain_value(const Json& json);

// A field's value as the node held it: results, tallies and start and stop times come back as
// result values, tallies and date-times (their JSON forms are written the same way, and the
// YAML form tells a date-time from a text), the rest as plain values.
Value field_value(std::string_view field, const Json& json);

// Sets every member of the node object `json` on `node` as a field, except the identity
// given at construction (id, type), the derived ones (fullid, idlist, a trialkit's result),
// the child lists and the names in `skip`. ParseError naming `origin` and the node for a
// member the node cannot take.
void set_fields(reporter::trialkit::ReportObjectBase& node, const Json& json,
                std::string_view origin, std::span<const std::string_view> skip = {});

// Adds the node object `json` below `parent` with its whole subtree, every node of the kind
// its fields tell (a task holds a pluginsummary, a section a health_summary; the others are
// plugins), and returns it. Works with an explicit stack, so depth costs no call depth.
reporter::trialkit::ReportObjectBase& build_child(reporter::trialkit::ReportObjectBase& parent,
                                                  const Json& json, std::string_view origin);

// "YYYY-MM-DD HH:MM:SS[.ffffff][+HH:MM]", the text form of a date-time; nothing for any other
// text.
std::optional<DateTime> parse_datetime(std::string_view text);

}  // namespace morvi::service::merge
