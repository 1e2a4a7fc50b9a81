#pragma once
// The page: its fixed parts (style, skeleton, script) around the embedded data.
#include <cstdio>
#include <string>

#include "collect.hpp"

namespace morvi::service::html_report {

// Writes the whole page for `data` to `out`; std::system_error when a write fails.
void write_page(std::FILE* out, const ReportData& data, const std::string& source_name);

}  // namespace morvi::service::html_report
