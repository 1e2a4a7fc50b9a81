#pragma once
// Writing the report files.
#include <string>
#include <string_view>

namespace morvi::reporter::markfolio::xml_files {

// Replaces `path` with `content` whole or not at all: the bytes go to a new temporary file
// beside it, which is then renamed over `path`; on failure the temporary file is removed and a
// std::system_error naming the file is raised. Permissions follow the process umask.
void write_whole(const std::string& path, std::string_view content);

// Creates or truncates `path` and writes `content` straight into it.
void write_direct(const std::string& path, std::string_view content);

}  // namespace morvi::reporter::markfolio::xml_files
