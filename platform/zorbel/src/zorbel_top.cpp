#include "morvi/zorbel/zorbel_top.hpp"

#include "morvi/errors.hpp"

namespace morvi::zorbel {

xml::Document Zorbel::generate_dom() const {
  if (!trialkit) throw ArgumentError("the legacy report has no trialkit to render");
  xml::Document document("trialKit");
  const xml::Element root = document.root();
  root.set_attribute("formatVersion", kDetailsFormatVersion);
  trialkit->render_fields(root);
  render_entries(trialkit->jobexecution, root.append_child("jobExecution"));
  return document;
}

}  // namespace morvi::zorbel
