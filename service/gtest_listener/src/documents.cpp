#include "documents.hpp"

#include <exception>
#include <fstream>
#include <ostream>
#include <string>
#include <system_error>

#include "morvi/reporter/markfolio.hpp"
#include "morvi/reporter/trialkit/json.hpp"
#include "morvi/service/junit/export.hpp"

namespace morvi::service::gtest_listener {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrefix = "morvi gtest listener: ";

// Writes `text` to `path` whole or not at all: a temporary file beside it, then a rename.
void write_whole(const fs::path& path, const std::string& text) {
  const fs::path temporary = path.string() + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      throw std::system_error(std::make_error_code(std::errc::io_error),
                              "cannot write '" + temporary.string() + "'");
    }
  }
  fs::rename(temporary, path);
}

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
  attempt(yaml, errors, [&] { write_whole(yaml, trialkit.dump_yaml()); });
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
