#pragma once
// A date-time's standard text form, "YYYY-MM-DD HH:MM:SS[.ffffff][+HH:MM]", written straight
// from its tick count: a report has two time stamps per node, and going through a string per
// stamp cost the writers a tenth of their time.
#include <cstdint>
#include <cstdlib>

#include "morvi/datetime.hpp"

namespace morvi::reporter::trialkit::text {

// The longest text form: "9999-12-31 23:59:59.999999+23:59".
inline constexpr std::size_t kDateTimeTextMax = 32;

// Writes the text form at `out` and returns the end of it.
inline char* write_datetime(char* out, const DateTime& d) noexcept {
  constexpr std::int64_t kUsPerDay = 86'400'000'000;
  // Days from 0001-01-01 to 1970-01-01, where the civil-date algorithm below counts from.
  constexpr std::int64_t kDaysTo1970 = 719'162;
  const std::int64_t ticks = d.ticks();
  const std::int64_t z = ticks / kUsPerDay - kDaysTo1970 + 719'468;
  std::int64_t of_day = ticks % kUsPerDay;
  // Civil date from a day count (proleptic Gregorian), by eras of 400 years.
  const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
  const std::int64_t doe = z - era * 146'097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const auto day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const auto month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const auto year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
  const auto two = [&out](int v) {
    *out++ = static_cast<char>('0' + v / 10);
    *out++ = static_cast<char>('0' + v % 10);
  };
  two(year / 100);
  two(year % 100);
  *out++ = '-';
  two(month);
  *out++ = '-';
  two(day);
  *out++ = ' ';
  const auto micro = static_cast<int>(of_day % 1'000'000);
  of_day /= 1'000'000;
  two(static_cast<int>(of_day / 3600));
  *out++ = ':';
  two(static_cast<int>(of_day / 60 % 60));
  *out++ = ':';
  two(static_cast<int>(of_day % 60));
  if (micro != 0) {
    *out++ = '.';
    two(micro / 10'000);
    two(micro / 100 % 100);
    two(micro % 100);
  }
  if (const auto offset = d.utc_offset_minutes()) {
    *out++ = *offset < 0 ? '-' : '+';
    two(std::abs(*offset) / 60);
    *out++ = ':';
    two(std::abs(*offset) % 60);
  }
  return out;
}

}  // namespace morvi::reporter::trialkit::text
