#pragma once
// The XML report writer. MarkFolio copies a finished report tree into the legacy report model
// and writes the two XML files other services read:
//   logsdir + "/ResultsDetails.xml"  the full results, rendered by the legacy model;
//   logsdir + "/ResultsSummary.xml"  a short job summary built here.
// Both are written whole or not at all (a temporary file in the same folder, then a rename).
// When the details document cannot be parsed back or written, its raw bytes go to
// logsdir + "/xml_rough_string" and the error is raised again.
//
// The report tree is read through its fields only. Steps may nest to the depth the legacy
// model's element trees allow (zorbel::xml::kMaxDepth, 2000 levels of XML): 1993 levels of
// steps below a testcase section or common subsection when their extra data is flat; each
// level of nesting in a step's extra data takes one of those. A deeper job is refused with an
// ArgumentError naming the limit, before any file is written.
#include <string>

#include "morvi/reporter/markfolio/escape.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/value.hpp"
#include "morvi/zorbel/testscript.hpp"
#include "morvi/zorbel/trialkit.hpp"
#include "morvi/zorbel/zorbel_top.hpp"

#pragma GCC visibility push(default)
namespace morvi::reporter::markfolio {

using Node = trialkit::ReportObjectBase;

class MarkFolio {
 public:
  // `trialkit` is borrowed: it must outlive this object and is never changed here.
  MarkFolio(std::string logsdir, const trialkit::TrialKit& trialkit);

  // Maps the tree into a fresh legacy trialkit and writes both files. `client` and `kwargs`
  // are accepted for the framework's calling convention and not used.
  void generate_xml(const Value& client, const Value& kwargs);

  // Job, job execution and test scripts. Each fills the legacy object from the report node,
  // goes on to the next level and returns the legacy object it was given.
  zorbel::TrialKit& _handle_trialkit(zorbel::TrialKit& legacy, const Node& trialkit);
  zorbel::JobExecution& _handle_jobexecution(zorbel::JobExecution& legacy, const Node& trialkit);
  zorbel::TestScript& _handle_testscript(zorbel::TestScript& legacy, const Node& task);

  // Sections. Each fills the legacy object, then creates a legacy child for every child
  // section and fills it, depth first (walked with a work list, not by recursion).
  zorbel::TestSection& _handle_commonsection(zorbel::TestSection& legacy, const Node& section);
  zorbel::TestResult& _handle_testcase(zorbel::TestResult& legacy, const Node& section);
  zorbel::TestSection& _handle_testsection(zorbel::TestSection& legacy, const Node& section);
  zorbel::CommonSubSection& _handle_subsection(zorbel::CommonSubSection& legacy,
                                               const Node& section);
  zorbel::TestStep& _handle_step(zorbel::TestStep& legacy, const Node& section);

  zorbel::Zorbel zorbel;
  std::string logsdir;
  const trialkit::TrialKit& _trialkit;
};

}  // namespace morvi::reporter::markfolio
#pragma GCC visibility pop
