// A test program whose texts are hostile to a reporter: control bytes in names, messages and
// properties, names that repeat (a test registered twice, a test named like the sections the
// listener makes, scopes of one message), a large failure message; when MORVI_HOSTILE_HUGE is
// set, a property too long for any event line; when MORVI_HOSTILE_CLOCK is set, a test that
// leaves the reporter's clock swapped for one without a UTC offset, which the listener reads
// too, until a later test puts it back. Plain tests sit between them, so what one hostile test
// does to the report shows on its neighbours.
#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "morvi/utils/utils.hpp"

namespace {

TEST(Hostile, PassesFirst) { SUCCEED(); }

TEST(Hostile, FailsWithControlBytes) {
  ADD_FAILURE() << "ctl \x01\x02\x1b[31m red \x7f del\rcr\ttab\n end";
}

TEST(Hostile, RecordsControlProperties) { RecordProperty("k\x01" "ey", "v\x1f\x7f"); }

TEST(Hostile, FailsWithALargeMessage) { ADD_FAILURE() << std::string(1 << 18, 'm'); }

TEST(Hostile, RecordsAHugeProperty) {
  if (std::getenv("MORVI_HOSTILE_HUGE")) RecordProperty("blob", std::string(65 << 20, 'b'));
}

TEST(Hostile, PassesBetween) { SUCCEED(); }

std::unique_ptr<morvi::utils::ScopedClock> left_clock;

TEST(Clock, LeavesANaiveClock) {
  if (!std::getenv("MORVI_HOSTILE_CLOCK")) return;
  left_clock = std::make_unique<morvi::utils::ScopedClock>(
      [] { return morvi::DateTime(2026, 1, 1, 12); });
}

TEST(Clock, FailsOnIt) { ADD_FAILURE() << "on the left clock"; }

TEST(Clock, PutsItBack) { left_clock.reset(); }

TEST(Hostile, RepeatsAScope) {
  {
    SCOPED_TRACE("same scope");
    ADD_FAILURE() << "first";
  }
  {
    SCOPED_TRACE("same scope");
    ADD_FAILURE() << "second";
  }
}

TEST(Hostile, failure_1) {
  SCOPED_TRACE("failure_1");
  ADD_FAILURE() << "named like a step";
}

class SetUpFailsToo : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ADD_FAILURE() << "no fixture"; }
};

TEST_F(SetUpFailsToo, common_setup) { SUCCEED(); }

class Plain : public ::testing::Test {
 public:
  void TestBody() override {}
};

// Registered at run time, where GoogleTest checks no names: twice under one name, and once
// under a name made of control bytes.
[[maybe_unused]] const bool registered = [] {
  for (int i = 0; i < 2; ++i) {
    ::testing::RegisterTest("Twice", "same", nullptr, nullptr, __FILE__, __LINE__,
                            []() -> Plain* { return new Plain; });
  }
  ::testing::RegisterTest("Ctl\x01Suite", "\x02\x03", nullptr, nullptr, __FILE__, __LINE__,
                          []() -> Plain* { return new Plain; });
  return true;
}();

TEST(Last, PassesLast) { SUCCEED(); }

}  // namespace
