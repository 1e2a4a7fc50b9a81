#pragma once
// The results schema checker: tells whether a parsed results JSON document is complete and
// valid against the results schema (results.schema.json, documented in
// docs/results-schema.md).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "morvi/results_depth.hpp"

#pragma GCC visibility push(default)
namespace morvi::reporter::schema {

// Deepest nesting of arrays and objects a results document may have (the top object is level
// 1): as deep as the results writer writes. Validation and conversion walk documents
// recursively, on a stack sized for this depth, so deeper ones are refused before those steps
// see them.
inline constexpr std::size_t MAX_DEPTH = MAX_RESULTS_NESTING;

// The results schema, a JSON Schema (draft 7) document, as text.
std::string_view results_schema_text();

// One way a document fails the results schema.
struct Problem {
  std::string pointer;  // JSON pointer of the value at fault; "" for the whole document
  std::string message;  // what is wrong, quoting the value when it is a scalar
};

// The problems of a document: the first `max_problems` of them, and how many more there are.
// A whole number written as a real (2.0, 1e2) counts as an integer, as JSON Schema has it.
struct Findings {
  std::vector<Problem> problems;
  std::size_t not_shown = 0;
  bool empty() const noexcept { return problems.empty() && not_shown == 0; }
};
Findings find_problems(const nlohmann::json& document, std::size_t max_problems = 200);

// The findings as lines of text: "<pointer>: <message>" ("(root)" for the whole document),
// every piece taken from the document printed escaped, so none can break or forge a line;
// a closing line counts the problems not shown.
std::string problem_lines(const Findings& findings);

// None when `document` is a complete and valid results document. Otherwise problem_lines of
// its findings.
std::optional<std::string> validate(const nlohmann::json& document);

}  // namespace morvi::reporter::schema
#pragma GCC visibility pop
