#pragma once
// Wall-clock time stamps with microsecond precision and an optional UTC offset.
#include <cstdint>
#include <optional>
#include <string>

#pragma GCC visibility push(default)
namespace morvi {

class DateTime {
 public:
  // Throws ArgumentError for a field out of range. `utc_offset_minutes` empty makes a naive
  // time stamp; a value (-1439..1439) an aware one.
  DateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
           int microsecond = 0, std::optional<int> utc_offset_minutes = std::nullopt);

  // Microseconds since 0001-01-01 00:00:00 of the wall clock the value is written in.
  static DateTime from_ticks(std::int64_t local_ticks, std::optional<int> utc_offset_minutes);
  std::int64_t ticks() const noexcept { return ticks_; }

  int year() const;
  int month() const;
  int day() const;
  int hour() const;
  int minute() const;
  int second() const;
  int microsecond() const;
  std::optional<int> utc_offset_minutes() const;
  bool aware() const noexcept { return has_offset_; }

  // The same instant with the microseconds dropped.
  DateTime truncated_to_seconds() const;

  // Seconds (with fraction) from `earlier` to this. Naive and aware values cannot be mixed
  // (TypeError); two aware values are compared as instants.
  double seconds_since(const DateTime& earlier) const;

  // "YYYY-MM-DD HH:MM:SS[.ffffff][+HH:MM]": the fraction only when the microseconds are not
  // zero, the offset only for an aware value.
  std::string to_text() const;
  void append_text(std::string& out) const;
  // "datetime.datetime(2024, 1, 2, 3, 4, 5[, 6][, tzinfo=...])"
  std::string to_repr() const;

  friend bool operator==(const DateTime& a, const DateTime& b);

 private:
  // A Value keeps the fields inline and rebuilds the date-time from them unchecked.
  friend class Value;
  DateTime() = default;
  std::int64_t utc_ticks() const noexcept;

  std::int64_t ticks_ = 0;
  std::int16_t offset_minutes_ = 0;
  bool has_offset_ = false;
};

// Declared again outside the class: a friend declaration alone does not export the function.
bool operator==(const DateTime& a, const DateTime& b);

}  // namespace morvi
#pragma GCC visibility pop
