#pragma once
// Reading results JSON documents from text and from files.
#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace morvi::reporter::schema {

// What read_text_file reads at most unless told otherwise: 1 GiB.
inline constexpr std::size_t DEFAULT_MAX_READ_BYTES = std::size_t{1} << 30;

// The whole content of the file at `path`; "-" reads standard input. Pipes and devices are
// read to their end, so process substitution works. std::system_error naming the path when it
// cannot be opened or read, and std::errc::file_too_large when it holds more than `max_bytes`
// (an endless input such as /dev/zero is refused once the limit is passed).
std::string read_text_file(const std::string& path,
                           std::size_t max_bytes = DEFAULT_MAX_READ_BYTES);

// Parses a results JSON document. NaN, Infinity and -Infinity are read as the non-finite reals
// the results writer writes them for. Text that is not JSON, that nests deeper than
// MAX_DEPTH, holds a NUL byte outside a string or a number too large for a double, is a
// ParseError whose message starts with "<origin>: line L, column C: ".
nlohmann::json parse_results_json(std::string_view text, std::string_view origin);
// The same, keeping every object's members in the order the document gives them.
nlohmann::ordered_json parse_results_json_ordered(std::string_view text, std::string_view origin);

}  // namespace morvi::reporter::schema
