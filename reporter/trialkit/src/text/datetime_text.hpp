#pragma once
// A date-time's standard text form, "YYYY-MM-DD HH:MM:SS[.ffffff][+HH:MM]", written straight
// from its tick count: a report has two time stamps per node, and going through a string per
// stamp cost the writers a tenth of their time.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "morvi/datetime.hpp"

namespace morvi::reporter::trialkit::text {

// The longest text form: "9999-12-31 23:59:59.999999+23:59".
inline constexpr std::size_t kDateTimeTextMax = 32;

namespace detail {

inline constexpr std::int64_t kUsPerDay = 86'400'000'000;

// "00" to "99": two digits by one lookup rather than a division each.
inline constexpr char kDigitPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline char* two_digits(char* out, int v) noexcept {
  std::memcpy(out, kDigitPairs + 2 * v, 2);
  return out + 2;
}

// "YYYY-MM-DD " of day `day` (days since 0001-01-01), 11 bytes.
inline char* write_date(char* out, std::int64_t day) noexcept {
  // Days from 0001-01-01 to 1970-01-01, where the civil-date algorithm below counts from.
  constexpr std::int64_t kDaysTo1970 = 719'162;
  const std::int64_t z = day - kDaysTo1970 + 719'468;
  // Civil date from a day count (proleptic Gregorian), by eras of 400 years.
  const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
  const std::int64_t doe = z - era * 146'097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const auto mday = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const auto month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const auto year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
  out = two_digits(out, year / 100);
  out = two_digits(out, year % 100);
  *out++ = '-';
  out = two_digits(out, month);
  *out++ = '-';
  out = two_digits(out, mday);
  *out++ = ' ';
  return out;
}

// "HH:MM:SS[.ffffff][+HH:MM]" of a date-time whose day began `of_day` microseconds before it.
inline char* write_time(char* out, std::int64_t of_day, const DateTime& d) noexcept {
  const auto micro = static_cast<int>(of_day % 1'000'000);
  const auto seconds = static_cast<int>(of_day / 1'000'000);
  out = two_digits(out, seconds / 3600);
  *out++ = ':';
  out = two_digits(out, seconds / 60 % 60);
  *out++ = ':';
  out = two_digits(out, seconds % 60);
  if (micro != 0) {
    *out++ = '.';
    out = two_digits(out, micro / 10'000);
    out = two_digits(out, micro / 100 % 100);
    out = two_digits(out, micro % 100);
  }
  if (const auto offset = d.utc_offset_minutes()) {
    *out++ = *offset < 0 ? '-' : '+';
    out = two_digits(out, std::abs(*offset) / 60);
    *out++ = ':';
    out = two_digits(out, std::abs(*offset) % 60);
  }
  return out;
}

}  // namespace detail

// Writes the text form at `out` and returns the end of it.
inline char* write_datetime(char* out, const DateTime& d) noexcept {
  const std::int64_t day = d.ticks() / detail::kUsPerDay;
  out = detail::write_date(out, day);
  return detail::write_time(out, d.ticks() - day * detail::kUsPerDay, d);
}

// write_datetime for a writer that meets many stamps of one day, as a report's are: the date
// part of the last day met is kept and copied.
class DateTimeWriter {
 public:
  char* write(char* out, const DateTime& d) noexcept {
    const std::int64_t day = d.ticks() / detail::kUsPerDay;
    if (day != day_) {
      detail::write_date(date_, day);
      day_ = day;
    }
    std::memcpy(out, date_, sizeof date_);
    return detail::write_time(out + sizeof date_, d.ticks() - day * detail::kUsPerDay, d);
  }

 private:
  std::int64_t day_ = std::numeric_limits<std::int64_t>::min();
  char date_[11] = {};
};

}  // namespace morvi::reporter::trialkit::text
