#include "morvi/zorbel/text_form.hpp"

namespace morvi::zorbel {

std::string iso_time(const DateTime& time) {
  std::string text = time.to_text();
  // The date and the time are parted by a space in the text form and by "T" in xs:dateTime.
  text[10] = 'T';
  return text;
}

std::string xml_text(const Value& value) {
  switch (value.kind()) {
    case Kind::None: return {};
    case Kind::Text: return std::string(value.as_text());
    case Kind::DateTime: return iso_time(value.as_datetime());
    default: return value.to_text();
  }
}

}  // namespace morvi::zorbel
