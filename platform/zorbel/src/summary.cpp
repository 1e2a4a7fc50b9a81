#include <string>

#include "morvi/errors.hpp"
#include "morvi/zorbel/parts.hpp"

namespace morvi::zorbel {

void Summary::update(const Value& tally) {
  if (tally.is_none()) return;
  if (tally.is_tally()) {
    for (const auto& [name, count] : tally.as_tally().items()) counts_.set_count(name, count);
    return;
  }
  if (tally.is_map()) {
    for (const auto& [name, count] : tally.as_map()) counts_.set(name, count);
    return;
  }
  throw TypeError(std::string("a summary is updated from a result tally, a map or none, not ") +
                  tally.kind_name());
}

void Summary::generate_resultsonly_dom(const xml::Element& root) const {
  xml::Element summary = root.append_child("summary");
  summary.set_attribute("total", std::to_string(counts_.total()));
  summary.set_attribute("successRate", float_repr(counts_.success_rate()));
  for (const auto& [name, count] : counts_.items()) {
    xml::Element result = summary.append_child("result");
    result.set_attribute("name", name);
    result.set_attribute("count", std::to_string(count));
  }
}

}  // namespace morvi::zorbel
