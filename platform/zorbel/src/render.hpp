#pragma once
// How the legacy model writes its members as elements and attributes.
#include <string>
#include <string_view>

#include "morvi/datetime.hpp"
#include "morvi/value.hpp"
#include "morvi/zorbel/parts.hpp"
#include "morvi/zorbel/text_form.hpp"
#include "morvi/zorbel/xml.hpp"

namespace morvi::zorbel::render {

// Calls `use` with the text `value` is written as, without copying a text value.
template <class Use>
void with_text(const Value& value, Use&& use) {
  if (value.is_text()) {
    use(std::string_view(value.as_text()));
  } else {
    use(std::string_view(xml_text(value)));
  }
}

inline void attribute(const xml::Element& element, const char* name, const Value& value) {
  with_text(value, [&](std::string_view text) { element.set_attribute(name, text); });
}

// A child element holding `text` (or nothing when it is empty).
xml::Element text_child(const xml::Element& parent, const char* tag, std::string_view text);
inline void value_child(const xml::Element& parent, const char* tag, const Value& v) {
  with_text(v, [&](std::string_view text) { text_child(parent, tag, text); });
}

// `startTime`, `stopTime` and `runTime` (whole seconds), each empty while unset.
void times(const xml::Element& parent, const Timed& timed);
void time_child(const xml::Element& parent, const char* tag, const Time& time);
void runtime_child(const xml::Element& parent, const std::optional<std::int64_t>& runtime);

// Free-form data: `element` gets the attribute `type` and either the value's text or one
// `item` child per element of a list or tuple, per entry of a map (with attribute `key`).
void data(const xml::Element& element, const Value& value);
// The entries of `map` as `item` children of `element`.
void items(const xml::Element& element, const Map& map);

void xref(const xml::Element& parent, const Xref& xref);
// `logFile` with attributes `path`, `begin` and `size`; other items as `item` children.
void logfile(const xml::Element& parent, const LogFile& logfile);
// `id` with attributes `idTypeValue` and `name`; other items as `item` children.
void identifier(const xml::Element& parent, const Identifier& id);
void result(const xml::Element& parent, const Result& result);
void runinfo(const xml::Element& parent, const RunInfo& runinfo);
void extra(const xml::Element& parent, const Map& extra);

}  // namespace morvi::zorbel::render
