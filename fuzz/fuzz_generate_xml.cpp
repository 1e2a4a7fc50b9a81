// generate_xml on report trees whose texts come from the input: either both reports are
// written and parse, or the tree is refused before anything is written. Whatever bytes a text
// holds, the details never fall back to the raw bytes. Never a crash.
#include <libxml/parser.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz_input.hpp"
#include "morvi/reporter/markfolio.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/utils/utils.hpp"

namespace {

namespace fs = std::filesystem;
using namespace morvi::reporter::trialkit;
using morvi::Map;
using morvi::Value;

const fs::path& scratch_dir() {
  static const fs::path dir = [] {
    std::string tmpl = (fs::temp_directory_path() / "morvi-fuzz-xml-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    return fs::path(tmpl);
  }();
  return dir;
}

bool parses(const fs::path& file) {
  xmlDocPtr doc = xmlReadFile(file.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_HUGE);
  if (!doc) return false;
  xmlFreeDoc(doc);
  return true;
}

// Starts, fills and stops `node` with texts from the input.
void run_node(ReportObjectBase& node, morvi::fuzz::FuzzInput& in) {
  node.start();
  Map data{{"description", in.text()}, {"xref", Map{{"file", in.text()}, {"line", Value(in.integer())}}}};
  if (in.byte() % 2) data.set(in.text(), in.value(2, false));
  node.update(data);
  node.add_detail(in.text());
  static const morvi::results::TestResult* kResults[] = {&morvi::results::Passed,
                                                         &morvi::results::Failed,
                                                         &morvi::results::Errored};
  node.stop(Map{{"result", *kResults[in.byte() % 3]}});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  morvi::utils::ScopedClock clock([] { return morvi::DateTime(2026, 1, 2, 3, 4, 5, 0, 0); });
  morvi::fuzz::FuzzInput in(data, size);
  auto job = TrialKit::create(in.text(), 1);
  job->start(Map{{"suite_name", in.text()}, {"host", in.text()}, {"submitter", in.text()}});
  auto task = job->add_task(in.text(), 1);
  task->start(Map{{"description", in.text()}});
  static const char* kTypes[] = {"CommonSetup", "Testcase", "CommonCleanup"};
  for (int i = 0; i < 3 && !in.empty(); ++i) {
    auto top = task->add_section(in.text(), i, kTypes[in.byte() % 3]);
    auto child = top->add_section(in.text(), 1, in.text());
    auto step = child->add_section(in.text(), 1, "Step");
    for (ReportObjectBase* n : {static_cast<ReportObjectBase*>(top.get()),
                                static_cast<ReportObjectBase*>(child.get()),
                                static_cast<ReportObjectBase*>(step.get())})
      run_node(*n, in);
  }
  task->stop();
  job->stop(Map{{"num_tasks", 1}});

  const fs::path dir = scratch_dir();
  for (const char* name : {"ResultsDetails.xml", "ResultsSummary.xml", "xml_rough_string"})
    fs::remove(dir / name);
  morvi::reporter::markfolio::MarkFolio folio(dir.string(), *job);
  std::string raised;
  try {
    folio.generate_xml(Value(), Value(Map{}));
  } catch (const std::exception& e) {
    raised = e.what();
    if (raised.empty()) raised = "(an error without a message)";
  }
  if (!raised.empty()) {
    // Only a tree that cannot be mapped at all (a value of the wrong kind) is refused, and then
    // nothing is written.
    if (fs::exists(dir / "ResultsDetails.xml") || fs::exists(dir / "ResultsSummary.xml") ||
        fs::exists(dir / "xml_rough_string")) {
      std::fprintf(stderr, "generate_xml raised, leaving files behind: %s\n", raised.c_str());
      std::abort();
    }
  } else {
    if (fs::exists(dir / "xml_rough_string")) std::abort();
    if (!parses(dir / "ResultsDetails.xml") || !parses(dir / "ResultsSummary.xml")) std::abort();
  }
  return 0;
}
