#include "morvi/reporter/markfolio.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <functional>
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
// The rough bytes go to the readers in pieces of about this size.
constexpr std::size_t kPiece = std::size_t{1} << 20;

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
[[noreturn]] void keep_rough_bytes(const std::string& path, const Pieces& rough,
                                   const std::exception& failure) {
  try {
    utils::AtomicFile file(path, utils::LinkTarget::replace);
    rough([&file](std::string_view piece) { file.write(piece); });
    file.commit();
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
  // The rough bytes are never held whole: each reader, and the fallback, has them rendered
  // again and takes them a piece at a time. An error of the rendering itself propagates as it
  // is, before any file is in place.
  bool rendered = false;
  bool rendering_failed = false;
  const Pieces rough = [&](const std::function<void(std::string_view)>& use) {
    try {
      zorbel.generate_bytes(use, kPiece);
    } catch (...) {
      rendering_failed = true;
      throw;
    }
    rendered = true;
  };
  try {
    utils::AtomicFile file(logsdir + "/ResultsDetails.xml");
    pretty_print_pieces(rough, kIndent, "details",
                        {[&file](std::string_view piece) { file.write(piece); },
                         [&file] { start_again(file); }});
    file.commit();
  } catch (const std::exception& failure) {
    if (rendering_failed) throw;
    // The details file could not even be started: the rendering's own errors come first.
    if (!rendered) zorbel.generate_bytes([](std::string_view) {}, kPiece);
    keep_rough_bytes(logsdir + "/xml_rough_string", rough, failure);
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
