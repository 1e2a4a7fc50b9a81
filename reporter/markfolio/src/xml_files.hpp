#pragma once
// Parsing the rough XML bytes back, and writing the report files.
#include <string>
#include <string_view>

#include "morvi/zorbel/xml.hpp"

namespace morvi::reporter::markfolio::xml_files {

// Parses UTF-8 XML bytes of any size. Options: XML_PARSE_HUGE lifts libxml2's limits of 256
// levels of nesting and 10 MB per text node (a long detail is data, not an attack: the bytes
// come from our own element tree, whose depth is bounded by zorbel::xml::kMaxDepth);
// XML_PARSE_NONET, and no entity substitution or DTD loading, so nothing is ever fetched or
// expanded; XML_PARSE_COMPACT to keep short texts inside their nodes; errors are not printed
// but raised as ParseError naming `what`, the line and the column.
zorbel::xml::DocPtr parse(std::string_view bytes, std::string_view what);

// Replaces `path` with `content` whole or not at all: the bytes go to a new temporary file
// beside it, which is then renamed over `path`; on failure the temporary file is removed and a
// std::system_error naming the file is raised. Permissions follow the process umask.
void write_whole(const std::string& path, std::string_view content);

// Creates or truncates `path` and writes `content` straight into it.
void write_direct(const std::string& path, std::string_view content);

}  // namespace morvi::reporter::markfolio::xml_files
