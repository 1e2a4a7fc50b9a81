#include "morvi/reporter/markfolio.hpp"

#include <exception>
#include <string>
#include <utility>

#include "morvi/zorbel/text_form.hpp"
#include "morvi/zorbel/xml.hpp"
#include "pretty_print.hpp"
#include "xml_files.hpp"

namespace morvi::reporter::markfolio {
namespace {

constexpr std::string_view kIndent = "  ";

std::string pretty(const std::string& rough, std::string_view what) {
  return pretty_print(rough, kIndent, what);
}

std::string text_or_empty(const Value& value) {
  return value.truthy() ? zorbel::xml_text(value) : std::string();
}

}  // namespace

MarkFolio::MarkFolio(std::string logsdir, const trialkit::TrialKit& trialkit)
    : logsdir(std::move(logsdir)), _trialkit(trialkit) {}

void MarkFolio::generate_xml(const Value& /*client*/, const Value& /*kwargs*/) {
  zorbel.trialkit = std::make_unique<zorbel::TrialKit>();
  _handle_trialkit(*zorbel.trialkit, _trialkit);
  const std::string rough = zorbel::xml::to_bytes(zorbel.generate_dom());
  try {
    xml_files::write_whole(logsdir + "/ResultsDetails.xml", pretty(rough, "details"));
  } catch (const std::exception&) {
    xml_files::write_direct(logsdir + "/xml_rough_string", rough);
    throw;
  }

  const zorbel::TrialKit& legacy = *zorbel.trialkit;
  const zorbel::xml::Document summary("jobSummary");
  const zorbel::xml::Element root = summary.root();
  root.set_attribute("archiveFilename", text_or_empty(legacy.archivefile));
  root.set_attribute("oxaTreePath", text_or_empty(legacy.initinfo.oxa.path));
  root.append_child("jobName").set_text(zorbel::xml_text(legacy.initinfo.name));
  root.append_child("image").set_text(zorbel::xml_text(legacy.initinfo.image));
  legacy.summary.generate_resultsonly_dom(root);
  for (std::string_view member : {"starttime", "stoptime", "runtime"}) {
    legacy.generate_simple_elt_dom(root, member);
  }
  for (std::string_view member : {"testbed", "release", "submitter", "user"}) {
    legacy.initinfo.generate_simple_elt_dom(root, member);
  }
  root.append_child("debugProfile").set_text("0");
  if (legacy.initinfo.hosts.size() > 0) {
    legacy.initinfo.hosts.generate_dom(root);
  } else {
    root.append_child("host");
  }
  xml_files::write_whole(logsdir + "/ResultsSummary.xml",
                         pretty(zorbel::xml::to_bytes(summary), "summary"));
}

}  // namespace morvi::reporter::markfolio
