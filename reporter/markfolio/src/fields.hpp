#pragma once
// Reading report-node fields for the mapping handlers, with errors that name the node.
#include <string>
#include <string_view>

#include "morvi/reporter/markfolio.hpp"
#include "morvi/zorbel/parts.hpp"

namespace morvi::reporter::markfolio::fields {

// "Section t1.tc1.step", for error messages.
std::string describe(const Node& node);

// A field the mapping cannot do without; LookupError naming the node when it is absent.
trialkit::FieldRef required(const Node& node, std::string_view name);

// True when the field exists and is truthy.
bool present(const trialkit::FieldRef& field);

// An optional stored map field (xref, logs), borrowed from the node: empty when absent or
// none, TypeError when not a map.
const Map& optional_map(const Node& node, std::string_view name);

// The entry `key` of `map`, or `fallback` when the map lacks it.
Value entry_or(const Map& map, std::string_view key, Value fallback);

// escape() of a text value; TypeError naming the node and the field for anything else.
std::string escaped(const Node& node, std::string_view what, const Value& value);

// Start and stop time copied; the run time in whole seconds (microseconds dropped from both
// times first) when both are set.
void copy_times(zorbel::Timed& legacy, const Node& node);

}  // namespace morvi::reporter::markfolio::fields
