#pragma once
// Validating results JSON text, with a quick check that settles the common case of a valid
// document without building an nlohmann document or running the full schema validator.
#include <optional>
#include <string>
#include <string_view>

#include "morvi/reporter/schema.hpp"

#pragma GCC visibility push(default)
namespace morvi::reporter::schema {

// True only when `text` is certainly a valid results document: strict JSON (no NaN or
// Infinity), nested no deeper than MAX_DEPTH, meeting every constraint of the results schema.
// False means "not shown valid": the text may be invalid, or use something the quick check
// leaves to the full validator. The text is read in place in one pass, with no parsed form
// of it held.
bool quickly_valid(std::string_view text);

// The same answer as validate(parse_results_json(text, origin)), including its ParseError:
// none for a valid document, otherwise the problems found. Valid documents take the quick
// check alone; every other document goes through the full parser and validator.
std::optional<std::string> validate_results_text(std::string_view text, std::string_view origin);
// The same check, its problems as find_problems gives them.
Findings check_results_text(std::string_view text, std::string_view origin);

}  // namespace morvi::reporter::schema
#pragma GCC visibility pop
