#pragma once
// A results JSON document as one self-contained HTML page: no network, no outside scripts or
// fonts, readable from file://. The tree's data is embedded compactly and drawn by the page's
// own script as the reader expands it, so a job of a million nodes opens in seconds.
#include <cstddef>
#include <string>

#pragma GCC visibility push(default)
namespace morvi::service::html_report {

struct ReportCounts {
  std::size_t nodes = 0;
  std::size_t failures = 0;  // failed, errored and aborted nodes
  std::size_t bytes = 0;     // size of the page written
};

// Reads the results file `input` as a stream and writes the page `output` (through a temporary
// file in the same folder, renamed when complete). ParseError naming the file and byte position
// for input that is not a results document; nothing is written then.
ReportCounts write_html_report(const std::string& input, const std::string& output);

}  // namespace morvi::service::html_report
#pragma GCC visibility pop
