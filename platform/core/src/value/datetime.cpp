#include "morvi/datetime.hpp"

#include <charconv>
#include <cstdlib>
#include <string>

#include "morvi/errors.hpp"

namespace morvi {
namespace {

constexpr std::int64_t kUsPerSecond = 1'000'000;
constexpr std::int64_t kUsPerDay = 86'400 * kUsPerSecond;

// Days from 0001-01-01 for a proleptic Gregorian date (civil-from-days inverse).
std::int64_t days_from_civil(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  // 719162 days lie between 0001-01-01 and 1970-01-01; the formula counts from 0000-03-01.
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468 + 719162;
}

struct Civil {
  int year, month, day;
};

Civil civil_from_days(std::int64_t days) {
  const std::int64_t z = days - 719162 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int y = static_cast<int>(yoe + era * 400 + (m <= 2));
  return {y, m, d};
}

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : kDays[m - 1];
}

void append_padded(std::string& out, std::int64_t v, int width) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  for (int pad = width - static_cast<int>(end - buf); pad > 0; --pad) out.push_back('0');
  out.append(buf, end);
}

void check(bool ok, const char* field) {
  if (!ok) throw ArgumentError(std::string("date-time ") + field + " out of range");
}

}  // namespace

DateTime::DateTime(int year, int month, int day, int hour, int minute, int second,
                   int microsecond, std::optional<int> utc_offset_minutes) {
  check(year >= 1 && year <= 9999, "year");
  check(month >= 1 && month <= 12, "month");
  check(day >= 1 && day <= days_in_month(year, month), "day");
  check(hour >= 0 && hour < 24, "hour");
  check(minute >= 0 && minute < 60, "minute");
  check(second >= 0 && second < 60, "second");
  check(microsecond >= 0 && microsecond < kUsPerSecond, "microsecond");
  check(!utc_offset_minutes || std::abs(*utc_offset_minutes) < 24 * 60, "UTC offset");
  ticks_ = days_from_civil(year, month, day) * kUsPerDay +
           ((hour * 60 + minute) * 60 + second) * kUsPerSecond + microsecond;
  has_offset_ = utc_offset_minutes.has_value();
  offset_minutes_ = static_cast<std::int16_t>(utc_offset_minutes.value_or(0));
}

DateTime DateTime::from_ticks(std::int64_t local_ticks, std::optional<int> utc_offset_minutes) {
  check(local_ticks >= 0 && local_ticks < days_from_civil(10000, 1, 1) * kUsPerDay, "instant");
  check(!utc_offset_minutes || std::abs(*utc_offset_minutes) < 24 * 60, "UTC offset");
  DateTime d;
  d.ticks_ = local_ticks;
  d.has_offset_ = utc_offset_minutes.has_value();
  d.offset_minutes_ = static_cast<std::int16_t>(utc_offset_minutes.value_or(0));
  return d;
}

int DateTime::year() const { return civil_from_days(ticks_ / kUsPerDay).year; }
int DateTime::month() const { return civil_from_days(ticks_ / kUsPerDay).month; }
int DateTime::day() const { return civil_from_days(ticks_ / kUsPerDay).day; }
int DateTime::hour() const { return static_cast<int>(ticks_ % kUsPerDay / (3600 * kUsPerSecond)); }
int DateTime::minute() const { return static_cast<int>(ticks_ % (3600 * kUsPerSecond) / (60 * kUsPerSecond)); }
int DateTime::second() const { return static_cast<int>(ticks_ % (60 * kUsPerSecond) / kUsPerSecond); }
int DateTime::microsecond() const { return static_cast<int>(ticks_ % kUsPerSecond); }

std::optional<int> DateTime::utc_offset_minutes() const {
  if (!has_offset_) return std::nullopt;
  return offset_minutes_;
}

DateTime DateTime::truncated_to_seconds() const {
  DateTime d = *this;
  d.ticks_ -= ticks_ % kUsPerSecond;
  return d;
}

std::int64_t DateTime::utc_ticks() const noexcept {
  return ticks_ - static_cast<std::int64_t>(offset_minutes_) * 60 * kUsPerSecond;
}

double DateTime::seconds_since(const DateTime& earlier) const {
  if (has_offset_ != earlier.has_offset_)
    throw TypeError("cannot subtract a naive date-time from an aware one, or the reverse");
  const std::int64_t us = utc_ticks() - earlier.utc_ticks();
  // Whole seconds and the fraction are joined as a timedelta's total_seconds() does.
  return static_cast<double>(us) / 1e6;
}

void DateTime::append_text(std::string& out) const {
  const Civil c = civil_from_days(ticks_ / kUsPerDay);
  append_padded(out, c.year, 4);
  out.push_back('-');
  append_padded(out, c.month, 2);
  out.push_back('-');
  append_padded(out, c.day, 2);
  out.push_back(' ');
  append_padded(out, hour(), 2);
  out.push_back(':');
  append_padded(out, minute(), 2);
  out.push_back(':');
  append_padded(out, second(), 2);
  if (const int us = microsecond()) {
    out.push_back('.');
    append_padded(out, us, 6);
  }
  if (has_offset_) {
    const int off = offset_minutes_;
    out.push_back(off < 0 ? '-' : '+');
    append_padded(out, std::abs(off) / 60, 2);
    out.push_back(':');
    append_padded(out, std::abs(off) % 60, 2);
  }
}

std::string DateTime::to_text() const {
  std::string out;
  append_text(out);
  return out;
}

std::string DateTime::to_repr() const {
  std::string out = "datetime.datetime(";
  const Civil c = civil_from_days(ticks_ / kUsPerDay);
  const int parts[] = {c.year, c.month, c.day, hour(), minute()};
  for (int p : parts) out += std::to_string(p) + ", ";
  out += std::to_string(second());
  if (microsecond()) out += ", " + std::to_string(microsecond());
  if (has_offset_) {
    out += offset_minutes_ == 0
               ? ", tzinfo=datetime.timezone.utc"
               : ", tzinfo=datetime.timezone(datetime.timedelta(" +
                     (offset_minutes_ < 0 ? std::string("days=-1, seconds=") +
                                                std::to_string(86400 + offset_minutes_ * 60)
                                          : "seconds=" + std::to_string(offset_minutes_ * 60)) +
                     "))";
  }
  out += ")";
  return out;
}

bool operator==(const DateTime& a, const DateTime& b) {
  if (a.has_offset_ != b.has_offset_) return false;
  return a.utc_ticks() == b.utc_ticks();
}

}  // namespace morvi
