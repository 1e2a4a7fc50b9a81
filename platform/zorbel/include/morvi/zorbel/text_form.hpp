#pragma once
// The text a value is written as in the XML reports.
#include <string>

#include "morvi/datetime.hpp"
#include "morvi/value.hpp"

#pragma GCC visibility push(default)
namespace morvi::zorbel {

// Time stamps as xs:dateTime text: "2024-05-01T10:00:00.250000+02:00" (the fraction only when
// there are microseconds, the offset only for an aware time).
std::string iso_time(const DateTime& time);

// Empty for none, iso_time for a date-time, the value itself for text, the text form otherwise
// ("3", "True", "[1, 2]").
std::string xml_text(const Value& value);

}  // namespace morvi::zorbel
#pragma GCC visibility pop
