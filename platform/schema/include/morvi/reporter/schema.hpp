#pragma once
// The results schema checker: tells whether a parsed results JSON document is complete and
// valid against the results schema (results.schema.json, documented in
// docs/results-schema.md).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace morvi::reporter::schema {

// Deepest nesting of arrays and objects a results document may have (the top object is level
// 1). Validation and conversion walk documents recursively, so deeper ones are refused before
// those steps see them. A report tree needs two levels per generation of nodes.
inline constexpr std::size_t MAX_DEPTH = 1000;

// The results schema, a JSON Schema (draft 7) document, as text.
std::string_view results_schema_text();

// None when `document` is a complete and valid results document. Otherwise the problems found,
// one per line, each starting with the JSON pointer of the value at fault ("(root)" for the
// whole document).
std::optional<std::string> validate(const nlohmann::json& document);

}  // namespace morvi::reporter::schema
