#pragma once
// What the page needs of a results document, gathered in one streaming pass: a compact record
// per node in document order, the texts they share, and the few larger pieces the page shows
// up front (the job, its tasks' tallies, the failures, the slowest testcases).
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

namespace morvi::service::html_report {

// Distinct texts, each kept once and named by its position.
class Interner {
 public:
  std::int64_t add(const std::string& text);
  const std::vector<const std::string*>& texts() const { return order_; }

 private:
  std::unordered_map<std::string, std::int64_t> index_;
  std::vector<const std::string*> order_;
};

// A result's position in RESULT_NAMES; NO_RESULT for a node that holds none.
inline constexpr const char* RESULT_NAMES[] = {"passed", "passx",   "failed", "errored",
                                               "aborted", "blocked", "skipped"};
inline constexpr int NO_RESULT = 7;

struct NodeRecord {
  std::int64_t type = -1;     // string index
  std::int64_t id = -1;       // string index
  std::int64_t name = -1;     // string index, -1 when the name is the id
  std::int64_t fullid = -1;   // string index, -1 when the page can derive it from the ids
  std::int64_t fields = -1;   // index into the field records, -1 for none
  std::int64_t runtime_us = -1;
  std::uint16_t depth = 0;
  std::uint8_t result = NO_RESULT;
};

struct ReportData {
  std::string version;
  std::vector<NodeRecord> nodes;
  Interner strings;
  Interner fields;                     // each a JSON object text
  std::string job;                     // JSON object text: the header's fields
  std::vector<std::string> tasks;      // JSON array texts: [node, summary]
  // (node, JSON array text [node, result, reason, data, details, logs, logfile, starttime]),
  // in document order
  std::vector<std::pair<std::size_t, std::string>> failures;
  std::vector<std::pair<std::int64_t, std::size_t>> slowest;  // (runtime, node), slowest first
};

inline constexpr std::size_t SLOWEST_SHOWN = 25;

// Reads the results document from `in`; ParseError naming `origin` when it is not one.
ReportData collect(std::FILE* in, const std::string& origin);

}  // namespace morvi::service::html_report
