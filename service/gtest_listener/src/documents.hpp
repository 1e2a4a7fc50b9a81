#pragma once
// The files a finished run leaves in its folder.
#include <filesystem>
#include <iosfwd>

#include "morvi/reporter/trialkit.hpp"

namespace morvi::service::gtest_listener {

// Writes results.json, results.yaml, ResultsDetails.xml, ResultsSummary.xml and junit.xml into
// `dir` (made when missing), each whole or not at all. A file that cannot be written is one
// line on `errors` naming it; the others are still written where they can be.
void write_all(const std::filesystem::path& dir, const reporter::trialkit::TrialKit& trialkit,
               std::ostream& errors);

}  // namespace morvi::service::gtest_listener
