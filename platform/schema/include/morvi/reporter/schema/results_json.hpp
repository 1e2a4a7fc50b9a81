#pragma once
// Reading results JSON documents from text and from files.
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace morvi::reporter::schema {

// The whole content of the file at `path`. std::system_error naming the path when it cannot be
// opened or read.
std::string read_text_file(const std::string& path);

// Parses a results JSON document. NaN, Infinity and -Infinity are read as the non-finite reals
// the results writer writes them for. Text that is not JSON, or that nests deeper than
// MAX_DEPTH, is a ParseError whose message starts with "<origin>: line L, column C: ".
nlohmann::json parse_results_json(std::string_view text, std::string_view origin);
// The same, keeping every object's members in the order the document gives them.
nlohmann::ordered_json parse_results_json_ordered(std::string_view text, std::string_view origin);

}  // namespace morvi::reporter::schema
