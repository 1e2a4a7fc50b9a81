#pragma once
// Export of a results JSON document as a JUnit XML file, the junit-4 form that CI systems read.
#include <cstddef>
#include <string>

namespace morvi::service::junit {

struct ExportOptions {
  // Each testcase's system-out and details keep at most this many bytes; the rest is cut on a
  // UTF-8 boundary and a note says how much was cut.
  std::size_t max_output_bytes = 100 * 1024;
};

// Tallies of what was written, for the caller's summary line.
struct ExportCounts {
  std::size_t suites = 0;
  std::size_t tests = 0;
  std::size_t failures = 0;
  std::size_t errors = 0;
  std::size_t skipped = 0;
};

// Reads the results file `input` as a stream and writes the JUnit file `output` (through a
// temporary file in the same folder, renamed when complete). ParseError naming the file and
// byte position for input that is not a results document; nothing is written then.
ExportCounts export_junit(const std::string& input, const std::string& output,
                          const ExportOptions& options = {});

}  // namespace morvi::service::junit
