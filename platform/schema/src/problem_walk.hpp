#pragma once
// Finding and wording the problems of a parsed document along the compiled schema, in one walk
// whose cost grows with the document's size alone. Internal to the schema library.
#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "compiled_schema.hpp"
#include "morvi/reporter/schema.hpp"

namespace morvi::reporter::schema::quick {

// Appends "/segment" to a JSON pointer, escaping '~' and '/'.
void append_pointer_segment(std::string& pointer, std::string_view segment);

// A problem's wording: `description`, then the value at fault quoted when it is a scalar.
std::string describe(const nlohmann::json& value, std::string description);

// Adds the problems of `document` against `schema` to `findings`, the first `max_problems` in
// full and the rest counted, in the order and wording of the full schema validator. False,
// with `findings` left partly filled, when the walk meets a subschema the compiled form does
// not know. Recurses once per level of the document.
bool walk_problems(const CompiledSchema& schema, const nlohmann::json& document,
                   std::size_t max_problems, Findings& findings);

}  // namespace morvi::reporter::schema::quick
