#include "morvi/reporter/markfolio.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <string>
#include <system_error>
#include <utility>

#include "morvi/errors.hpp"
#include "morvi/utils/atomic_file.hpp"
#include "morvi/zorbel/text_form.hpp"
#include "morvi/zorbel/xml.hpp"
#include "pretty_print.hpp"

namespace morvi::reporter::markfolio {
namespace {

constexpr std::string_view kIndent = "  ";

utils::DocumentBuffer pretty(std::string_view rough, std::string_view what) {
  return pretty_print(rough, kIndent, what);
}

// Empties a file being written, for a text that starts again.
void start_again(utils::AtomicFile& file) {
  std::FILE* stream = file.stream();
  if (std::fflush(stream) != 0 || ::ftruncate(::fileno(stream), 0) != 0 ||
      std::fseek(stream, 0, SEEK_SET) != 0) {
    throw std::system_error(errno, std::generic_category(),
                            "cannot start " + file.temporary() + " again");
  }
}

std::string text_or_empty(const Value& value) {
  return value.truthy() ? zorbel::xml_text(value) : std::string();
}

// What a system error says before the text of its code.
std::string without_code_text(const std::system_error& error) {
  std::string text = error.what();
  const std::string tail = ": " + error.code().message();
  if (text.ends_with(tail)) text.resize(text.size() - tail.size());
  return text;
}

// Keeps the raw details bytes when the details report could not be written, then raises
// `failure` again; when they cannot be kept either, one error names both failures. The
// fallback replaces a link at its name rather than writing through it.
[[noreturn]] void keep_rough_bytes(const std::string& path, std::string_view rough,
                                   const std::exception& failure) {
  try {
    utils::write_file_atomically(path, rough, utils::LinkTarget::replace);
  } catch (const std::system_error& also) {
    throw std::system_error(also.code(), std::string(failure.what()) +
                                             "; the raw details could not be kept either: " +
                                             without_code_text(also));
  }
  throw;
}

}  // namespace

MarkFolio::MarkFolio(std::string logsdir, const trialkit::TrialKit& trialkit)
    : logsdir(std::move(logsdir)), _trialkit(trialkit) {}

void MarkFolio::generate_xml(const Value& /*client*/, const Value& /*kwargs*/) {
  // The names are appended to logsdir as they stand: an empty one would write into "/".
  if (logsdir.empty()) {
    throw ArgumentError("generate_xml: logsdir is empty; give the folder the reports go to");
  }
  zorbel.trialkit = std::make_unique<zorbel::TrialKit>();
  _handle_trialkit(*zorbel.trialkit, _trialkit);
  const utils::DocumentBuffer rough = zorbel.generate_bytes();
  try {
    utils::AtomicFile file(logsdir + "/ResultsDetails.xml");
    pretty_print_to(rough.view(), kIndent, "details",
                    {[&file](std::string_view piece) { file.write(piece); },
                     [&file] { start_again(file); }});
    file.commit();
  } catch (const std::exception& failure) {
    keep_rough_bytes(logsdir + "/xml_rough_string", rough.view(), failure);
  }

  const zorbel::TrialKit& legacy = *zorbel.trialkit;
  zorbel::xml::TextWriter summary("jobSummary");
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
  utils::write_file_atomically(logsdir + "/ResultsSummary.xml",
                               pretty(summary.finish().view(), "summary").view());
}

}  // namespace morvi::reporter::markfolio
