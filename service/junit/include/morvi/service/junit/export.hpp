#pragma once
// Export of a results JSON document as a JUnit XML file, the junit-4 form that CI systems read.
#include <cstddef>
#include <string>
#include <vector>

#pragma GCC visibility push(default)
namespace morvi::service::junit {

struct ExportOptions {
  // Each testcase's system-out and details keep at most this many bytes; the rest is cut on a
  // UTF-8 boundary and a note says how much was cut.
  std::size_t max_output_bytes = 100 * 1024;
  // At most this many testcases per file, 0 for one file of them all. Split files are named
  // after the output path with "-1", "-2", ... before its extension; a suite that spans files
  // keeps its name in each, with that file's counts.
  std::size_t split = 0;
};

// Tallies of what was written, for the caller's summary line.
struct ExportCounts {
  std::size_t suites = 0;
  std::size_t tests = 0;
  std::size_t failures = 0;
  std::size_t errors = 0;
  std::size_t skipped = 0;
  std::vector<std::string> files;  // the paths written, in order
};

// Reads the results file `input` as a stream and writes the JUnit file `output`, or the files
// it is split into (each through a temporary file in the same folder, all renamed when every
// one is complete). ParseError naming the file and byte position for input that is not a
// results document; nothing is written then.
ExportCounts export_junit(const std::string& input, const std::string& output,
                          const ExportOptions& options = {});

}  // namespace morvi::service::junit
#pragma GCC visibility pop
