#include "documents.hpp"

#include <exception>
#include <ostream>
#include <string>

#include "morvi/reporter/markfolio.hpp"
#include "morvi/reporter/trialkit/json.hpp"
#include "morvi/reporter/trialkit/yaml.hpp"
#include "morvi/service/junit/export.hpp"

namespace morvi::service::gtest_listener {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrefix = "morvi gtest listener: ";

// Runs one writing step; a fault is reported, and false.
template <class Step>
bool attempt(const fs::path& file, std::ostream& errors, Step&& step) {
  try {
    step();
    return true;
  } catch (const std::exception& e) {
    errors << kPrefix << "cannot write " << file.string() << ": " << e.what() << '\n';
    return false;
  }
}

}  // namespace

void write_all(const fs::path& dir, const reporter::trialkit::TrialKit& trialkit,
               std::ostream& errors) {
  try {
    fs::create_directories(dir);
  } catch (const std::exception& e) {
    errors << kPrefix << "cannot make the folder " << dir.string() << ": " << e.what()
           << "; no report is written\n";
    return;
  }
  const fs::path json = dir / "results.json";
  const bool json_written = attempt(json, errors, [&] { reporter::trialkit::JSONDumper::write_results(trialkit, json.string()); });
  const fs::path yaml = dir / "results.yaml";
  attempt(yaml, errors, [&] { reporter::trialkit::YAMLDumper::write_results(trialkit, yaml.string()); });
  attempt(dir / "ResultsDetails.xml", errors, [&] {
    reporter::markfolio::MarkFolio(dir.string(), trialkit).generate_xml({}, {});
  });
  const fs::path junit_file = dir / "junit.xml";
  if (json_written) {
    attempt(junit_file, errors,
                   [&] { junit::export_junit(json.string(), junit_file.string()); });
  } else {
    errors << kPrefix << "cannot write " << junit_file.string() << ": it is made from "
           << json.string() << '\n';
  }
}

}  // namespace morvi::service::gtest_listener
