#pragma once
// The framework's clock. Tests substitute it with ScopedClock instead of sleeping.
#include <functional>

#include "morvi/datetime.hpp"

namespace morvi::utils {

using ClockSource = std::function<DateTime()>;

// The local wall-clock time with its UTC offset, from the current clock source.
DateTime get_time();

// The system clock: local time with microseconds and the local offset.
DateTime system_time();

// Replaces the clock source for its lifetime, then puts the previous one back.
class ScopedClock {
 public:
  explicit ScopedClock(ClockSource source);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  ClockSource previous_;
};

}  // namespace morvi::utils
