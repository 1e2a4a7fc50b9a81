#pragma once
// The reporter client: where the results explorer fetches the records of a report from. A
// record is a map of one node's fields; under "tasks" and "sections" it holds the identifiers
// of the node's children, in order, not the children themselves.
#include "morvi/value.hpp"

#pragma GCC visibility push(default)
namespace morvi::reporter::client {

class ReporterClient {
 public:
  virtual ~ReporterClient() = default;

  // The record of the top node of the report.
  virtual Value get_trialkit() = 0;
  // The record of the node reached by following `id_list` from the top node, one child
  // identifier per level; an empty record when no node is there.
  virtual Value get_section(const List& id_list) = 0;
};

}  // namespace morvi::reporter::client
#pragma GCC visibility pop
