#pragma once
// Console views of a report tree: one line per node, and the job's tallies.
#include <ostream>

#include "morvi/reporter/trialkit.hpp"

namespace morvi::examples {

// One line per node, depth first, indented by depth: full id, type, result, start and stop
// time, run time, and the node's share of its log file when it has one.
void print_tree(std::ostream& out, const reporter::trialkit::ReportObjectBase& root);

// The job's result, its tallies of task and plugin results and of health outcomes, its
// planned task count and weight.
void print_tallies(std::ostream& out, const reporter::trialkit::TrialKit& job);

}  // namespace morvi::examples
