#pragma once
// Members shared by the objects of the legacy report model: times, cross-references, log-file
// references, identifiers, results, run information and result summaries.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "morvi/datetime.hpp"
#include "morvi/results.hpp"
#include "morvi/value.hpp"
#include "morvi/zorbel/xml.hpp"

#pragma GCC visibility push(default)
namespace morvi::zorbel {

// A time stamp, or none.
using Time = std::optional<DateTime>;

// Start and stop time, and the run time in whole seconds once both are known.
struct Timed {
  Time starttime;
  Time stoptime;
  std::optional<std::int64_t> runtime;
};

// Where in the test script an object was defined.
struct Xref {
  Value file;
  Value line;
};

// The object's share of a log file: the file's path and items such as "begin" and "size".
struct LogFile {
  Value filepath;
  Map attrs;
};

// The identity of a testcase or a common subsection: items such as "name", and its value.
struct Identifier {
  Map attrs;
  Value idtypevalue;
};

struct Result {
  // The result's name ("passed", "failed", ...); empty until one is given.
  std::string value;
};

// Diagnostics collected for one object, in the order given.
class RunInfo {
 public:
  struct Args {
    std::string diag;
  };
  // Records one diagnostic.
  void set_args(Args args) { diags_.push_back(std::move(args.diag)); }
  const std::vector<std::string>& diags() const noexcept { return diags_; }

 private:
  std::vector<std::string> diags_;
};

// Result counts of a job or a test script.
class Summary {
 public:
  // Merges a tally: each count given replaces the count of that name. Takes a result tally or
  // a map of name to whole number; none leaves the summary unchanged. TypeError otherwise.
  void update(const Value& tally);
  const results::ResultCounter& counts() const noexcept { return counts_; }

  // Appends the `summary` element (total, success rate and one `result` per count) to `root`.
  void generate_resultsonly_dom(const xml::Element& root) const;

 private:
  results::ResultCounter counts_;
};

}  // namespace morvi::zorbel
#pragma GCC visibility pop
