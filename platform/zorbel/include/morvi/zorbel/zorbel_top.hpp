#pragma once
// Zorbel: the top of the legacy report model. Holds the legacy trialkit and renders the
// details document from it.
#include <memory>

#include "morvi/zorbel/trialkit.hpp"
#include "morvi/zorbel/xml.hpp"

#pragma GCC visibility push(default)
namespace morvi::zorbel {

// The layout of the details document, on its root as `formatVersion`: a reader checks it to
// tell a layout it knows from a changed one.
inline constexpr const char* kDetailsFormatVersion = "1.0";

class Zorbel {
 public:
  // The details document: root `trialKit` with its format version, then the job execution with every test script and
  // everything below it. ArgumentError when no trialkit is set or the tree nests deeper than
  // xml::kMaxDepth.
  xml::Document generate_dom() const;
  // The compact form of that document (xml::to_bytes of generate_dom()), written as it is
  // rendered, with no element tree held: the same errors, and the same bytes.
  utils::DocumentBuffer generate_bytes() const;
  // The same bytes handed to `sink` in pieces of about `piece` bytes, as a TextWriter with a
  // sink hands them, so that the whole text is never held.
  void generate_bytes(const xml::TextWriter::Sink& sink, std::size_t piece) const;

  std::unique_ptr<TrialKit> trialkit;
};

}  // namespace morvi::zorbel
#pragma GCC visibility pop
