#include "morvi/zorbel/zorbel_top.hpp"

#include "morvi/errors.hpp"

namespace morvi::zorbel {
namespace {

void render_details(const TrialKit& trialkit, const xml::Element& root) {
  root.set_attribute("formatVersion", kDetailsFormatVersion);
  trialkit.render_fields(root);
  render_entries(trialkit.jobexecution, root.append_child("jobExecution"));
}

}  // namespace

xml::Document Zorbel::generate_dom() const {
  if (!trialkit) throw ArgumentError("the legacy report has no trialkit to render");
  xml::Document document("trialKit");
  render_details(*trialkit, document.root());
  return document;
}

utils::DocumentBuffer Zorbel::generate_bytes() const {
  if (!trialkit) throw ArgumentError("the legacy report has no trialkit to render");
  xml::TextWriter writer("trialKit");
  render_details(*trialkit, writer.root());
  return writer.finish();
}

void Zorbel::generate_bytes(const xml::TextWriter::Sink& sink, std::size_t piece) const {
  if (!trialkit) throw ArgumentError("the legacy report has no trialkit to render");
  xml::TextWriter writer("trialKit", sink, piece);
  render_details(*trialkit, writer.root());
  writer.finish();
}

}  // namespace morvi::zorbel
