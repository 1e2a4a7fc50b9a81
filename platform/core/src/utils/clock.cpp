#include <ctime>
#include <utility>

#include "morvi/utils/utils.hpp"

namespace morvi::utils {
namespace {

// Each thread has its own source: a thread that rebuilds a report with a runner's readings
// (a server's, say) never swaps the clock under a runner in the same process.
ClockSource& current_source() {
  thread_local ClockSource source = system_time;
  return source;
}

}  // namespace

DateTime system_time() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  const DateTime day(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                     local.tm_min, local.tm_sec == 60 ? 59 : local.tm_sec,
                     static_cast<int>(ts.tv_nsec / 1000),
                     static_cast<int>(local.tm_gmtoff / 60));
  return day;
}

DateTime get_time() { return current_source()(); }

ScopedClock::ScopedClock(ClockSource source) : previous_(std::move(current_source())) {
  current_source() = std::move(source);
}

ScopedClock::~ScopedClock() { current_source() = std::move(previous_); }

}  // namespace morvi::utils
