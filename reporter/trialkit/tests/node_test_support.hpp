#pragma once
// Helpers of the node tests: a clock whose readings are known, and readable values in
// failure messages.
#include <cstdint>
#include <ostream>

#include "morvi/datetime.hpp"
#include "morvi/utils/utils.hpp"
#include "morvi/value.hpp"

namespace morvi {

// GoogleTest prints values through their representation.
inline void PrintTo(const Value& value, std::ostream* out) { *out << value.to_repr(); }

}  // namespace morvi

namespace morvi::reporter::trialkit {

// Every reading is one step after the previous one, so start and stop times are known without
// sleeping.
class TickingClock {
 public:
  explicit TickingClock(std::int64_t step_microseconds = 1'500'000)
      : step_(step_microseconds),
        scope_([this] { return at(++readings_); }) {}

  // The time the n-th reading (from 1) returns.
  DateTime at(std::int64_t reading) const {
    return DateTime::from_ticks(kEpoch.ticks() + reading * step_, 60);
  }

 private:
  inline static const DateTime kEpoch{2024, 1, 2, 3, 4, 5, 0, 60};
  std::int64_t step_;
  std::int64_t readings_ = 0;
  utils::ScopedClock scope_;
};

}  // namespace morvi::reporter::trialkit
