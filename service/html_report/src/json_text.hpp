#pragma once
// JSON texts safe to embed in an HTML <script> block: every '<', '>' and '&' is written as a
// \u escape, so neither "</script>" nor "<!--" can appear, and the block ends only where the
// page ends it.
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace morvi::service::html_report {

// `text` as a quoted JSON string, bytes that are not UTF-8 replaced by U+FFFD.
void append_json_string(std::string& out, std::string_view text);

// `value` as compact JSON text under the same rules.
std::string embeddable_json(const nlohmann::json& value);

// What a reader sees of an identifier or name: a text as it is, anything else as JSON.
std::string display_text(const nlohmann::json& value);

// `text` for an HTML text node or attribute value, control characters replaced by U+FFFD.
std::string html_escaped(std::string_view text);

}  // namespace morvi::service::html_report
