#pragma once
// Text made safe for an XML 1.0 document.
#include <cstddef>
#include <string>
#include <string_view>

namespace morvi::service::junit {

// Appends `text` to `out` as XML character data: markup characters as entities, a carriage
// return as a character reference (a reader's end-of-line handling would turn it into a line
// feed); bytes XML cannot hold (control characters, bytes that are not UTF-8, U+FFFE and
// U+FFFF) as a visible \xNN per byte, never dropped.
void append_xml_text(std::string& out, std::string_view text);

// As append_xml_text, for an attribute value: tabs and line ends too are character
// references, which a reader's attribute-value normalisation keeps, where it folds raw ones
// into spaces.
void append_xml_attribute(std::string& out, std::string_view text);

// The longest prefix of `text` of at most `limit` bytes that ends on a UTF-8 boundary.
std::size_t utf8_cut(std::string_view text, std::size_t limit);

}  // namespace morvi::service::junit
