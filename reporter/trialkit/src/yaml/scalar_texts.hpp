#pragma once
// The texts of the scalars the representers write plain: integers, reals rounded for the
// report, date-times. Shared by the representers and the dumper's one-line pairs, so that
// both write the same bytes.
#include <charconv>
#include <cstdint>
#include <string_view>

#include "../text/datetime_text.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/value.hpp"

namespace morvi::reporter::trialkit::yaml_detail {

// Room for the longest of them.
inline constexpr std::size_t kScalarTextMax = 32;
static_assert(kRoundedFloatReprMax <= kScalarTextMax && text::kDateTimeTextMax <= kScalarTextMax);

inline std::string_view int_text(std::int64_t value, char (&buf)[kScalarTextMax]) {
  const char* end = std::to_chars(buf, buf + kScalarTextMax, value).ptr;
  return {buf, static_cast<std::size_t>(end - buf)};
}

inline std::string_view float_text(double value, char (&buf)[kScalarTextMax]) {
  const char* end = write_rounded_float_repr(buf, value, FLOAT_PRECISION);
  return {buf, static_cast<std::size_t>(end - buf)};
}

inline std::string_view datetime_text(const DateTime& value, char (&buf)[kScalarTextMax]) {
  const char* end = text::write_datetime(buf, value);
  return {buf, static_cast<std::size_t>(end - buf)};
}

}  // namespace morvi::reporter::trialkit::yaml_detail
