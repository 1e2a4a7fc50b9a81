#pragma once
// Merging the results documents of the shards of one job into the document of the whole job.
#include <memory>
#include <string>
#include <vector>

#include "morvi/reporter/trialkit.hpp"

#pragma GCC visibility push(default)
namespace morvi::service::merge {

struct MergeOptions {
  // A later file's task, plugin or testcase with the id of an earlier one replaces it, the
  // earlier attempt kept under the new node's extra as "previous_attempts". Without it a
  // task or plugin id met in two files is an error.
  bool rerun = false;
};

// Reads the results files `inputs` in order and returns the job they make together: the
// first file's job fields, every file's tasks and job plugins in file order, the job's times
// spanning the files', `totaltasks` summed, and the job's tallies, result and health rolled
// up anew from its tasks. ParseError naming the file (and the position or node) for a file
// that is not a valid results document, a format version that differs from the first
// file's, or a task or plugin id already met; std::system_error for a file that cannot be
// read.
std::shared_ptr<reporter::trialkit::TrialKit> merge_results(const std::vector<std::string>& inputs,
                                                            const MergeOptions& options = {});

// merge_results, written as a results JSON document to `output`: to a temporary file in the
// same folder first, renamed over `output` only when complete, so a failure leaves `output`
// as it was.
void merge_files(const std::vector<std::string>& inputs, const std::string& output,
                 const MergeOptions& options = {});

}  // namespace morvi::service::merge
#pragma GCC visibility pop
